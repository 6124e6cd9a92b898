#include "PrefsFixture.h"

#include "core/PrefsLevel.h"
#include "fakes/HttpTestServer.h"
#include "mailproto/SettingsSearch.h"
#include "prefs/BackgroundTask.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QRadioButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace tarn {
namespace {

using namespace std::chrono_literals;

// The account page as a screen reader meets it: controls found by role and name only.
class BasicAccountSetupTest : public test::PrefsFixture {
protected:
    static QAccessibleInterface* find(QAccessibleInterface* root,
                                      const std::function<bool(QAccessibleInterface*)>& match) {
        if (!root || root->state().invisible)
            return nullptr;
        if (match(root))
            return root;
        for (int i = 0; i < root->childCount(); ++i)
            if (QAccessibleInterface* found = find(root->child(i), match))
                return found;
        return nullptr;
    }
    QAccessibleInterface* named(QAccessible::Role role, const QString& name) const {
        return find(QAccessible::queryAccessibleInterface(prefs.get()),
                    [&](QAccessibleInterface* i) {
                        if (i->role() != role)
                            return false;
                        if (i->text(QAccessible::Name) == name)
                            return true;
                        // A combo box on Linux is named by its text and labelled by relation.
                        for (const auto& [label, relation] : i->relations(QAccessible::Label))
                            if (label->text(QAccessible::Name) == name)
                                return true;
                        return false;
                    });
    }
    // A visible text whose name starts so.
    QString staticText(const QString& start) const {
        QAccessibleInterface* i =
            find(QAccessible::queryAccessibleInterface(prefs.get()), [&](QAccessibleInterface* x) {
                return x->role() == QAccessible::StaticText &&
                       x->text(QAccessible::Name).startsWith(start);
            });
        return i ? i->text(QAccessible::Name) : QString();
    }
    void press(QAccessible::Role role, const QString& name) const {
        QAccessibleInterface* i = named(role, name);
        ASSERT_TRUE(i) << name.toStdString();
        ASSERT_TRUE(i->actionInterface());
        i->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        // The press is an animated click: it lands after a short while.
        QTest::qWait(250);
    }
    void type(const QString& label, const QString& text) const {
        QAccessibleInterface* i = named(QAccessible::EditableText, label);
        ASSERT_TRUE(i) << label.toStdString();
        qobject_cast<QLineEdit*>(i->object())->setText(text);
    }
    void chooseSecurity(const QString& choice) const {
        QAccessibleInterface* i = named(QAccessible::ComboBox, "Security:");
        ASSERT_TRUE(i);
        auto* box = qobject_cast<QComboBox*>(i->object());
        ASSERT_TRUE(box);
        box->setCurrentIndex(box->findText(choice));
    }
    static constexpr const char* kWarning = "Without security your password travels readable";
};

TEST_F(BasicAccountSetupTest, TypeAndSecurityAreOfferedAndUsedAtTheBasicLevel) {
    make(1);
    prefs->openPreferences();
    prefs->setLevel(PrefsLevel::Basic);
    w<QPushButton>("NewButton1")->click();
    ASSERT_EQ(prefs->currentAccountIndex(), 1);

    // A new account starts encrypted; nothing is marked experimental.
    EXPECT_TRUE(named(QAccessible::RadioButton, "POP3"));
    EXPECT_TRUE(named(QAccessible::RadioButton, "IMAP4"));
    EXPECT_EQ(staticText("**"), "");
    QAccessibleInterface* security = named(QAccessible::ComboBox, "Security:");
    ASSERT_TRUE(security);
    EXPECT_EQ(security->text(QAccessible::Value), "SSL/TLS");
    EXPECT_EQ(staticText(kWarning), "");

    struct Case {
        const char* server;
        const char* type;
        const char* security;
        const char* port;
        bool warned;
    };
    const Case cases[] = {
        {"mail.example.org", "IMAP4", "SSL/TLS", "Port 993", false},
        {"mail.example.org", "IMAP4", "STARTTLS", "Port 143", false},
        {"mail.example.org", "POP3", "SSL/TLS", "Port 995", false},
        {"mail.example.org", "POP3", "STARTTLS", "Port 110", false},
        {"mail.example.org", "POP3", "None", "Port 110", true},
        {"mail.example.org:2995", "POP3", "SSL/TLS", "Port 2995", false},
        {"mail.example.org:x", "POP3", "SSL/TLS", "Port: not a number", false},
        {"mail.example.org", "IMAP4", "None", "Port 143", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " " + c.type + " " + c.security);
        type("Mail Server*:", c.server);
        press(QAccessible::RadioButton, c.type);
        chooseSecurity(c.security);
        EXPECT_EQ(staticText("Port"), c.port);
        EXPECT_EQ(!staticText(kWarning).isEmpty(), c.warned);
    }

    // What was chosen at Basic is what OK stores.
    type("Mail Server*:", "imap.example.org");
    type("User ID*:", "ann");
    press(QAccessible::RadioButton, "IMAP4");
    chooseSecurity("STARTTLS");
    press(QAccessible::Button, "OK");
    ASSERT_FALSE(prefs->isVisible()) << prefs->lastDiscardedError();
    const AccountSettings& acc = session.settings().account(2);
    EXPECT_EQ(acc.Host, "imap.example.org");
    EXPECT_EQ(acc.MailServerType, 1);
    EXPECT_EQ(acc.Security, static_cast<int>(ConnectionSecurity::StartTls));
}

// What the administrator's configuration URL serves, switched by the test.
std::string autoconfigDocument(const char* type, const char* host, int port, const char* socket) {
    return std::string("<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\"><emailProvider "
                       "id=\"example.test\"><incomingServer type=\"") +
           type + "\"><hostname>" + host + "</hostname><port>" + std::to_string(port) +
           "</port><socketType>" + socket +
           "</socketType><username>%EMAILADDRESS%</username></incomingServer></emailProvider>"
           "</clientConfig>";
}

TEST_F(BasicAccountSetupTest, FindSettingsFillsTheServerFieldsFromTheAddress) {
    std::atomic<int> serving{0}; // 0 IMAP4 over TLS, 1 POP3 in clear text, 2 none, 3 silent
    test::HttpTestServer admin([&serving](const std::string&) {
        switch (serving.load()) {
        case 0:
            return test::HttpTestServer::answer(
                "HTTP/1.1 200 OK", {}, autoconfigDocument("imap", "imap.example.test", 993, "SSL"));
        case 1:
            return test::HttpTestServer::answer(
                "HTTP/1.1 200 OK", {},
                autoconfigDocument("pop3", "pop.example.test", 1110, "plain"));
        case 2:
            return test::HttpTestServer::answer("HTTP/1.1 404 Not Found", {}, "");
        }
        test::HttpTestServer::Reply silent;
        silent.silent = true;
        return silent;
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(admin.port()) + "/config";
    ASSERT_EQ(setenv("TARNWICK_AUTOCONFIG_URL", url.c_str(), 1), 0);
    struct Unset {
        ~Unset() { unsetenv("TARNWICK_AUTOCONFIG_URL"); }
    } unset;

    make(1);
    // Nothing but the test's own server is asked: the domain's https addresses and the DNS
    // have no answer here.
    prefs->accountPage().setSettingsSearchSeams([](SettingsSearchOptions& o) {
        o.fetch = [](const HttpRequest& request) {
            if (request.url.rfind("http://127.0.0.1:", 0) == 0)
                return httpFetch(request);
            HttpResponse refused;
            refused.error = "not reachable in this test";
            return refused;
        };
        auto none = [](const std::string& name) {
            DnsAnswer a;
            a.error = name + ": no such name";
            return a;
        };
        o.dns = DnsResolver{none, none};
    });
    prefs->openPreferences();
    prefs->setLevel(PrefsLevel::Basic);
    prefs->selectNode(1);
    BackgroundTask& finder = prefs->accountPage().settingsFinder();
    auto find = [&](const QString& address) {
        type("E-mail Address", address);
        press(QAccessible::Button, "Find Settings");
        EXPECT_TRUE(test::processUntil([&] { return !finder.pending(); }, 15s));
        EXPECT_TRUE(named(QAccessible::Button, "Find Settings"));
    };
    auto security = [&] {
        QAccessibleInterface* i = named(QAccessible::ComboBox, "Security:");
        return i ? i->text(QAccessible::Value) : QString();
    };

    find("ann@example.test");
    EXPECT_EQ(staticText("Settings found"), "Settings found at 127.0.0.1");
    EXPECT_EQ(text("Edit26"), "imap.example.test");
    EXPECT_TRUE(w<QRadioButton>("rgServerTypeIMAP4")->isChecked());
    EXPECT_EQ(security(), "SSL/TLS");
    EXPECT_EQ(staticText("Port"), "Port 993");
    EXPECT_EQ(text("Edit27"), "ann@example.test");
    EXPECT_EQ(test::HttpTestServer::requestLine(admin.requests().back()),
              "GET /config?emailaddress=ann%40example.test HTTP/1.1");

    // Clear text on an unusual port: the port goes with the server, the warning shows.
    serving = 1;
    find("ann@example.test");
    EXPECT_EQ(text("Edit26"), "pop.example.test:1110");
    EXPECT_TRUE(w<QRadioButton>("rgServerTypePOP3")->isChecked());
    EXPECT_EQ(security(), "None");
    EXPECT_NE(staticText(kWarning), "");

    // Nothing found: said, and the fields stay as they are.
    serving = 2;
    find("bob@example.test");
    EXPECT_EQ(staticText("No settings"),
              "No settings found for example.test; please enter them below.");
    EXPECT_EQ(text("Edit26"), "pop.example.test:1110");
    EXPECT_EQ(text("Edit27"), "ann@example.test");

    // A search that hangs: the button reads "Stop", the dialog keeps working, and Stop ends it.
    serving = 3;
    type("E-mail Address", "carl@example.test");
    press(QAccessible::Button, "Find Settings");
    EXPECT_TRUE(finder.pending());
    ASSERT_TRUE(named(QAccessible::Button, "Stop"));
    type("Account Name:", "Carl");
    press(QAccessible::Button, "Stop");
    EXPECT_FALSE(finder.pending());
    EXPECT_EQ(staticText("Search stopped"), "Search stopped.");
    EXPECT_TRUE(named(QAccessible::Button, "Find Settings"));
    EXPECT_EQ(text("Edit26"), "pop.example.test:1110");

    // A large provider found by its domain signs in with OAuth 2.0; OK stores it all.
    serving = 2;
    find("dora@gmail.com");
    EXPECT_EQ(staticText("Settings found"), "Settings found at gmail.com");
    EXPECT_EQ(text("Edit26"), "imap.gmail.com");
    press(QAccessible::Button, "OK");
    ASSERT_FALSE(prefs->isVisible()) << prefs->lastDiscardedError();
    const AccountSettings& acc = session.settings().account(1);
    EXPECT_EQ(acc.Name, "Carl");
    EXPECT_EQ(acc.Host, "imap.gmail.com");
    EXPECT_EQ(acc.MailServerType, 1);
    EXPECT_EQ(acc.Security, static_cast<int>(ConnectionSecurity::Tls));
    EXPECT_EQ(acc.UserID, "dora@gmail.com");
    EXPECT_EQ(acc.AuthMethod, static_cast<int>(AuthMethod::OAuth2));
    EXPECT_EQ(acc.OAuthProvider, "google");

    // The sign-in found goes with the server found: a server typed over it keeps the
    // account's own sign-in.
    session.settings().account(1).AuthMethod = static_cast<int>(AuthMethod::Password);
    session.settings().account(1).OAuthProvider.clear();
    prefs->openPreferences();
    prefs->selectNode(1);
    find("erin@gmail.com");
    EXPECT_EQ(text("Edit26"), "imap.gmail.com");
    QTest::keyClicks(w<QLineEdit>("Edit26"), "x");
    press(QAccessible::Button, "OK");
    ASSERT_FALSE(prefs->isVisible()) << prefs->lastDiscardedError();
    EXPECT_EQ(acc.Host, "imap.gmail.comx");
    EXPECT_EQ(acc.AuthMethod, static_cast<int>(AuthMethod::Password));
    EXPECT_EQ(acc.OAuthProvider, "");
}

} // namespace
} // namespace tarn
