#include "auxwin/TF_DYKT.h"
#include "checker/TestApp.h"
#include "core/MainSettings.h"
#include "core/TempDir.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <optional>

namespace tarn {
namespace {

const std::string kHome = "http://home.test/";

class TF_DYKTTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        test::writeFile(dir.file("dykt.ini"),
                        "[DYKT_DATA]\r\nCount=3\r\n1=Tip one\r\n2=Tip two\r\n3=Gr\xFC\xDF"
                        "e\r\n");
    }

    std::unique_ptr<TF_DYKT> create(const std::string& file = "dykt.ini") {
        auto w = std::make_unique<TF_DYKT>(settings, dir.file(file), kHome);
        w->setStartupChoiceHandler([this](bool on) { told = on; });
        return w;
    }
    static QString text(TF_DYKT& w) {
        return w.findChild<QPlainTextEdit*>(QStringLiteral("mDYKT"))->toPlainText();
    }
    template <class T> static T* child(TF_DYKT& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }

    test::TempDir dir;
    MainSettings settings;
    std::optional<bool> told;
};

TEST_F(TF_DYKTTest, ShownAtStartAndCyclingThroughTheTips) {
    settings.DYKTStartup = true;
    auto w = create();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Tarnwick Tips"));
    EXPECT_EQ(w->size(), QSize(235, 216));
    EXPECT_EQ(w->x(), 10);
    EXPECT_TRUE(w->windowFlags() & Qt::Tool);
    // Opened by the program, not by the user: it must not take the keyboard.
    EXPECT_TRUE(w->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(child<QLabel>(*w, "Label1")->buddy(), child<QPlainTextEdit>(*w, "mDYKT"));
    EXPECT_EQ(child<QPlainTextEdit>(*w, "mDYKT")->size(), QSize(209, 121));
    EXPECT_EQ(child<QCheckBox>(*w, "cbShowAgain")->text(),
              QStringLiteral("Show this window at startup"));
    EXPECT_TRUE(child<QCheckBox>(*w, "cbShowAgain")->isChecked());
    EXPECT_EQ(child<QPushButton>(*w, "bClose")->text(), QStringLiteral("Close"));

    EXPECT_EQ(text(*w), QStringLiteral("\nTip one"));
    QPushButton* next = child<QPushButton>(*w, "bNext");
    ASSERT_EQ(next->text(), QStringLiteral("Next Tip"));
    QStringList seen;
    for (int i = 0; i < 4; ++i) {
        next->click();
        seen << text(*w);
    }
    // Latin-1 bytes in the file show as their characters.
    EXPECT_EQ(seen, (QStringList{QStringLiteral("\nTip two"), QStringLiteral(u"\nGr\u00FC\u00DFe"),
                                 QStringLiteral("\nTip one"), QStringLiteral("\nTip two")}));
}

TEST_F(TF_DYKTTest, HiddenAtStartAndContinuingAfterHiding) {
    settings.DYKTStartup = false;
    auto w = create();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->tipNumber(), 0);
    w->show(); // the mail list's "Tips..."
    EXPECT_FALSE(child<QCheckBox>(*w, "cbShowAgain")->isChecked());
    child<QPushButton>(*w, "bNext")->click();
    EXPECT_EQ(text(*w), QStringLiteral("\nTip two"));
    child<QPushButton>(*w, "bClose")->click();
    EXPECT_FALSE(w->isVisible());
    w->show();
    EXPECT_EQ(text(*w), QStringLiteral(u"\nGr\u00FC\u00DFe"));
}

TEST_F(TF_DYKTTest, NoTipsFileShowsTheDefaultText) {
    settings.DYKTStartup = true;
    auto w = create("missing.ini");
    const QString def = QStringLiteral(
        "\nhttp://home.test/ will give you all the additional information you need about Tarnwick");
    EXPECT_EQ(text(*w), def);
    child<QPushButton>(*w, "bNext")->click();
    EXPECT_EQ(text(*w), def);
}

// The box's state reaches the setting and the preferences when the window closes, by its
// button or by the frame's close box, and decides whether the next start shows the window.
TEST_F(TF_DYKTTest, StartupChoiceTakesEffectOnClose) {
    settings.DYKTStartup = true;
    auto w = create();
    auto* box = child<QCheckBox>(*w, "cbShowAgain");
    box->click();
    EXPECT_TRUE(settings.DYKTStartup) << "taken over only when the window closes";
    EXPECT_FALSE(told.has_value());
    child<QPushButton>(*w, "bClose")->click();
    EXPECT_FALSE(settings.DYKTStartup);
    EXPECT_EQ(told, std::optional<bool>(false));
    EXPECT_FALSE(create()->isVisible());

    w->show();
    EXPECT_FALSE(box->isChecked());
    box->click();
    w->close(); // the frame's close box
    EXPECT_TRUE(settings.DYKTStartup);
    EXPECT_EQ(told, std::optional<bool>(true));
}

} // namespace
} // namespace tarn
