#include "checker/TrayAnimation.h"

namespace tarn {

TrayAnimation::TrayAnimation(QObject* parent) : QObject(parent) {
    m_timer.setInterval(FrameIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TrayAnimation::step);
}

void TrayAnimation::start(const QList<QIcon>& frames) {
    m_frames = frames;
    m_frame = -1;
    if (m_frames.isEmpty()) {
        m_timer.stop();
        return;
    }
    // The timer runs before frame 0 shows, so a stop from the first step's handler holds.
    m_timer.start();
    step();
}

void TrayAnimation::stop() {
    m_timer.stop();
}

void TrayAnimation::step() {
    if (m_frames.isEmpty())
        return;
    m_frame = (m_frame + 1) % m_frames.size();
    emit frameChanged(m_frames.at(m_frame), m_frame);
    emit stepped();
}

} // namespace tarn
