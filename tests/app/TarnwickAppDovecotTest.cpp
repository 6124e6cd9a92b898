#include "AppTestSupport.h"
#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"
#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "core/IniFile.h"
#include "core/NewMailSounds.h"
#include "core/PasswordScrambling.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"
#include "integration/fixture/DovecotFixture.h"
#include "platform/PowerOff.h"
#include "prefs/TF_Prefs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarn {
namespace {

using namespace std::chrono_literals;

TarnApplication& guiApp() {
    return test::tarnApp();
}

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

using test::NoPowerOff;

using RecordingPlayer = test::RecordingSoundPlayer;

std::string message(const std::string& from, int n) {
    return "From: " + from + "\nTo: someone@example.org\nSubject: note " + std::to_string(n) +
           "\nDate: Tue, 04 Jun 2024 10:0" + std::to_string(n % 10) + ":00 +0200\nMessage-ID: <" +
           from + std::to_string(n) + ">\n\nline " + std::to_string(n) + "\n";
}

std::string account(int n, const std::string& name, const std::string& user, int port) {
    return "[" + std::to_string(n) + "]\nName=" + name +
           "\nMailServerType=0\nHost=127.0.0.1:" + std::to_string(port) + "\nUserID=" + user +
           "\nPassword=" + storedPasswordText("secret") +
           "\nSavePwd=1\nActive=1\nShow=1\nSound=1\nTimer=600000\n";
}

// The whole program in this process, with its own timers, against a real POP3 server: the
// first ticks check both accounts, the fields and the tray show the counts, and what was
// found is still there at the next start.
TEST(TarnwickAppDovecot, FirstChecksOfTwoPop3AccountsShowTheirCounts) {
    TARN_REQUIRE_DOVECOT();
    guiApp();
    test::DovecotFixture dovecot;
    dovecot.addUser("alice", "secret");
    dovecot.addUser("bob", "secret");
    for (int i = 1; i <= 3; ++i)
        dovecot.addMessage("alice", message("carol@example.org", i));
    dovecot.addMessage("bob", message("dave@example.org", 1));

    test::TempDir dir;
    test::writeFile(dir.file("tarn.ini"),
                    "[Main]\nReleaseNr=19\nECount=2\non/offline=on\nkeepMailDB=1\n"
                    "SoundItemIndex=1\n" +
                        account(1, "Alice", "alice", dovecot.pop3Port()) +
                        account(2, "Bob", "bob", dovecot.pop3Port()));
    NoPowerOff powerOff;
    RecordingPlayer player;
    const std::string locks = test::uniqueLockSuffix();
    auto start = [&] {
        StartOptions o;
        o.currentFolder = dir.path().string();
        o.powerOff = &powerOff;
        o.lockSuffix = locks;
        o.soundPlayer = &player;
        auto a = std::make_unique<TarnwickApp>(std::move(o));
        a->start();
        return a;
    };

    auto a = start();
    TF_CheckerWindow& w = a->window();
    ASSERT_TRUE(a->session().Online);
    // Nothing is known before the first tick.
    EXPECT_TRUE(w.EShowVar(1)->text().isEmpty());
    EXPECT_TRUE(w.EShowVar(2)->text().isEmpty());

    // The hints carry the time of the check: some minute between now and the end of the wait.
    const std::string checksFrom = w.timeOfDay();
    const bool settled = runUntil(
        [&] {
            return w.EShowVar(1)->text() == "3" && w.EShowVar(2)->text() == "1" &&
                   a->session().runningWorkers() == 0 &&
                   !w.scheduler().activityTimer().isActive() && player.files().size() == 2;
        },
        30s);
    ASSERT_TRUE(settled) << "fields: '" << w.EShowVar(1)->text().toStdString() << "' '"
                         << w.EShowVar(2)->text().toStdString() << "'\n"
                         << dovecot.log();
    const std::string checksUntil = w.timeOfDay();
    const Settings& s = a->session().settings();
    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(w.EShowVar(n)->color(), s.account(n).ActiveColor);
        const std::string hint = w.EShowVar(n)->toolTip().toStdString();
        const std::string prefix = s.account(n).Name + " ";
        ASSERT_EQ(hint.substr(0, prefix.size()), prefix);
        const std::string time = hint.substr(prefix.size());
        EXPECT_EQ(time.size(), 5u) << hint;
        const bool inWait = checksFrom <= checksUntil
                                ? checksFrom <= time && time <= checksUntil
                                : checksFrom <= time || time <= checksUntil; // past midnight
        EXPECT_TRUE(inWait) << hint << " not within " << checksFrom << " to " << checksUntil;
        EXPECT_EQ(a->session().runtime()[n].ShownCount, n == 1 ? 3 : 1);
    }
    EXPECT_EQ(w.trayHint(), "You have 4 new Mails");
    EXPECT_EQ(w.trayImage(), 1);
    // One incoming sound for each account that found new mail.
    EXPECT_EQ(player.files(), std::vector<std::string>(2, s.Main.IncomingSound));
    // The checks leave the mailboxes as they were.
    EXPECT_EQ(dovecot.countMessages("alice"), 3);
    EXPECT_EQ(dovecot.countMessages("bob"), 1);

