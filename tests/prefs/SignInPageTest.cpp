#include "PrefsFixture.h"

#include "check/OAuthSignIn.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "fakes/FakeAuthServer.h"
#include "fakes/RecordingProcessLauncher.h"
#include "net/HttpClient.h"
#include "platform/BrowserLauncher.h"
#include "prefs/BackgroundTask.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QScrollArea>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>

namespace tarn {
namespace {

using namespace std::chrono_literals;

// The page's sign-in fields by their accessible names.
const char* const kSignInFields[] = {"Sign-in method", "OAuth 2.0 provider", "Client ID",
                                     "Client secret",  "Authorize URL",      "Token URL",
                                     "Scope",          "Password command"};

// The query parameter name of a URL, percent-decoded.
std::string queryValue(const std::string& url, const std::string& name) {
    const std::size_t q = url.find('?');
    if (q == std::string::npos)
        return {};
    const auto form = test::decodeForm(url.substr(q + 1));
    const auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

// Whether something listens on 127.0.0.1:port.
bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class SignInPageTest : public test::PrefsFixture {
protected:
    QWidget* field(const char* accessibleName) const {
        for (QWidget* x : prefs->accountPage().findChildren<QWidget*>())
            if (x->accessibleName() == QString::fromLatin1(accessibleName))
                return x;
        ADD_FAILURE() << accessibleName;
        return nullptr;
    }
    QComboBox* combo(const char* accessibleName) const {
        return qobject_cast<QComboBox*>(field(accessibleName));
    }
    QLineEdit* edit(const char* accessibleName) const {
        return qobject_cast<QLineEdit*>(field(accessibleName));
    }
    QString status() const { return w<QLabel>("SignInStatus")->text(); }
    // The user picks an entry of a combo box.
    static void pick(QComboBox* box, const QString& text) {
        const int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
        emit box->activated(i);
    }
    // Account n signs in with the test's authorization server; the browser is recorded.
    void useAuthServer(const test::FakeAuthServer& server) {
        pick(combo("Sign-in method"), "OAuth 2.0");
        pick(combo("OAuth 2.0 provider"), "Custom");
        edit("Client ID")->setText(QString::fromStdString(server.clientId()));
        edit("Authorize URL")->setText(QString::fromStdString(server.authorizeUrl()));
        edit("Token URL")->setText(QString::fromStdString(server.tokenUrl()));
        edit("Scope")->setText("mail offline_access");
        prefs->accountPage().setBrowserLauncher(std::make_shared<BrowserLauncher>(
            browser, [] { return std::string("web.desktop"); },
            [this] { return std::vector<std::string>{browserDir.string()}; }));
    }
    // Presses "Sign in..." and returns the address the browser was opened with.
    std::string startSignIn() {
        browser.calls.clear();
        w<QPushButton>("SignInButton")->click();
        EXPECT_TRUE(prefs->accountPage().signInTask().pending());
        EXPECT_EQ(w<QPushButton>("SignInButton")->text(), "Cancel sign-in");
        if (!test::processUntil([&] { return !browser.calls.empty(); }, 10s))
            return {};
        return browser.calls.back().argv.back();
    }
    // The user's browser: the provider's page redirects to the program's listener.
    static HttpResponse browse(const std::string& url) {
        HttpRequest request;
        request.url = url;
        request.maxRedirects = 1;
        request.totalTimeout = 10s;
        return httpFetch(request);
    }
    bool waitForSignIn() {
        const bool done =
            test::processUntil([&] { return !prefs->accountPage().signInTask().pending(); }, 20s);
        EXPECT_EQ(w<QPushButton>("SignInButton")->text(), "Sign in...");
        return done;
    }
    // What the settings file holds for account n, read as the next start reads it.
    AccountSettings stored(int n) {
        Settings s;
        loadSettingsFile(dir.file("tarn.ini"), SettingsReadInputs{}, s);
        return n <= s.accountCount() ? s.account(n) : AccountSettings{};
    }
    void SetUp() override {
        browserDir = dir.path() / "desktop";
        std::filesystem::create_directories(browserDir / "applications");
        std::ofstream(browserDir / "applications/web.desktop")
            << "[Desktop Entry]\nExec=/opt/web/browse %u\n";
    }

    test::RecordingProcessLauncher browser;
    std::filesystem::path browserDir;
};

TEST_F(SignInPageTest, EachLevelShowsItsSignInFieldsUnderTheRowsItShowsWithNothingCutOff) {
    make(1);
    openAccount(1);
    struct Case {
        PrefsLevel level;
        std::set<std::string> shown;
    };
    const Case cases[] = {
        {PrefsLevel::Basic, {"Sign-in method", "OAuth 2.0 provider"}},
        {PrefsLevel::Advanced,
         {"Sign-in method", "OAuth 2.0 provider", "Client ID", "Client secret"}},
        {PrefsLevel::Expert,
         {"Sign-in method", "OAuth 2.0 provider", "Client ID", "Client secret", "Authorize URL",
          "Token URL", "Scope", "Password command"}},
    };
    for (const bool imap : {false, true}) {
        w<QRadioButton>(imap ? "rgServerTypeIMAP4" : "rgServerTypePOP3")->setChecked(true);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(static_cast<int>(c.level)) + (imap ? " IMAP4" : " POP3"));
            prefs->setLevel(c.level);
            test::processUntil([] { return false; }, 20ms);
            for (const char* name : kSignInFields)
                EXPECT_EQ(field(name)->isVisible(), c.shown.count(name) == 1) << name;
            EXPECT_TRUE(w<QPushButton>("SignInButton")->isVisible());

            // The group starts below every other row shown and overlaps none of them.
            auto* group = w<QGroupBox>("SignInBox");
            QWidget* content = group->parentWidget();
            for (QWidget* row :
                 content->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (row == group || row->isHidden() || row->objectName().endsWith("Notice"))
                    continue;
                // A container whose rows are all hidden shows nothing to overlap.
                const auto inner =
                    row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
                if (!inner.isEmpty() && std::all_of(inner.begin(), inner.end(),
                                                    [](QWidget* x) { return x->isHidden(); }))
                    continue;
                EXPECT_FALSE(row->geometry().intersects(group->geometry()))
                    << row->objectName().toStdString();
            }
            // Everything shown lies within the scrolled rows, whose width the scroll bar leaves.
            auto* scroll = w<QScrollArea>("AccountConfigScroll");
            EXPECT_LE(content->width(), scroll->viewport()->width());
            for (QWidget* x : content->findChildren<QWidget*>()) {
                if (!x->isVisibleTo(content))
                    continue;
                const QRect r(x->mapTo(content, QPoint(0, 0)), x->size());
                EXPECT_TRUE(content->rect().contains(r)) << x->objectName().toStdString();
            }
        }
    }
}

TEST_F(SignInPageTest, PickingAProviderFillsItsMailServerButLoadingAnAccountDoesNot) {
    make(1);
    openAccount(1);
    struct Case {
        const char* type;
        const char* provider;
        const char* host;
    };
    const Case cases[] = {
        {"rgServerTypeIMAP4", "Microsoft", "outlook.office365.com"},
        {"rgServerTypePOP3", "Microsoft", "outlook.office365.com"},
        {"rgServerTypeIMAP4", "Google", "imap.gmail.com"},
        {"rgServerTypePOP3", "Google", "pop.gmail.com"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.provider);
        w<QRadioButton>(c.type)->setChecked(true);
        w<QComboBox>("cbSecurity")->setCurrentIndex(0);
        setText("Edit26", "mail.example.org");
        pick(combo("OAuth 2.0 provider"), c.provider);
        EXPECT_EQ(text("Edit26"), c.host);
        EXPECT_EQ(w<QComboBox>("cbSecurity")->currentText(), "SSL/TLS");
        // The port beside the server is the provider's.
        const bool imap = std::string(c.type) == "rgServerTypeIMAP4";
        EXPECT_EQ(w<QLabel>("ServerPort")->text(), imap ? "Port 993" : "Port 995");
        // The provider's endpoints show as what an empty field means.
        EXPECT_TRUE(edit("Token URL")->placeholderText().startsWith("https://"));
    }
    // "Custom" leaves the server alone.
    setText("Edit26", "mail.example.org");
    pick(combo("OAuth 2.0 provider"), "Custom");
    EXPECT_EQ(text("Edit26"), "mail.example.org");

    // An account stored with a provider loads as stored.
    session.settings().account(1).OAuthProvider = "google";
    session.settings().account(1).Host = "imap.example.net";
    prefs->accountPage().ComboBox6_update_sheet();
    EXPECT_EQ(combo("OAuth 2.0 provider")->currentText(), "Google");
    EXPECT_EQ(text("Edit26"), "imap.example.net");
}

TEST_F(SignInPageTest, OkSavesTheSignInFieldsIntoTheAccountKeys) {
    make(2);
    openAccount(2);
    prefs->setLevel(PrefsLevel::Expert);
    pick(combo("Sign-in method"), "OAuth 2.0");
    pick(combo("OAuth 2.0 provider"), "Custom");
    edit("Client ID")->setText("my-client");
    edit("Client secret")->setText("my-secret");
    edit("Authorize URL")->setText(" https://id.example.org/authorize ");
    edit("Token URL")->setText("https://id.example.org/token");
    edit("Scope")->setText("mail offline_access");
    edit("Password command")->setText("pass show mail/work");
    prefs->SaveButtonClick();
    EXPECT_TRUE(errors.empty());

    const IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readString("2", "AuthMethod", ""), "2");
    EXPECT_EQ(ini.readString("2", "OAuthProvider", ""), "custom");
    EXPECT_EQ(ini.readString("2", "OAuthClientID", ""), "my-client");
    EXPECT_EQ(ini.readString("2", "OAuthAuthorizeURL", ""), "https://id.example.org/authorize");
    EXPECT_EQ(ini.readString("2", "OAuthTokenURL", ""), "https://id.example.org/token");
    EXPECT_EQ(ini.readString("2", "OAuthScope", ""), "mail offline_access");
    EXPECT_EQ(ini.readString("2", "PasswordCommand", ""), "pass show mail/work");
    // The client secret is kept like a password, not in plain text.
    EXPECT_EQ(ini.text().find("my-secret"), std::string::npos);
    EXPECT_EQ(stored(2).OAuthClientSecret, "my-secret");
    // The first account, untouched, keeps its keys as they were.
    EXPECT_EQ(ini.readString("1", "AuthMethod", ""), "0");
    EXPECT_EQ(ini.readString("1", "OAuthProvider", ""), "");

