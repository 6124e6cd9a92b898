#include "auxwin/TF_Update.h"

#include "checker/TestApp.h"
#include "fakes/HttpTestServer.h"
#include "fakes/RecordingProcessLauncher.h"
#include "platform/BrowserLauncher.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace std::chrono_literals;

namespace tarn {
namespace {

using test::HttpTestServer;

// Points the update server (or the home page) at a test's own address for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        m_had = std::getenv(name) != nullptr;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

class UpdateWindow : public ::testing::Test {
protected:
    UpdateWindow() {
        UpdateHttpClient::Limits limits;
        limits.connectTimeout = 2s;
        limits.readTimeout = 2s;
        limits.totalTimeout = 4s;
        window.setLimits(limits);
    }
    template <class T> T* child(const char* name) {
        T* w = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Presses "Check Now" and waits for the answer.
    QString checkNow() {
        child<QPushButton>("Button1")->click();
        EXPECT_TRUE(test::processUntil([&] { return window.running() == 0; }, 15s));
        return window.newsText();
    }

    QApplication& application = test::app(); // before any widget
    TF_Update window;
};

TEST_F(UpdateWindow, FormAsTheUserSeesIt) {
    EXPECT_EQ(window.windowTitle(), "Check for Updates");
    EXPECT_EQ(window.size(), QSize(549, 349));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()); // fixed border
    EXPECT_EQ(child<QGroupBox>("GroupBox1")->title(), "Information");
    EXPECT_EQ(child<QGroupBox>("GroupBox2")->title(), "News and Updates");
    const QStringList info = child<QPlainTextEdit>("Memo1")->toPlainText().split('\n');
    ASSERT_EQ(info.size(), 11);
    EXPECT_EQ(info[0], "Click on the <Check Now> button, and Tarnwick will automatically find "
                       "out, if there ");
    EXPECT_EQ(info[4], "");
    EXPECT_EQ(info[5], "Clicking on the button however, will NOT download any components. For "
                       "the latest ");
    EXPECT_EQ(info[10], "You may not be able to use this feature if you can access http only "
                        "through a proxy server.");
    EXPECT_EQ(window.newsText(), "Not Connected");
    for (const char* memo : {"Memo1", "Memo2"}) {
        auto* m = child<QPlainTextEdit>(memo);
        EXPECT_TRUE(m->isReadOnly());
        EXPECT_EQ(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(m->palette().color(QPalette::Base), m->palette().color(QPalette::Button));
    }
    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } buttons[] = {
        {"Button1", "Check Now", "Check for updates"},
        {"Button3", "Download New Version...",
         "Visit Tarnwick homepage  for downloads of program updates"},
        {"Button2", "Close", "Close this window"},
    };
    for (const auto& b : buttons) {
        auto* button = child<QPushButton>(b.name);
        EXPECT_EQ(button->text(), b.caption);
        EXPECT_EQ(button->toolTip(), b.hint);
        EXPECT_TRUE(window.rect().contains(button->geometry())) << b.name;
    }
}

TEST_F(UpdateWindow, ShowsWhatTheServerSays) {
    struct Case {
        const char* name;
        HttpTestServer::Reply reply;
        QString expected; // the box, or its first line for failures
        bool firstLineOnly = false;
    };
    HttpTestServer::Reply huge = HttpTestServer::sends("HTTP/1.0 200 OK\r\n\r\n");
    huge.filler = std::string(64 * 1024, 'h');
    huge.fillerRepeat = 100 * 16; // 100 MB offered
    const Case cases[] = {
        {"TwoLines",
         HttpTestServer::answer("HTTP/1.0 200 OK", {}, "Tarnwick 20 is out.\r\nGet it now.\r\n"),
         "Tarnwick 20 is out.\nGet it now."},
        {"ErrorPage",
         HttpTestServer::answer("HTTP/1.0 404 Not Found", {}, "<h1>Not Found</h1>\nSorry.\n"),
         "<h1>Not Found</h1>\nSorry."},
        {"ErrorWithoutPage", HttpTestServer::answer("HTTP/1.0 500 Oops", {}, ""),
         "Connection failed", true},
        {"Latin1Body",
         HttpTestServer::answer("HTTP/1.0 200 OK", {},
                                "Gr\xfc\xdf"
                                "e"),
         QString::fromUtf8("Gr\xc3\xbc\xc3\x9f"
                           "e")},
        {"Huge", huge,
         QString(1024 * 1024, 'h') + "\n\n" + QString::fromLatin1(TF_Update::BodyCutNote)},
        {"Garbage", HttpTestServer::sends("\x01\x02 nonsense"), "Connection failed", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpTestServer srv([&](const std::string&) { return c.reply; });
        ScopedEnv server("TARNWICK_UPDATE_SERVER", srv.address());
        const QString text = checkNow();
        if (c.firstLineOnly) {
            EXPECT_EQ(text.section('\n', 0, 0), c.expected);
            EXPECT_FALSE(text.section('\n', 1).isEmpty()) << "no reason given";
        } else {
            EXPECT_EQ(text.size(), c.expected.size());
            EXPECT_TRUE(text == c.expected) << text.right(300).toStdString();
        }
        ASSERT_EQ(srv.requests().size(), 1u);
        EXPECT_EQ(HttpTestServer::requestLine(srv.requests()[0]), "GET /pub/upd_19.txt HTTP/1.0");
    }
}

TEST_F(UpdateWindow, UnreachableOrUnusableServerShowsConnectionFailed) {
    for (const std::string& server :
         {"127.0.0.1:" + std::to_string(HttpTestServer::closedPort()), std::string("no such:x")}) {
        SCOPED_TRACE(server);
        ScopedEnv env("TARNWICK_UPDATE_SERVER", server);
        EXPECT_EQ(checkNow().section('\n', 0, 0), "Connection failed");
    }
}

TEST_F(UpdateWindow, StaysResponsiveAndShowsOnlyTheLatestAnswer) {
    std::atomic<int> served{0};
    HttpTestServer srv([&](const std::string&) {
        HttpTestServer::Reply r =
            HttpTestServer::answer("HTTP/1.0 200 OK", {}, served == 0 ? "old answer" : "new");
        if (served++ == 0)
            r.bytePause = 20ms; // the first answer takes about two seconds
        return r;
    });
    ScopedEnv server("TARNWICK_UPDATE_SERVER", srv.address());
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    child<QPushButton>("Button1")->click();
    EXPECT_EQ(window.newsText(), "Connecting...\nThis could take a few seconds");
    // The window goes on handling events while the server takes its time.
    EXPECT_TRUE(test::processUntil([&] { return ticked; }, 1s));
    EXPECT_EQ(window.running(), 1);
    ASSERT_TRUE(test::processUntil([&] { return served == 1; }, 5s));
    child<QPushButton>("Button1")->click();
    EXPECT_EQ(window.running(), 2);
    ASSERT_TRUE(test::processUntil([&] { return window.running() == 0; }, 15s));
    EXPECT_EQ(window.newsText(), "new");
}

TEST_F(UpdateWindow, ClosingWhileAnExchangeRunsIsSafe) {
    HttpTestServer::Reply silent;
    silent.silent = true;
    HttpTestServer srv([&](const std::string&) { return silent; });
    ScopedEnv server("TARNWICK_UPDATE_SERVER", srv.address());
    auto doomed = std::make_unique<TF_Update>();
    UpdateHttpClient::Limits limits;
    limits.totalTimeout = 300ms;
    doomed->setLimits(limits);
    doomed->show();
    doomed->Button1Click();
    doomed->findChild<QPushButton*>("Button2")->click();
    EXPECT_FALSE(doomed->isVisible());
    doomed.reset();
    // The exchange ends by its deadline and finds nobody to tell.
    std::this_thread::sleep_for(600ms);
    test::processUntil([] { return false; }, 100ms);
}

TEST_F(UpdateWindow, DownloadOpensTheHomePage) {
    ScopedEnv home("TARNWICK_HOMEPAGE", "http://127.0.0.1:9/tarnwick");
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarnupdate" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "applications");
    std::ofstream(dir / "applications/web.desktop") << "[Desktop Entry]\nExec=/opt/web/browse %u\n";
    test::RecordingProcessLauncher rec;
    window.setBrowserLauncher(std::make_shared<BrowserLauncher>(
        rec, [] { return std::string("web.desktop"); },
        [dir] { return std::vector<std::string>{dir.string()}; }));
    std::vector<std::string> messages;
    window.setMessageHandler([&](const std::string& m) { messages.push_back(m); });
    child<QPushButton>("Button3")->click();
    std::filesystem::remove_all(dir);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv,
              (std::vector<std::string>{"/opt/web/browse", "http://127.0.0.1:9/tarnwick"}));
    EXPECT_TRUE(messages.empty());

    // Without a browser the user is told once, with the reason.
    rec.calls.clear();
    window.setBrowserLauncher(std::make_shared<BrowserLauncher>(
        rec, [] { return std::string(); }, [] { return std::vector<std::string>{}; }));
    child<QPushButton>("Button3")->click();
    EXPECT_TRUE(rec.calls.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              std::string(BrowserLauncher::NotDeterminedText) + "http://127.0.0.1:9/tarnwick");
}

} // namespace
} // namespace tarn
