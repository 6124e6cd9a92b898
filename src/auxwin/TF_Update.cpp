#include "auxwin/TF_Update.h"

#include "checker/CrossThreadQueue.h"
#include "checker/UiText.h"
#include "core/ProgramAddresses.h"
#include "platform/BrowserLauncher.h"
#include "ui_TF_Update.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <thread>

namespace tarn {

TF_Update::TF_Update(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_ui(std::make_unique<Ui::TF_Update>()) {
    m_ui->setupUi(this);
    setFixedSize(549, 349);
    QStringList info;
    for (const char* line : InformationLines)
        info << QString::fromLatin1(line);
    m_ui->Memo1->setPlainText(info.join(QLatin1Char('\n')));
    // Read-only boxes in the colour of the buttons.
    for (QPlainTextEdit* memo : {m_ui->Memo1, m_ui->Memo2}) {
        QPalette p = memo->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        memo->setPalette(p);
    }
    // The road back from an exchange's thread; it goes with the window, so a late answer
    // finds nobody and is dropped.
    m_queue = new CrossThreadQueue(this);
    m_message = [this](const std::string& text) {
        QMessageBox::information(this, QStringLiteral("Tarnwick"), uiText(text));
    };
    connect(m_ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(m_ui->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(m_ui->Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

TF_Update::~TF_Update() = default;

void TF_Update::setBrowserLauncher(std::shared_ptr<BrowserLauncher> launcher) {
    m_browser = std::move(launcher);
}

QString TF_Update::newsText() const {
    return m_ui->Memo2->toPlainText();
}

void TF_Update::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    show();
    raise();
    activateWindow();
}

void TF_Update::Button1Click() {
    m_ui->Memo2->setPlainText(QString::fromLatin1(ConnectingText));
    const int run = ++m_run;
    ++m_running;
    const std::string server = ProgramAddresses::updateServer();
    const UpdateHttpClient::Limits limits = m_limits;
    const CrossThreadQueue::Link toWindow = m_queue->link();
    ThreadRegistry::Entry entry(m_threads, ThreadRegistry::Kind::UpdateCheck);
    // Detached: the exchange ends by its own deadline, and nothing of the window is touched
    // from its thread except through the queue's link.
    std::thread([this, run, server, limits, toWindow, entry = std::move(entry)] {
        UpdateHttpClient::Reply reply;
        const auto address = UpdateHttpClient::parseServer(server, ProgramAddresses::UpdatePath);
        if (address) {
            reply = UpdateHttpClient(limits).get(*address);
        } else {
            reply.failed = true;
            reply.reason = "The update server \"" + server.substr(0, 200) +
                           "\" is not a host name or host:port.";
        }
        toWindow.post([this, run, reply] { finished(run, reply); });
    }).detach();
}

void TF_Update::finished(int run, const UpdateHttpClient::Reply& reply) {
    --m_running;
    // An older exchange that ends after a newer one was started has nothing to say.
    if (run == m_run)
        m_ui->Memo2->setPlainText(replyText(reply));
    emit checkFinished();
}

QString TF_Update::replyText(const UpdateHttpClient::Reply& reply) {
    if (reply.failed)
        return QString::fromLatin1(FailedText) + QLatin1Char('\n') + uiText(reply.reason);
    if (reply.status >= 400 && reply.body.empty())
        return QString::fromLatin1(FailedText) +
               QStringLiteral("\nThe server answered with status %1.").arg(reply.status);
    QString text = uiText(reply.body);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // A text that ends with a line break has no empty last line.
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (reply.bodyCut)
        text += QStringLiteral("\n\n") + QString::fromLatin1(BodyCutNote);
    return text;
}

void TF_Update::Button2Click() {
    hide();
}

void TF_Update::Button3Click() {
    LaunchHomePage();
}

void TF_Update::LaunchHomePage() {
    if (!m_browser)
        m_browser = std::make_shared<BrowserLauncher>();
    m_browser->LaunchHomePage(ProgramAddresses::homePage(), m_message);
}

} // namespace tarn
