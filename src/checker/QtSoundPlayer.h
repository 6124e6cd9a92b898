#pragma once

#include "checker/CrossThreadQueue.h"
#include "core/NewMailSounds.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class QAudioOutput;
class QMediaPlayer;

namespace tarn {

// The program's media player (MediaPlayer1). Lives on the main thread; play() may be called
// from any thread: a worker thread waits until the file has finished, the main thread runs a
// local event loop meanwhile. A file that cannot be opened or played, or that does not finish
// in time, makes play() return false.
class QtSoundPlayer : public QObject, public SoundPlayer {
    Q_OBJECT
public:
    explicit QtSoundPlayer(QObject* parent = nullptr);
    ~QtSoundPlayer() override;

    bool play(const std::string& file) override;

    // Time allowed for opening a file and starting it; once its length is known it may play
    // for that long plus the same allowance.
    void setAllowanceMs(int ms) { m_allowanceMs = ms; }
    int allowanceMs() const { return m_allowanceMs; }

private:
    struct Request;

    void start(const std::shared_ptr<Request>& request);
    void finish(bool ok);
    void onDurationKnown(qint64 ms);

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_output = nullptr;
    QTimer m_guard;
    std::shared_ptr<Request> m_current;
    std::atomic<int> m_allowanceMs{15000};

    std::mutex m_pendingGuard;
    std::set<std::shared_ptr<Request>> m_pending;
    CrossThreadQueue m_toMain;
};

} // namespace tarn
