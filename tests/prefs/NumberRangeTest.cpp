#include "PrefsFixture.h"

#include "core/NumberRanges.h"

#include <QSlider>
#include <QTest>

namespace tarn {
namespace {

class NumberRangeTest : public test::PrefsFixture {
protected:
    void ok() const { w<QPushButton>("SaveButton")->click(); }
};

TEST_F(NumberRangeTest, OkRefusesANumberOutsideItsRangeOnTheFieldsPage) {
    struct Case {
        const char* field;
        const char* typed;
        const NumberRange* range;
        const char* page;     // where OK leaves the dialog; null: accepted
        long long storedBack; // when accepted
    };
    const Case cases[] = {
        {"Edit29", "0", &kCheckFrequencyRange, "Account Configuration", 0},
        {"Edit29", "-5", &kCheckFrequencyRange, "Account Configuration", 0},
        {"Edit29", "1441", &kCheckFrequencyRange, "Account Configuration", 0},
        {"Edit29", "1", &kCheckFrequencyRange, nullptr, 60000},
        {"Edit29", "1440", &kCheckFrequencyRange, nullptr, 86400000},
        {"MaxDlEdit", "-5", &kDownloadLimitRange, "General Preferences", 0},
        {"MaxDlEdit", "0", &kDownloadLimitRange, "General Preferences", 0},
        {"MaxDlEdit", "1048577", &kDownloadLimitRange, "General Preferences", 0},
        {"MaxDlEdit", "1", &kDownloadLimitRange, nullptr, 1},
        {"lMaxMailCount", "-1", &kRepeatCountRange, "Sound Settings", 0},
        {"lMaxMailCount", "101", &kRepeatCountRange, "Sound Settings", 0},
        {"lMaxMailCount", "100", &kRepeatCountRange, nullptr, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.typed);
        std::filesystem::remove(dir.file("tarn.ini"));
        session.settings().Main.MaxDownloadSize = MainSettings{}.MaxDownloadSize;
        session.settings().Main.MAXMailCount = MainSettings{}.MAXMailCount;
        make(2);
        prefs->openPreferences();
        prefs->selectNode(2); // the page holds account 2
        prefs->selectNode(0); // and OK is pressed elsewhere
        errors.clear();
        setText(c.field, c.typed);
        ok();
        if (c.page) {
            EXPECT_TRUE(prefs->isVisible());
            EXPECT_FALSE(iniExists());
            EXPECT_EQ(errors, std::vector<std::string>{rangeMessage(*c.range)});
            EXPECT_NE(errors.front().find(c.range->field), std::string::npos);
            EXPECT_NE(errors.front().find(std::to_string(c.range->max)), std::string::npos);
            EXPECT_EQ(prefs->currentPage()->caption(), c.page);
            EXPECT_EQ(session.settings().account(2).Timer, 300000);
            EXPECT_EQ(session.settings().Main.MaxDownloadSize, MainSettings{}.MaxDownloadSize);
            if (std::string(c.field) == "Edit29") {
                EXPECT_EQ(prefs->selectedNode(), 2);
            }
        } else {
            EXPECT_FALSE(prefs->isVisible());
            EXPECT_TRUE(errors.empty());
            const Settings& s = session.settings();
            const long long stored = std::string(c.field) == "Edit29"      ? s.account(2).Timer
                                     : std::string(c.field) == "MaxDlEdit" ? s.Main.MaxDownloadSize
                                                                           : s.Main.MAXMailCount;
            EXPECT_EQ(stored, c.storedBack);
        }
    }
}

TEST_F(NumberRangeTest, FieldsTakeOnlyDigitsOfTheirRangeAsTyped) {
    struct Case {
        const char* field;
        const char* keys;
        const char* shown;
    };
    const Case cases[] = {
        {"Edit29", "-5x", "5"},       {"Edit29", "abc", ""},
        {"MaxDlEdit", "-12kB", "12"}, {"MaxDlEdit", "99999999", "9999999"},
        {"lMaxMailCount", "-3", "3"}, {"lMaxMailCount", "1000", "100"},
    };
    make(1);
    prefs->openPreferences();
    prefs->selectNode(1);
    for (const Case& c : cases) {
        QLineEdit* field = w<QLineEdit>(c.field);
        field->clear();
        QTest::keyClicks(field, QString::fromLatin1(c.keys));
        EXPECT_EQ(field->text(), c.shown) << c.field << " " << c.keys;
    }
}

TEST_F(NumberRangeTest, StoredValuesOutOfRangeAreShownClampedAndToldOnce) {
    make(2);
    Settings& s = session.settings();
    s.account(2).Timer = 5000;
    s.Main.MaxDownloadSize = -5;
    s.Main.MAXMailCount = -1;
    s.Main.CheckerHeight = 200;
    prefs->openPreferences();
    ASSERT_EQ(notices.size(), 1u);
    const std::string& notice = notices.front();
    for (const char* part :
         {"A2: \"Automatically check for new mails every\" 5 seconds -> 1 minutes",
          "\"Do not retrieve messages that are bigger than\" -5 -> 1",
          "\"Maximum repeats of MailCount soundfile\" -1 -> 0",
          "\"Height of your checker fields\" 200 -> 50"})
        EXPECT_NE(notice.find(part), std::string::npos) << part << "\n" << notice;
    EXPECT_EQ(notice.find("A1"), std::string::npos) << "account 1 is within its range";
    EXPECT_EQ(text("MaxDlEdit"), "1");
    EXPECT_EQ(text("lMaxMailCount"), "0");
    EXPECT_EQ(w<QSlider>("TrackBar2")->value(), 50);
    prefs->selectNode(2);
    EXPECT_EQ(text("Edit29"), "1");

    // Told once: opening again says nothing more; a new stray value is told.
    prefs->close();
    prefs->openPreferences();
    EXPECT_EQ(notices.size(), 1u);
    prefs->close();
    s.Main.Jumpback = 0;
    prefs->openPreferences();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices.back().find("Float back interval"), std::string::npos);
    EXPECT_EQ(notices.back().find("Height"), std::string::npos);

    // OK stores what the dialog shows.
    ok();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(s.Main.MaxDownloadSize, 1);
    EXPECT_EQ(s.Main.MAXMailCount, 0);
    EXPECT_EQ(s.account(2).Timer, 60000);
}

} // namespace
} // namespace tarn
