#pragma once

#include "check/Session.h"
#include "core/Scheduler.h"

namespace tarn {

// The scheduler's host where there is no window: nothing to paint, blink or animate; only
// whether any message is shown comes from the session.
class QuietSchedulerHost : public SchedulerHost {
public:
    explicit QuietSchedulerHost(Session& session) : m_session(session) {}
    void PaintField(int, std::uint32_t) override {}
    void setOnlineCaption(const std::string&) override {}
    bool checkerVisible() const override { return false; }
    void hideForOffline() override {}
    void showForOnline() override {}
    void showOfflineIcon() override {}
    bool trayAnimating() const override { return false; }
    void startTrayAnimation(bool) override {}
    void stopTrayAnimation() override {}
    void UpdateTrayState() override {}
    bool anyShownMessage() override { return m_session.AnyShownMessage(); }

private:
    Session& m_session;
};

} // namespace tarn
