#include "checker/ShutdownCountdown.h"

#include "checker/TF_ShutdownForm.h"

namespace tarn {

ShutdownCountdown::ShutdownCountdown(PowerOff& powerOff, QObject* parent)
    : QObject(parent), m_powerOff(powerOff) {
    m_timer.setObjectName("ShutdownTimer");
    m_timer.setSingleShot(false);
    // A coarse timer may drift by 5 %, a second either way over the period.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ShutdownCountdown::ShutdownTimerTimer);
}

ShutdownCountdown::~ShutdownCountdown() {
    m_timer.stop();
    // The windows belong to the application; they must not call back into a gone object.
    for (const QPointer<TF_ShutdownForm>& f : m_forms)
        if (f)
            f->disconnect(this);
}

void ShutdownCountdown::StartShutdownTimer() {
    auto* form = new TF_ShutdownForm();
    connect(form, &TF_ShutdownForm::abortClicked, this, &ShutdownCountdown::AbortShutdown);
    connect(form, &TF_ShutdownForm::closed, this, &ShutdownCountdown::CloseShutdownForm);
    m_forms.removeAll(QPointer<TF_ShutdownForm>());
    m_forms.append(form);
    m_latest = form;
    form->show();
    form->raise();
    m_timer.start(m_periodMs);
}

void ShutdownCountdown::AbortShutdown(TF_ShutdownForm* form) {
    m_timer.stop();
    if (form)
        form->close();
}

void ShutdownCountdown::CloseShutdownForm(TF_ShutdownForm*) {
    m_timer.stop();
}

void ShutdownCountdown::ShutdownTimerTimer() {
    m_powerOff.powerOff();
}

} // namespace tarn
