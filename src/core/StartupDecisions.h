#pragma once

#include "core/MainSettings.h"

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

} // namespace tarn
