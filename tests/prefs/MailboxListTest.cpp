#include "PrefsFixture.h"

#include "fakes/ScriptedServer.h"
#include "integration/fixture/DovecotFixture.h"
#include "prefs/DropDownComboBox.h"
#include "prefs/MailboxLister.h"

#include <QRadioButton>

#include <chrono>

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::PrefsFixture;
using test::ScriptedServer;

class MailboxListTest : public PrefsFixture {
protected:
    // Account 1 as IMAP4 with the given server data typed into the page.
    void typeServer(int port, const QString& host, const QString& user, const QString& password) {
        options.imapPort = port;
        make(1);
        session.settings().account(1).MailServerType = 1;
        openAccount(1);
        setText("Edit26", host);
        setText("Edit27", user);
        setText("Edit30", password);
    }
    QStringList items() const {
        QStringList out;
        auto* box = w<QComboBox>("cbMailBox");
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    }
    MailboxLister& lister() { return prefs->accountPage().mailboxLister(); }
};

TEST_F(MailboxListTest, ListsTheFoldersOfThePrivateDovecot) {
    TARN_REQUIRE_DOVECOT();
    test::DovecotFixture dovecot;
    dovecot.addUser("carol", "pw-carol");
    for (const char* folder : {"Archive", "Lists", "Travel"})
        dovecot.doveadm({"mailbox", "create", "-u", "carol", folder});
    typeServer(dovecot.imapPort(), "127.0.0.1", "carol", "pw-carol");

    auto* box = w<DropDownComboBox>("cbMailBox");
    box->showPopup();
    // The dialog does not wait for the server.
    EXPECT_TRUE(lister().pending());
    ASSERT_TRUE(test::processUntil([&] { return !lister().pending(); }, 20s));
    const QStringList names = items();
    for (const char* folder : {"Archive", "Lists", "Travel"})
        EXPECT_TRUE(names.contains(folder)) << folder << " in " << names.join(',').toStdString();
    EXPECT_EQ(box->currentText(), "INBOX"); // the typed name stays
}

TEST_F(MailboxListTest, ErrorsLeaveTheListEmptyWithoutAWord) {
    ScriptedServer refusing;
    refusing.setGreeting("* OK ready\r\n");
    refusing.onRegex(R"(^\S+ LOGIN )", "{TAG} NO wrong\r\n");
    typeServer(refusing.port(), "127.0.0.1", "bob", "bad");
    QString failure;
    QObject::connect(&lister(), &MailboxLister::failed, [&](const QString& why) { failure = why; });
    w<DropDownComboBox>("cbMailBox")->showPopup();
    ASSERT_TRUE(test::processUntil([&] { return !lister().pending(); }, 20s));
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_TRUE(items().isEmpty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(MailboxListTest, AServerThatNeverAnswersTimesOutAndALateAnswerIsDropped) {
    ScriptedServer silent;
    silent.setGreeting("", ScriptedServer::After::Stall);
    typeServer(silent.port(), "127.0.0.1", "bob", "pw");
    lister().setTimeout(300ms);
    QString failure;
    QObject::connect(&lister(), &MailboxLister::failed, [&](const QString& why) { failure = why; });
    w<DropDownComboBox>("cbMailBox")->showPopup();
    ASSERT_TRUE(test::processUntil([&] { return !lister().pending(); }, 20s));
    EXPECT_FALSE(failure.isEmpty());

    // A listing that answers after the user moved to other server data is not shown.
    ScriptedServer slow;
    slow.setGreeting("* OK ready\r\n");
    slow.onRegex(R"(^\S+ LOGIN )", "{TAG} OK in\r\n");
    slow.onRegex(R"(^\S+ LIST )", "* LIST () \"/\" Late\r\n{TAG} OK done\r\n");
    slow.onRegex(R"(^\S+ LOGOUT)", "* BYE\r\n{TAG} OK bye\r\n");
    slow.setChunking(4, 20ms);
    lister().setPort(slow.port());
    lister().setTimeout(5s);
    int listed = 0;
    QObject::connect(&lister(), &MailboxLister::listed, [&] { ++listed; });
    w<DropDownComboBox>("cbMailBox")->showPopup();
    w<QLineEdit>("Edit26")->textEdited("elsewhere");
    EXPECT_FALSE(lister().pending());
    ASSERT_TRUE(slow.waitForClosed(1, 20s));
    test::processUntil([] { return false; }, 200ms);
    EXPECT_EQ(listed, 0);
    EXPECT_TRUE(items().isEmpty());
}

} // namespace
} // namespace tarn
