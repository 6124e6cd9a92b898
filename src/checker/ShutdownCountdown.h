#pragma once

#include "platform/PowerOff.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace tarn {

class TF_ShutdownForm;

// The 20-second countdown before a forced power-off that a filter asked for. One timer
// (ShutdownTimer) serves every request; each request opens a countdown window of its own.
class ShutdownCountdown : public QObject {
    Q_OBJECT
public:
    static constexpr int PeriodMs = 20000;

    explicit ShutdownCountdown(PowerOff& powerOff, QObject* parent = nullptr);
    ~ShutdownCountdown() override;

    // Opens a countdown window and (re)starts the period.
    void StartShutdownTimer();
    // The "Abort" button of form: stops the timer and frees that window.
    void AbortShutdown(TF_ShutdownForm* form);
    // A countdown window was closed: stops the timer (the window frees itself).
    void CloseShutdownForm(TF_ShutdownForm* form);
    // The period ran out: ask for the power-off. The timer keeps running, so a refused or
    // failed power-off is tried again every period until the user aborts.
    void ShutdownTimerTimer();

    QTimer& ShutdownTimer() { return m_timer; }
    bool isCounting() const { return m_timer.isActive(); }
    // The latest countdown window, while it exists.
    TF_ShutdownForm* latestForm() const { return m_latest; }
    // Shorter periods for tests.
    void setPeriodMs(int ms) { m_periodMs = ms; }

private:
    PowerOff& m_powerOff;
    QTimer m_timer;
    int m_periodMs = PeriodMs;
    QPointer<TF_ShutdownForm> m_latest;
    QList<QPointer<TF_ShutdownForm>> m_forms;
};

} // namespace tarn