    a->exitProcedure();
    a.reset();
    ASSERT_TRUE(std::filesystem::exists(dir.file("MailDB.tdb")));

    // The next start shows the saved counts before any check.
    auto b = start();
    EXPECT_EQ(b->window().EShowVar(1)->text(), "3");
    EXPECT_EQ(b->window().EShowVar(2)->text(), "1");
    b->exitProcedure();
}

// A new user in an empty folder: the dialog opens on the first account, the server, user
// name and password go in, OK writes them, and closing the dialog goes online, whose check of
// the account finds the mailbox.
TEST(TarnwickAppDovecot, FirstStartSetUpThroughThePreferencesChecksTheNewAccount) {
    TARN_REQUIRE_DOVECOT();
    guiApp();
    test::DovecotFixture dovecot;
    dovecot.addUser("erin", "pw erin");
    dovecot.addMessage("erin", message("frank@example.org", 1));
    dovecot.addMessage("erin", message("frank@example.org", 2));

    test::TempDir dir;
    NoPowerOff powerOff;
    RecordingPlayer player;
    StartOptions o;
    o.currentFolder = dir.path().string();
    o.powerOff = &powerOff;
    o.lockSuffix = test::uniqueLockSuffix();
    o.soundPlayer = &player;
    auto a = std::make_unique<TarnwickApp>(std::move(o));
    a->start();
    TF_Prefs& prefs = a->prefs();
    ASSERT_TRUE(prefs.isVisible());
    EXPECT_FALSE(a->session().Online);
    EXPECT_EQ(prefs.selectedNode(), 1);
    auto* name = prefs.findChild<QLineEdit*>("LabeledEdit1");
    ASSERT_TRUE(name);
    EXPECT_EQ(prefs.focusWidget(), name);
    EXPECT_EQ(name->text(), "Account 1");
    ASSERT_TRUE(std::filesystem::exists(dir.file("tarn.ini")));

    prefs.findChild<QLineEdit*>("Edit26")->setText("127.0.0.1:" +
                                                   QString::number(dovecot.pop3Port()));
    prefs.findChild<QLineEdit*>("Edit27")->setText("erin");
    prefs.findChild<QLineEdit*>("Edit30")->setText("pw erin");
    // A new account starts with SSL/TLS; this server's POP3 port speaks clear text.
    auto* security = prefs.findChild<QComboBox*>("cbSecurity");
    ASSERT_TRUE(security);
    EXPECT_EQ(security->currentIndex(), 1);
    security->setCurrentIndex(0);
    prefs.findChild<QPushButton*>("SaveButton")->click();
    EXPECT_FALSE(prefs.isVisible());
    EXPECT_TRUE(a->session().Online);
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readString("1", "Host", ""), "127.0.0.1:" + std::to_string(dovecot.pop3Port()));
    EXPECT_EQ(ini.readString("1", "UserID", ""), "erin");

    TF_CheckerWindow& w = a->window();
    ASSERT_TRUE(runUntil([&] { return w.EShowVar(1)->text() == "2"; }, 30s))
        << "field: '" << w.EShowVar(1)->text().toStdString() << "'\n"
        << dovecot.log();
    EXPECT_TRUE(runUntil([&] { return a->session().runningWorkers() == 0; }, 10s));

    // Closing the dialog again later neither goes online nor does anything else once more.
    w.scheduler().online1xClick();
    ASSERT_FALSE(a->session().Online);
    prefs.openPreferences();
    prefs.close();
    EXPECT_FALSE(a->session().Online);
    a->exitProcedure();
}

} // namespace
} // namespace tarn