    // With OAuth 2.0 the password field is not used, and says so; the other methods use it.
    openAccount(2);
    EXPECT_FALSE(w<QLineEdit>("Edit30")->isEnabled());
    EXPECT_FALSE(w<QLineEdit>("Edit30")->placeholderText().isEmpty());
    pick(combo("Sign-in method"), "Password");
    EXPECT_TRUE(w<QLineEdit>("Edit30")->isEnabled());
    EXPECT_FALSE(w<QPushButton>("SignInButton")->isEnabled());
}

TEST_F(SignInPageTest, ASignInIsKeptWhenOkSavesTheAccountNewOrExistingAndNeverOnCancel) {
    test::FakeAuthServer auth;
    struct Case {
        const char* name;
        bool newAccount;
        bool ok; // OK, else Cancel
    };
    const Case cases[] = {
        {"existing, OK", false, true},
        {"new, OK", true, true},
        {"existing, Cancel", false, false},
        {"new, Cancel", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(1);
        openAccount(1);
        prefs->SaveButtonClick(); // the file holds account 1 as it was
        openAccount(1);
        int n = 1;
        if (c.newAccount) {
            prefs->accountPage().NewButton1Click();
            n = 2;
        }
        ASSERT_EQ(prefs->currentAccountIndex(), n - 1);
        useAuthServer(auth);
        EXPECT_EQ(status(), "Not signed in");

        const std::string url = startSignIn();
        ASSERT_FALSE(url.empty());
        EXPECT_EQ(browser.calls.back().argv.front(), "/opt/web/browse");
        EXPECT_EQ(queryValue(url, "client_id"), auth.clientId());
        // The dialog works while the sign-in waits.
        EXPECT_TRUE(w<QLineEdit>("LabeledEdit1")->isEnabled());
        const HttpResponse page = browse(url);
        EXPECT_EQ(page.status, 200) << page.error;
        ASSERT_TRUE(waitForSignIn());
        EXPECT_EQ(status(), "Signed in; kept when you press OK");
        // Nothing is stored before OK.
        EXPECT_TRUE(stored(n).OAuthRefreshToken.empty());
        EXPECT_TRUE(session.settings().account(n).OAuthRefreshToken.empty());

        if (c.ok)
            prefs->SaveButtonClick();
        else
            prefs->Button11Click();
        EXPECT_TRUE(errors.empty()) << errors.front();
        const std::string kept = c.ok ? auth.currentRefreshToken() : std::string();
        EXPECT_EQ(stored(n).OAuthRefreshToken, kept);
        EXPECT_EQ(session.settings().account(n).OAuthRefreshToken, kept);
        if (c.ok) {
            // The token is scrambled in the file, and a check's access token is the fresh one.
            EXPECT_EQ(IniFile(dir.file("tarn.ini")).text().find(kept), std::string::npos);
            const AccountSettings& acc = session.settings().account(n);
            const AccessToken t = accessTokenFor(session.settingsStore(), n, acc, false);
            EXPECT_TRUE(auth.accessTokenValid(t.token)) << t.error;
        }
        // The page shows the account as it now is.
        openAccount(n);
        EXPECT_EQ(status(), c.ok ? "Signed in" : "Not signed in");
    }
}

TEST_F(SignInPageTest, CancellingTheSignInEndsTheListenerAndStoresNothing) {
    test::FakeAuthServer auth;
    make(1);
    openAccount(1);
    useAuthServer(auth);
    const std::string url = startSignIn();
    ASSERT_FALSE(url.empty());
    const std::string redirect = queryValue(url, "redirect_uri");
    const int port = std::stoi(redirect.substr(redirect.rfind(':') + 1));
    ASSERT_TRUE(listening(port));

    w<QPushButton>("SignInButton")->click();
    EXPECT_FALSE(prefs->accountPage().signInTask().pending());
    EXPECT_EQ(w<QPushButton>("SignInButton")->text(), "Sign in...");
    EXPECT_EQ(status(), "Sign-in cancelled");
    EXPECT_TRUE(test::processUntil([&] { return !listening(port); }, 2s));
    // The provider's redirect finds nobody now.
    EXPECT_NE(browse(url).status, 200);
    prefs->SaveButtonClick();
    EXPECT_TRUE(stored(1).OAuthRefreshToken.empty());
    EXPECT_EQ(auth.tokenRequests(), 0);

    // Closing the dialog ends a sign-in under way as well.
    openAccount(1);
    useAuthServer(auth);
    ASSERT_FALSE(startSignIn().empty());
    prefs->Button11Click();
    EXPECT_FALSE(prefs->accountPage().signInTask().pending());
}

TEST_F(SignInPageTest, ARefusedSignInShowsItsReasonAndStoresNothing) {
    test::FakeAuthServer auth;
    make(1);
    openAccount(1);
    useAuthServer(auth);
    edit("Client ID")->setText("somebody-else");
    const std::string url = startSignIn();
    ASSERT_FALSE(url.empty());
    browse(url);
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(status().startsWith("Not signed in: ")) << status().toStdString();
    EXPECT_TRUE(status().contains("unauthorized_client")) << status().toStdString();
    prefs->SaveButtonClick();
    EXPECT_TRUE(stored(1).OAuthRefreshToken.empty());
    EXPECT_EQ(auth.tokenRequests(), 0);

    // Without a client ID nothing starts, and the page says what is missing.
    openAccount(1);
    useAuthServer(auth);
    edit("Client ID")->clear();
    browser.calls.clear();
    w<QPushButton>("SignInButton")->click();
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(browser.calls.empty());
    EXPECT_TRUE(status().startsWith("Not signed in: ")) << status().toStdString();
}

TEST_F(SignInPageTest, ASignInTheProviderRefusedAtACheckAsksToSignInAgain) {
    test::FakeAuthServer auth;
    make(1);
    AccountSettings& acc = session.settings().account(1);
    acc.AuthMethod = 2;
    acc.OAuthProvider = "custom";
    acc.OAuthAuthorizeURL = auth.authorizeUrl();
    acc.OAuthTokenURL = auth.tokenUrl();
    acc.OAuthClientID = auth.clientId();
    acc.OAuthRefreshToken = "revoked-long-ago";
    acc.SecretId = newSecretId();
    openAccount(1);
    prefs->SaveButtonClick();
    openAccount(1);
    EXPECT_EQ(status(), "Signed in");

    const AccessToken t = accessTokenFor(session.settingsStore(), 1, acc, true);
    ASSERT_TRUE(t.signInAgain) << t.error;
    openAccount(1);
    EXPECT_TRUE(status().startsWith("Sign in again: ")) << status().toStdString();

    // A new sign-in, kept by OK, ends that.
    useAuthServer(auth);
    browse(startSignIn());
    ASSERT_TRUE(waitForSignIn());
    prefs->SaveButtonClick();
    openAccount(1);
    EXPECT_EQ(status(), "Signed in");
}

} // namespace
} // namespace tarn
