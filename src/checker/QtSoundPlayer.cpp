#include "checker/QtSoundPlayer.h"

#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>

namespace tarn {

using SteadyClock = std::chrono::steady_clock;

struct QtSoundPlayer::Request {
    std::string file; // bytes, so that no Qt object crosses threads
    std::mutex guard;
    std::condition_variable changed;
    bool done = false;
    bool ok = false;
    SteadyClock::time_point deadline;
    std::function<void()> onDone; // main-thread caller's event loop

    void complete(bool result) {
        std::function<void()> notify;
        {
            std::lock_guard<std::mutex> g(guard);
            if (done)
                return;
            done = true;
            ok = result;
            notify = onDone;
        }
        changed.notify_all();
        if (notify)
            notify();
    }
    void extendTo(SteadyClock::time_point t) {
        {
            std::lock_guard<std::mutex> g(guard);
            if (t > deadline)
                deadline = t;
        }
        changed.notify_all();
    }
};

QtSoundPlayer::QtSoundPlayer(QObject* parent) : QObject(parent), m_toMain(this) {
    m_player = new QMediaPlayer(this);
    m_output = new QAudioOutput(this);
    m_player->setAudioOutput(m_output);
    m_guard.setSingleShot(true);
    connect(&m_guard, &QTimer::timeout, this, [this] { finish(false); });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::EndOfMedia)
                    finish(true);
                else if (status == QMediaPlayer::InvalidMedia)
                    finish(false);
            });
    connect(m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString&) {
                if (error != QMediaPlayer::NoError)
                    finish(false);
            });
    connect(m_player, &QMediaPlayer::durationChanged, this, &QtSoundPlayer::onDurationKnown);
}

QtSoundPlayer::~QtSoundPlayer() {
    finish(false);
    std::set<std::shared_ptr<Request>> pending;
    {
        std::lock_guard<std::mutex> g(m_pendingGuard);
        pending.swap(m_pending);
    }
    // Waiting workers must not wait for a player that is gone.
    for (const auto& r : pending)
        r->complete(false);
}

bool QtSoundPlayer::play(const std::string& file) {
    const QString path = QString::fromStdString(file);
    if (!QFileInfo(path).isFile())
        return false;

    auto request = std::make_shared<Request>();
    request->file = file;
    request->deadline = SteadyClock::now() + std::chrono::milliseconds(m_allowanceMs.load());

    if (QThread::currentThread() == thread()) {
        // On the main thread: keep the program alive while the file plays.
        QEventLoop loop;
        request->onDone = [&loop] {
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        };
        start(request);
        {
            std::lock_guard<std::mutex> g(request->guard);
            if (request->done)
                return request->ok;
        }
        loop.exec();
        std::lock_guard<std::mutex> g(request->guard);
        return request->done && request->ok;
    }

    {
        std::lock_guard<std::mutex> g(m_pendingGuard);
        m_pending.insert(request);
    }
    m_toMain.post([this, request] { start(request); });

    std::unique_lock<std::mutex> lock(request->guard);
    while (!request->done) {
        const SteadyClock::time_point deadline = request->deadline;
        if (request->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            !request->done && request->deadline <= SteadyClock::now()) {
            // The main thread did not get to it in time; give up on this file. The request
            // is marked so that the main thread drops it.
            request->done = true;
            request->ok = false;
            return false;
        }
    }
    return request->ok;
}

void QtSoundPlayer::start(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard<std::mutex> g(m_pendingGuard);
        m_pending.erase(request);
    }
    {
        std::lock_guard<std::mutex> g(request->guard);
        if (request->done)
            return; // its caller gave up already
    }
    finish(false); // a sound still running is cut off
    m_player->stop();
    m_player->setSource(QUrl()); // so that the same file plays again from its start
    m_current = request;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(request->deadline -
                                                                            SteadyClock::now());
    m_guard.start(std::max<int>(1, static_cast<int>(left.count())));
    m_player->setSource(
        QUrl::fromLocalFile(QFileInfo(QString::fromStdString(request->file)).absoluteFilePath()));
    if (m_current == request)
        m_player->play();
}

void QtSoundPlayer::onDurationKnown(qint64 ms) {
    if (!m_current || ms <= 0)
        return;
    const int allowance = m_allowanceMs.load();
    const qint64 total = ms + allowance;
    m_current->extendTo(SteadyClock::now() + std::chrono::milliseconds(total));
    m_guard.start(static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max())));
}

void QtSoundPlayer::finish(bool ok) {
    if (!m_current)
        return;
    std::shared_ptr<Request> request = std::move(m_current);
    m_current.reset();
    m_guard.stop();
    m_player->stop();
    request->complete(ok);
}

} // namespace tarn
