#pragma once

#include "core/CheckerColors.h"

#include <string>

namespace tarn {

// The global options, in the reader's order. Sections: Main unless noted.
struct MainSettings {
    std::string ReleaseNr = "0";
    std::string OnOffline = "off"; // key "on/offline"
    bool AlwaysOffline = false;
    bool AnimIcons = true;
    bool Blinking = true;
    int Jumpback = 15; // seconds
    bool AutoFloat = false;
    bool Hidden = false;
    bool HideWhenOffline = false;
    bool DYKTStartup = true;
    bool PopupMailList = false;
    bool HideWhenEmpty = false;
    bool KeepLogFile = true;
    int ECount = 0;
    std::string MailCountSound; // default: working folder + "/bip.wav"
    std::string IncomingSound;  // default: working folder + "/incoming.wav"
    int SoundItemIndex = 1;
    int MAXMailCount = 10;
    int PrefsLevel = 0;
    bool Floating = false;
    bool AlwaysOnTop = true;
    bool Round = true;
    bool SnapWindow = true;
    bool KeepMailDB = true; // written as "keepMailDB"
    bool CheckAllWhenGoingOnline = true;
    bool CutWhenOffline = false;
    // Kilobytes. Fits an ordinary newsletter or a message with a photo of today; a tarn.ini
    // written before keeps the value it holds.
    int MaxDownloadSize = 4096;
    int FilterCount = 0;
    bool DesktopNotify = true; // announce new mail through the desktop's notification service
    // Keep saved passwords scrambled in tarn.ini even where a desktop keyring runs.
    bool PasswordsInFile = false;
    // Metrics
    int CheckerWidth = 26;
    int CheckerHeight = 18;
    int VSpace = 8;
    int HSpace = 9;
    int FontSize = 9;
    // Positions; their defaults depend on the screen and the window's size.
    int defaultX = 0;
    int defaultY = 0;
    int alternativeX = 1;
    int alternativeY = 0;
    int currentX = 0;
    int currentY = 0;
    bool ForceTransparency = true;
    bool Transparency = true;
    int TransparencyValue = 255;
    // Section EMailList
    bool ConvertHTML = true;
    bool WrapText = true;

    // The colour set in use and whether it is the blue set (else the gray set).
    CheckerColors Colors = CheckerColors::blueDefaults();
    bool BlueSetInUse = true;

    bool operator==(const MainSettings&) const = default;
};

} // namespace tarn
