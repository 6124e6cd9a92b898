#include "checker/QtSoundPlayer.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QAudioDevice>
#include <QAudioSink>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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
    m_decoder = new QAudioDecoder(this);
    connect(m_decoder, &QAudioDecoder::bufferReady, this, [this] {
        const QAudioBuffer buffer = m_decoder->read();
        if (!m_current || !buffer.isValid())
            return;
        if (m_pcm.isEmpty())
            m_format = buffer.format();
        else if (buffer.format() != m_format)
            return; // one stream, one format
        const qsizetype room = MaxDecodedBytes - m_pcm.size();
        m_pcm.append(buffer.constData<char>(), std::min<qsizetype>(room, buffer.byteCount()));
        if (m_pcm.size() >= MaxDecodedBytes) {
            m_decoder->stop();
            decoded();
        }
    });
    connect(m_decoder, &QAudioDecoder::finished, this, &QtSoundPlayer::decoded);
    connect(m_decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), this,
            [this](QAudioDecoder::Error error) {
                if (error != QAudioDecoder::NoError)
                    finish(false);
            });
    m_feedTimer.setSingleShot(true);
    connect(&m_feedTimer, &QTimer::timeout, this, &QtSoundPlayer::feed);
    m_silentTimer.setSingleShot(true);
    connect(&m_silentTimer, &QTimer::timeout, this, [this] { finish(true); });
    m_guard.setSingleShot(true);
    connect(&m_guard, &QTimer::timeout, this, [this] { finish(false); });
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
    m_current = request;
    m_pcm.clear();
    m_written = 0;
    m_format = QAudioFormat();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(request->deadline -
                                                                            SteadyClock::now());
    m_guard.start(std::max<int>(1, static_cast<int>(left.count())));
    m_decoder->setSource(QUrl()); // so that the same file is decoded again from its start
    m_decoder->setSource(
        QUrl::fromLocalFile(QFileInfo(QString::fromStdString(request->file)).absoluteFilePath()));
    m_decoder->start();
}

void QtSoundPlayer::decoded() {
    if (!m_current || m_sink || m_silentTimer.isActive())
        return;
    if (m_pcm.isEmpty() || !m_format.isValid()) {
        finish(false);
        return;
    }
    // The time left is counted from here: the file's length plus the allowance.
    const qint64 lengthMs = m_format.durationForBytes(
                                static_cast<qint32>(std::min<qsizetype>(m_pcm.size(), INT32_MAX))) /
                            1000;
    const qint64 total = lengthMs + m_allowanceMs.load();
    m_current->extendTo(SteadyClock::now() + std::chrono::milliseconds(total));
    m_guard.start(static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max())));

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        // Nothing to play on: keep the sequence's timing, as a muted player would.
        m_silentTimer.start(static_cast<int>(std::max<qint64>(1, lengthMs)));
        return;
    }
    // A new stream starts running before its first data arrives, and stopping it at the end
    // drops what the server still holds: short silences before and after the sound absorb
    // both, so that the sound itself plays whole.
    const char silence = m_format.sampleFormat() == QAudioFormat::UInt8 ? char(0x80) : char(0);
    m_pcm.prepend(QByteArray(m_format.bytesForDuration(LeadingSilenceMs * 1000), silence));
    m_pcm.append(QByteArray(m_format.bytesForDuration(TrailingSilenceMs * 1000), silence));
    m_sink = new QAudioSink(device, m_format, this);
    // Room for the whole sound where the server allows it, so that it never runs dry.
    m_sink->setBufferSize(static_cast<qsizetype>(std::min<qsizetype>(m_pcm.size(), 1 << 20)));
    connect(m_sink, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (!m_sink)
            return;
        if (state == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
            finish(false);
        } else if (state == QAudio::IdleState) {
            // Idle once everything was handed over: the server has played it out.
            if (m_written >= m_pcm.size())
                finish(true);
            else
                feed();
        }
    });
    m_sinkInput = m_sink->start();
    if (!m_sinkInput || m_sink->error() == QAudio::OpenError) {
        finish(false);
        return;
    }
    feed();
}

void QtSoundPlayer::feed() {
    if (!m_sink || !m_sinkInput)
        return;
    while (m_written < m_pcm.size()) {
        const qsizetype room = m_sink->bytesFree();
        if (room <= 0)
            break;
        const qint64 n = m_sinkInput->write(m_pcm.constData() + m_written,
                                            std::min<qsizetype>(room, m_pcm.size() - m_written));
        if (n <= 0)
            break;
        m_written += n;
    }
    if (m_written < m_pcm.size())
        m_feedTimer.start(10);
}

void QtSoundPlayer::finish(bool ok) {
    if (!m_current)
        return;
    std::shared_ptr<Request> request = std::move(m_current);
    m_current.reset();
    m_guard.stop();
    m_feedTimer.stop();
    m_silentTimer.stop();
    m_decoder->stop();
    if (QAudioSink* sink = m_sink) {
        m_sink = nullptr;
        m_sinkInput = nullptr;
        sink->disconnect(this);
        sink->stop();
        sink->deleteLater();
    }
    m_pcm = QByteArray();
    request->complete(ok);
}

} // namespace tarn
