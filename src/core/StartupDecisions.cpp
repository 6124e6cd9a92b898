#include "core/StartupDecisions.h"

#include "core/Settings.h"

namespace tarn {

bool releaseChanged(std::string_view releaseNr) {
    return releaseNr != kReleaseNr;
}

void Firststart(Settings& settings) {
    TFilter f;
    f.IfCondition = 8; // spam mail is suspected
    f.Active = true;
    f.Account = 0; // any account
    f.Action = 3;  // use custom mail icon
    f.Icon = 12;
    settings.Filters.push_back(f);
    settings.Main.FilterCount = static_cast<int>(settings.Filters.size());
}

StartOnlineDecision decideStartOnline(const MainSettings& main) {
    bool online = true;
    if (main.OnOffline == "off")
        online = false;
    if (main.AlwaysOffline && online)
        online = false;
    StartOnlineDecision d;
    d.goOffline = !online;
    d.hidden = main.Hidden || (main.HideWhenOffline && !online);
    return d;
}

DisplayDecision decideDisplayPlatform(const DisplayEnvironment& env) {
    if (!env.qtPlatform.empty())
        return {};
    const bool wayland = env.sessionType == "wayland" || !env.waylandDisplay.empty();
    if (!wayland)
        return {};
    if (!env.x11Display.empty())
        return {"xcb", "Wayland session: running on XWayland, where the checker window can "
                       "place itself, snap, float and stay on top"};
    return {std::string(),
            "Wayland session without XWayland: the checker window cannot place itself, snap "
            "to the screen's edges, float or stay on top; it shows where the compositor puts "
            "it"};
}

} // namespace tarn
