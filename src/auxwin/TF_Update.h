#pragma once

#include "check/ThreadRegistry.h"
#include "net/UpdateHttpClient.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class TF_Update;
}

class QPlainTextEdit;
class QPushButton;

namespace tarn {

class BrowserLauncher;
class CrossThreadQueue;

// "Check for Updates": fetches the news for this release from the update server and shows
// it, and opens the home page. The exchange runs on a thread of its own, so the window
// stays responsive; only the answer to the latest "Check Now" is shown.
class TF_Update : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* InformationLines[] = {
        "Click on the <Check Now> button, and Tarnwick will automatically find out, if there ",
        "is a newer version of this program available. The <News and Updates> box below will "
        "then ",
        "show the latest information on your Tarnwick Version; i.e. if there already exists a ",
        "new version or other important news that might interest you. ",
        "",
        "Clicking on the button however, will NOT download any components. For the latest ",
        "downloads, please visit the Tarnwick homepage.",
        "",
        "Note that you have to be connected to the internet when you press the <Check Now> "
        "button! ",
        "",
        "You may not be able to use this feature if you can access http only through a proxy "
        "server.",
    };
    static constexpr const char* NotConnectedText = "Not Connected";
    static constexpr const char* ConnectingText = "Connecting...\nThis could take a few seconds";
    static constexpr const char* FailedText = "Connection failed";
    static constexpr const char* BodyCutNote =
        "[The answer was longer than 1 MB; only its first 1 MB is shown.]";

    using Message = std::function<void(const std::string&)>;

    explicit TF_Update(QWidget* parent = nullptr);
    ~TF_Update() override;

    // "Check Now": starts the exchange; the box says "Connecting..." until it ends.
    void Button1Click();
    // "Close".
    void Button2Click();
    // "Download New Version...": the home page in the default browser.
    void Button3Click();
    // The browser launcher's work behind "Download New Version..." (also the about box's).
    void LaunchHomePage();

    // What the "News and Updates" box shows for a finished exchange.
    static QString replyText(const UpdateHttpClient::Reply& reply);

    // --- for the application and the tests ---
    void setLimits(const UpdateHttpClient::Limits& limits) { m_limits = limits; }
    void setBrowserLauncher(std::shared_ptr<BrowserLauncher> launcher);
    // Where the exchanges' threads register, so the program's exit can wait for them. A thread
    // holds the registry until it has left it, however long it outlives the window.
    void setThreadRegistry(std::shared_ptr<ThreadRegistry> threads) {
        m_threads = std::move(threads);
    }
    // Where the browser launcher's messages go (default: a message box).
    void setMessageHandler(Message handler) { m_message = std::move(handler); }
    QString newsText() const;
    // Exchanges started and not yet finished.
    int running() const { return m_running; }
    // Shows the window centred on the desktop and activates it.
    void showCentred();

signals:
    // An exchange ended and its answer is in the box (or was dropped for a newer one).
    void checkFinished();

private:
    void finished(int run, const UpdateHttpClient::Reply& reply);

    std::unique_ptr<Ui::TF_Update> m_ui;
    CrossThreadQueue* m_queue = nullptr;
    std::shared_ptr<ThreadRegistry> m_threads;
    UpdateHttpClient::Limits m_limits;
    std::shared_ptr<BrowserLauncher> m_browser;
    Message m_message;
    int m_run = 0;
    int m_running = 0;
};

} // namespace tarn
