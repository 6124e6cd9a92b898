#pragma once

#include "core/MainSettings.h"

#include <string>
#include <string_view>

namespace tarn {

struct Settings;

// True when the file was written by another release (anything but exactly "19").
bool releaseChanged(std::string_view releaseNr);

// Appends the filter of a first start (suspected spam gets custom icon 12, any account) and
// raises FilterCount.
void Firststart(Settings& settings);

// The online state and visibility the read settings ask for at start. The window starts
// online; at most one Online command is needed to go offline.
struct StartOnlineDecision {
    bool goOffline = false; // invoke the Online command once
    bool hidden = false;    // the resulting Hidden setting
};
// on/offline "off" (exactly) goes offline; AlwaysOffline goes offline if still online;
// HideWhenOffline with the program offline hides the window.
StartOnlineDecision decideStartOnline(const MainSettings& main);

// The display the program runs on. The checker window places itself, snaps, floats and
// stays on top through X11 window positions, which a Wayland compositor does not grant; in
// a Wayland session with XWayland it therefore runs on XWayland.
struct DisplayEnvironment {
    std::string qtPlatform;     // QT_QPA_PLATFORM: the user's own choice wins
    std::string sessionType;    // XDG_SESSION_TYPE
    std::string waylandDisplay; // WAYLAND_DISPLAY
    std::string x11Display;     // DISPLAY: set by the session when XWayland is there
};
struct DisplayDecision {
    std::string qtPlatform; // to set as QT_QPA_PLATFORM; empty: leave it
    std::string logLine;    // what the log says; empty: nothing
};
DisplayDecision decideDisplayPlatform(const DisplayEnvironment& env);

} // namespace tarn
