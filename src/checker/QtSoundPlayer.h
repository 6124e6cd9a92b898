#pragma once

#include "checker/CrossThreadQueue.h"
#include "core/NewMailSounds.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class QAudioDecoder;
class QAudioSink;
class QIODevice;

namespace tarn {

// The program's media player (MediaPlayer1). Lives on the main thread; play() may be called
// from any thread: a worker thread waits until the file has finished, the main thread runs a
// local event loop meanwhile. A file that cannot be opened or played, or that does not finish
// in time, makes play() return false.
//
// A file is decoded whole first and then handed to the sound server as one stream, as fast as
// the server takes it, and the play ends when the server has played it out. A media pipeline
// that paces itself by its own clock loses pieces and the end of short sounds whenever the
// server works in large blocks, and starts each file slowly.
class QtSoundPlayer : public QObject, public SoundPlayer {
    Q_OBJECT
public:
    // Decoded sound kept at most; a longer file plays its beginning.
    static constexpr qsizetype MaxDecodedBytes = 32 * 1024 * 1024;
    // Silence played around each file, so that starting and stopping the stream never cut
    // the sound itself.
    static constexpr int LeadingSilenceMs = 50;
    static constexpr int TrailingSilenceMs = 80;

    explicit QtSoundPlayer(QObject* parent = nullptr);
    ~QtSoundPlayer() override;

    bool play(const std::string& file) override;

    // Time allowed for decoding a file and starting it; once decoded it may play for its
    // length plus the same allowance.
    void setAllowanceMs(int ms) { m_allowanceMs = ms; }
    int allowanceMs() const { return m_allowanceMs; }

private:
    struct Request;

    void start(const std::shared_ptr<Request>& request);
    void decoded();
    void feed();
    void finish(bool ok);

    QAudioDecoder* m_decoder = nullptr;
    QAudioSink* m_sink = nullptr;
    QIODevice* m_sinkInput = nullptr;
    QAudioFormat m_format;
    QByteArray m_pcm;
    qsizetype m_written = 0;
    QTimer m_feedTimer;
    // Without any audio output the file "plays" silently for its length.
    QTimer m_silentTimer;
    QTimer m_guard;
    std::shared_ptr<Request> m_current;
    std::atomic<int> m_allowanceMs{15000};

    std::mutex m_pendingGuard;
    std::set<std::shared_ptr<Request>> m_pending;
    CrossThreadQueue m_toMain;
};

} // namespace tarn
