#include "PrefsFixture.h"

#include "fakes/HttpTestServer.h"
#include "integration/fixture/DovecotFixture.h"
#include "prefs/BackgroundTask.h"

#include <QRadioButton>
#include <QTest>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>

namespace tarn {
namespace {

using namespace std::chrono_literals;

// The task's thread outlives the task and the session that owned the registry: it holds the
// registry until it has left it, and its answer goes nowhere.
TEST(BackgroundTaskLifetime, AThreadOutlivingItsTaskAndTheSessionLeavesARegistryThatExists) {
    test::app();
    auto threads = std::make_shared<ThreadRegistry>();
    const std::weak_ptr<ThreadRegistry> registry = threads;
    std::promise<void> go;
    std::shared_future<void> ready = go.get_future().share();
    bool answered = false;
    {
        BackgroundTask task(ThreadRegistry::Kind::AccountSetup);
        task.setThreadRegistry(threads);
        ASSERT_TRUE(task.start([ready, &answered](const std::atomic<bool>&) {
            ready.wait();
            return std::function<void()>([&answered] { answered = true; });
        }));
        EXPECT_EQ(threads->running(ThreadRegistry::Kind::AccountSetup), 1);
    }
    threads.reset();
    ASSERT_FALSE(registry.expired());
    go.set_value();
    EXPECT_TRUE(test::processUntil([&] { return registry.expired(); }, 5s));
    EXPECT_FALSE(answered);
}

class ConnectionTestTest : public test::PrefsFixture {
protected:
    // Account 1's page with the server data typed in (not stored), no security: the private
    // server speaks plain text.
    void typeServer(const char* type, int port, const QString& user, const QString& password) {
        make(1);
        openAccount(1);
        w<QRadioButton>(type)->setChecked(true);
        w<QComboBox>("cbSecurity")->setCurrentIndex(0);
        setText("Edit26", "127.0.0.1:" + QString::number(port));
        setText("Edit27", user);
        setText("Edit30", password);
    }
    // Presses "Test Connection" and waits for its outcome; the dialog works meanwhile.
    QString test() {
        w<QPushButton>("TestConnectionButton")->click();
        BackgroundTask& tester = prefs->accountPage().connectionTester();
        EXPECT_TRUE(tester.pending());
        EXPECT_FALSE(w<QPushButton>("TestConnectionButton")->isEnabled());
        EXPECT_TRUE(test::processUntil([&] { return !tester.pending(); }, 30s));
        EXPECT_TRUE(w<QPushButton>("TestConnectionButton")->isEnabled());
        return w<QLabel>("SetupStatus")->text();
    }
};

TEST_F(ConnectionTestTest, CountsTheMessagesOfTheAccountAsTypedOrSaysWhyNot) {
    TARN_REQUIRE_DOVECOT();
    test::DovecotFixture dovecot;
    dovecot.addUser("dora", "pw-dora");
    for (int i = 0; i < 3; ++i)
        dovecot.addMessage("dora", "Subject: m" + std::to_string(i) + "\r\n\r\nbody\r\n");
    const int closed = test::HttpTestServer::closedPort();

    struct Case {
        const char* type;
        int port;
        const char* user;
        const char* password;
        const char* outcome; // its beginning
    };
    const Case cases[] = {
        {"rgServerTypePOP3", dovecot.pop3Port(), "dora", "pw-dora", "Connected: 3 messages"},
        {"rgServerTypeIMAP4", dovecot.imapPort(), "dora", "pw-dora", "Connected: 3 messages"},
        {"rgServerTypePOP3", dovecot.pop3Port(), "dora", "wrong", "login rejected: "},
        {"rgServerTypeIMAP4", dovecot.imapPort(), "dora", "wrong", "login rejected: "},
        {"rgServerTypePOP3", closed, "dora", "pw-dora", "connection refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.password + " " + std::to_string(c.port));
        options.imapPort = std::string(c.type) == "rgServerTypeIMAP4" ? c.port : 143;
        typeServer(c.type, c.port, c.user, c.password);
        const QString outcome = test();
        EXPECT_TRUE(outcome.startsWith(c.outcome)) << outcome.toStdString();
        // Nothing was stored: the test used the fields as typed.
        EXPECT_EQ(session.settings().account(1).Host, "127.0.0.1:1");
        EXPECT_TRUE(errors.empty());
    }
}

TEST_F(ConnectionTestTest, EditingTheServerDropsTheAnswerOfTheTestUnderWay) {
    std::optional<test::HttpTestServer> silent;
    silent.emplace([](const std::string&) {
        test::HttpTestServer::Reply r;
        r.silent = true;
        return r;
    });
    typeServer("rgServerTypePOP3", silent->port(), "bob", "pw");
    w<QPushButton>("TestConnectionButton")->click();
    BackgroundTask& tester = prefs->accountPage().connectionTester();
    ASSERT_TRUE(tester.pending());
    EXPECT_EQ(w<QLabel>("SetupStatus")->text(), "Testing the connection...");
    QTest::keyClicks(w<QLineEdit>("Edit26"), "x");
    EXPECT_FALSE(tester.pending());
    EXPECT_TRUE(w<QPushButton>("TestConnectionButton")->isEnabled());
    EXPECT_EQ(w<QLabel>("SetupStatus")->text(), "");

    // The abandoned test ends once the server goes; its answer never shows.
    silent.reset();
    EXPECT_TRUE(test::processUntil(
        [&] { return session.threads().running(ThreadRegistry::Kind::AccountSetup) == 0; }, 30s));
    EXPECT_EQ(w<QLabel>("SetupStatus")->text(), "");
}

} // namespace
} // namespace tarn
