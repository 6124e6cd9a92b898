#include "PrefsFixture.h"

#include "core/IniFile.h"
#include "core/PrefsLevel.h"
#include "core/Settings.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"
#include "integration/fixture/DovecotFixture.h"
#include "prefs/DropDownComboBox.h"
#include "prefs/MailboxLister.h"

#include <QRadioButton>

#include <chrono>

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::ScriptedServer;
using test::TestPki;
using After = ScriptedServer::After;
using TlsFrom = ScriptedServer::TlsFrom;

const char* const kPin = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                         "AB:CD:EF:01:23:45:67:89";

class AccountSecurityTest : public test::PrefsFixture {
protected:
    // The test CA is trusted before any server thread runs.
    void SetUp() override { pki(); }
    static const TestPki& pki() { return TestPki::shared(); }
    QComboBox* security() const { return w<QComboBox>("cbSecurity"); }
    QLineEdit* pin() const { return w<QLineEdit>("EditTLSFingerprint"); }

    // Account 1 as IMAP4 with the server data typed into the page, at Expert level.
    void typeServer(const QString& host, int security, const QString& pinText) {
        make(1);
        session.settings().account(1).MailServerType = 1;
        openAccount(1);
        prefs->setLevel(PrefsLevel::Expert);
        setText("Edit26", host);
        setText("Edit27", "bob");
        setText("Edit30", "secret");
        this->security()->setCurrentIndex(security);
        pin()->setText(pinText);
    }
    MailboxLister& lister() { return prefs->accountPage().mailboxLister(); }
    // Opens the mailbox drop-down and waits for the listing; the failure text, if any.
    QString listMailboxes() {
        QString failure;
        QObject::connect(&lister(), &MailboxLister::failed,
                         [&](const QString& why) { failure = why; });
        w<DropDownComboBox>("cbMailBox")->showPopup();
        EXPECT_TRUE(test::processUntil([&] { return !lister().pending(); }, 20s));
        return failure;
    }
    QStringList items() const {
        QStringList out;
        auto* box = w<QComboBox>("cbMailBox");
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    }
    static void listingServer(ScriptedServer& srv) {
        srv.setGreeting("* OK ready\r\n");
        srv.onRegex(R"(^\S+ LOGIN bob secret$)", "{TAG} OK in\r\n");
        srv.onRegex(R"(^\S+ LIST )",
                    "* LIST () \"/\" \"./Work\"\r\n* LIST () \"/\" \"./Spam\"\r\n{TAG} OK\r\n");
        srv.onRegex(R"(^\S+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    }
    static bool sawLogin(const ScriptedServer& srv) {
        for (const std::string& line : srv.received())
            if (line.find("LOGIN") != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(AccountSecurityTest, ChoicesLabelsAndLevels) {
    make(1);
    openAccount(1);
    ASSERT_EQ(security()->count(), 3);
    EXPECT_EQ(security()->itemText(0), "None");
    EXPECT_EQ(security()->itemText(1), "SSL/TLS");
    EXPECT_EQ(security()->itemText(2), "STARTTLS");
    EXPECT_EQ(w<QLabel>("cbSecurityLabel")->buddy(), security());
    EXPECT_EQ(w<QLabel>("EditTLSFingerprintLabel")->buddy(), pin());
    struct Case {
        PrefsLevel level;
        bool securityShown;
        bool pinShown;
    };
    for (const Case& c :
         {Case{PrefsLevel::Basic, true, false}, Case{PrefsLevel::Advanced, true, false},
          Case{PrefsLevel::Expert, true, true}}) {
        prefs->setLevel(c.level);
        const int level = static_cast<int>(c.level);
        EXPECT_EQ(!security()->isHidden(), c.securityShown) << level;
        EXPECT_EQ(!w<QWidget>("cbSecurityLabel")->isHidden(), c.securityShown) << level;
        EXPECT_EQ(!pin()->isHidden(), c.pinShown) << level;
        EXPECT_EQ(!w<QWidget>("EditTLSFingerprintLabel")->isHidden(), c.pinShown) << level;
    }
}

TEST_F(AccountSecurityTest, BothFieldsGoThroughThePageAndOkIntoTheFile) {
    make(2);
    session.settings().account(2).Security = 2;
    session.settings().account(2).TLSFingerprint = "ab:cd";
    openAccount(2);
    EXPECT_EQ(security()->currentIndex(), 2);
    EXPECT_EQ(pin()->text(), "ab:cd");

    prefs->setLevel(PrefsLevel::Expert);
    security()->setCurrentIndex(1);
    pin()->setText(QString::fromLatin1(kPin) + "  ");
    w<QPushButton>("SaveButton")->click();
    EXPECT_EQ(prefs->lastDiscardedError(), "");
    EXPECT_EQ(session.settings().account(2).Security, 1);
    EXPECT_EQ(session.settings().account(2).TLSFingerprint, kPin);
    EXPECT_EQ(session.settings().account(1).Security, 0);

    Settings reread;
    loadSettingsFile(dir.file("tarn.ini"), {}, reread);
    ASSERT_EQ(reread.accountCount(), 2);
    EXPECT_EQ(reread.account(2).Security, 1);
    EXPECT_EQ(reread.account(2).TLSFingerprint, kPin);
    EXPECT_EQ(reread.account(1).Security, 0);
    EXPECT_EQ(reread.account(1).TLSFingerprint, "");

    // Shown again as stored.
    prefs->openPreferences();
    prefs->selectNode(1);
    prefs->selectNode(2);
    EXPECT_EQ(security()->currentIndex(), 1);
    EXPECT_EQ(pin()->text(), kPin);
}

TEST_F(AccountSecurityTest, AValueThePageDoesNotOfferIsKept) {
    make(1);
    session.settings().account(1).Security = 7;
    openAccount(1);
    EXPECT_EQ(security()->currentIndex(), -1);
    prefs->selectNode(0);
    EXPECT_EQ(session.settings().account(1).Security, 7);
    // Choosing one replaces it.
    prefs->selectNode(1);
    security()->setCurrentIndex(0);
    prefs->selectNode(0);
    EXPECT_EQ(session.settings().account(1).Security, 0);
}

TEST_F(AccountSecurityTest, MailboxListOverTlsWithThePinTypedOnThePage) {
    ScriptedServer srv;
    srv.setTls(pki().selfSigned().certFile, pki().selfSigned().keyFile, TlsFrom::Accept);
    listingServer(srv);
    // The port typed with the host is honoured once there is security.
    typeServer("127.0.0.1:" + QString::number(srv.port()), 1,
               QString::fromStdString(TestPki::fingerprint(pki().selfSigned())));
    EXPECT_EQ(listMailboxes(), "");
    EXPECT_EQ(items(), (QStringList{"./Work", "./Spam"}));
}

TEST_F(AccountSecurityTest, MailboxListWithStartTlsOnAVerifiedServer) {
    ScriptedServer srv;
    srv.setTls(pki().good().certFile, pki().good().keyFile, TlsFrom::Command);
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^\S+ CAPABILITY$)",
                "* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED\r\n{TAG} OK\r\n", After::Continue,
                1);
    srv.onRegex(R"(^\S+ STARTTLS$)", "{TAG} OK begin\r\n", After::StartTls);
    srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY IMAP4rev1\r\n{TAG} OK\r\n");
    listingServer(srv);
    typeServer("127.0.0.1:" + QString::number(srv.port()), 2, "");
    EXPECT_EQ(listMailboxes(), "");
    EXPECT_EQ(items(), (QStringList{"./Work", "./Spam"}));
}

TEST_F(AccountSecurityTest, AServerTheSettingsDoNotTrustGetsNoPassword) {
    struct Case {
        const char* name;
        const TestPki::Pair* cert;
        const char* pin; // null: no pin
    };
    const std::string selfPin = TestPki::fingerprint(pki().selfSigned());
    const Case cases[] = {
        {"self-signed, not pinned", &pki().selfSigned(), nullptr},
        {"another name", &pki().otherName(), nullptr},
        {"wrong pin", &pki().selfSigned(), kPin},
    };
    for (const Case& c : cases) {
        ScriptedServer srv;
        srv.setTls(c.cert->certFile, c.cert->keyFile, TlsFrom::Accept);
        listingServer(srv);
        typeServer("127.0.0.1:" + QString::number(srv.port()), 1, c.pin ? c.pin : "");
        EXPECT_FALSE(listMailboxes().isEmpty()) << c.name;
        EXPECT_TRUE(items().isEmpty()) << c.name;
        EXPECT_FALSE(sawLogin(srv)) << c.name;
        EXPECT_TRUE(errors.empty()) << c.name;
    }
}

TEST_F(AccountSecurityTest, MailboxListOfThePrivateDovecotOverTls) {
    TARN_REQUIRE_DOVECOT();
    test::DovecotFixture::Options o;
    o.sslCertFile = pki().good().certFile;
    o.sslKeyFile = pki().good().keyFile;
    test::DovecotFixture dovecot(o);
    dovecot.addUser("bob", "secret");
    dovecot.doveadm({"mailbox", "create", "-u", "bob", "Travel"});
    typeServer("127.0.0.1:" + QString::number(dovecot.imapsPort()), 1, "");
    EXPECT_EQ(listMailboxes(), "");
    EXPECT_TRUE(items().contains("Travel")) << items().join(',').toStdString();
}

} // namespace
} // namespace tarn
