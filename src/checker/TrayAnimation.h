#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QTimer>

namespace tarn {

// Steps through a list of tray pictures, one every 120 ms, from the first, wrapping after
// the last. Stopping leaves the last frame shown until someone sets another picture.
class TrayAnimation : public QObject {
    Q_OBJECT
public:
    static constexpr int FrameIntervalMs = 120;

    explicit TrayAnimation(QObject* parent = nullptr);

    void start(const QList<QIcon>& frames);
    void stop();
    bool isRunning() const { return m_timer.isActive(); }
    int currentFrame() const { return m_frame; }
    void setInterval(int ms) { m_timer.setInterval(ms); }

signals:
    // A new frame is to be shown; then the step handler of the caller runs.
    void frameChanged(const QIcon& icon, int index);
    void stepped();

private:
    void step();

    QTimer m_timer;
    QList<QIcon> m_frames;
    int m_frame = -1;
};

} // namespace tarn
