#include "PrefsFixture.h"

#include <QRadioButton>

#include <functional>

namespace tarn {
namespace {

class RecheckAfterOkTest : public test::PrefsFixture {
public:
    // For the edits of the case table.
    using PrefsFixture::setText;
    using PrefsFixture::w;

protected:
    void ok() const { w<QPushButton>("SaveButton")->click(); }
};

TEST_F(RecheckAfterOkTest, OkChecksTheAccountsWhoseConnectionChanged) {
    struct Case {
        const char* what;
        std::function<void(RecheckAfterOkTest&)> edit; // on account 2's page
        std::vector<int> checked;
    };
    const Case cases[] = {
        {"nothing", [](RecheckAfterOkTest&) {}, {}},
        {"name", [](RecheckAfterOkTest& t) { t.setText("LabeledEdit1", "Work"); }, {}},
        {"frequency", [](RecheckAfterOkTest& t) { t.setText("Edit29", "9"); }, {}},
        {"server", [](RecheckAfterOkTest& t) { t.setText("Edit26", "mail.example.org"); }, {2}},
        {"port", [](RecheckAfterOkTest& t) { t.setText("Edit26", "127.0.0.1:2"); }, {2}},
        {"user", [](RecheckAfterOkTest& t) { t.setText("Edit27", "ann"); }, {2}},
        {"password", [](RecheckAfterOkTest& t) { t.setText("Edit30", "pw"); }, {2}},
        {"type",
         [](RecheckAfterOkTest& t) { t.w<QRadioButton>("rgServerTypeIMAP4")->setChecked(true); },
         {2}},
        {"security",
         [](RecheckAfterOkTest& t) { t.w<QComboBox>("cbSecurity")->setCurrentIndex(2); },
         {2}},
        {"pin", [](RecheckAfterOkTest& t) { t.setText("EditTLSFingerprint", "ab:cd"); }, {2}},
        {"new account",
         [](RecheckAfterOkTest& t) {
             t.w<QPushButton>("NewButton1")->click();
             t.setText("Edit26", "new.example.org");
         },
         {4}},
        {"new account without server",
         [](RecheckAfterOkTest& t) { t.w<QPushButton>("NewButton1")->click(); },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        make(3);
        // The fake starter never ends a check: the last case's account is still busy.
        for (int a = 1; a <= 3; ++a)
            session.runtime()[a].Busy = false;
        prefs->openPreferences();
        prefs->selectNode(2);
        c.edit(*this);
        started.clear();
        ok();
        ASSERT_FALSE(prefs->isVisible()) << prefs->lastDiscardedError();
        EXPECT_EQ(started, c.checked);

        // The next OK compares with what this one confirmed.
        started.clear();
        prefs->openPreferences();
        ok();
        EXPECT_TRUE(started.empty());
    }
}

TEST_F(RecheckAfterOkTest, OfflineNothingIsCheckedAndAChangeMadeBeforeACancelStillCounts) {
    make(2);
    session.settings().Main.CheckAllWhenGoingOnline = false;
    window->scheduler().online1xClick();
    ASSERT_FALSE(session.Online);
    prefs->openPreferences();
    prefs->selectNode(1);
    setText("Edit26", "a.example.org");
    ok();
    EXPECT_TRUE(started.empty());

    window->scheduler().online1xClick();
    ASSERT_TRUE(session.Online);
    // Stored by leaving the page, then cancelled: the next OK still checks it.
    prefs->openPreferences();
    prefs->selectNode(2);
    setText("Edit26", "b.example.org");
    prefs->selectNode(0);
    w<QPushButton>("Button11")->click();
    EXPECT_TRUE(started.empty());
    prefs->openPreferences();
    started.clear();
    ok();
    EXPECT_EQ(started, std::vector<int>{2});
}

TEST_F(RecheckAfterOkTest, AccountsMovedUpByADeletionAreNotTakenForChanged) {
    make(3);
    prefs->openPreferences();
    prefs->selectNode(1);
    w<QPushButton>("Deletebutton")->click();
    ASSERT_EQ(session.settings().accountCount(), 2);
    prefs->selectNode(2); // old account 3, now 2
    setText("Edit27", "zed");
    started.clear();
    ok();
    EXPECT_EQ(started, std::vector<int>{2});
}

} // namespace
} // namespace tarn
