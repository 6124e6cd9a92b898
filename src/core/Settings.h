#pragma once

#include "core/AccountSettings.h"
#include "core/EMailListSettings.h"
#include "core/MainSettings.h"
#include "core/SettingKeys.h"
#include "core/TFilter.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class IniFile;

inline constexpr std::string_view kReleaseNr = "19";
inline constexpr std::string_view kSettingsFileName = "tarn.ini";
// The screen size assumed when no screen can be asked.
inline constexpr WindowSize kFallbackScreen{800, 800};
// Upper bounds for counts read from the file, so a damaged count cannot make the program
// build millions of accounts or filters.
inline constexpr int kMaxAccounts = 1000;
inline constexpr int kMaxFilters = 10000;

// The whole settings model, filled once at start and written by saveSettings.
struct Settings {
    MainSettings Main;
    std::vector<AccountSettings> Accounts; // Accounts[n - 1] is account n
    std::vector<TFilter> Filters;          // evaluated in this order
    EMailListSettings EMailList;

    AccountSettings& account(int n) { return Accounts.at(static_cast<std::size_t>(n - 1)); }
    const AccountSettings& account(int n) const {
        return Accounts.at(static_cast<std::size_t>(n - 1));
    }
    int accountCount() const { return static_cast<int>(Accounts.size()); }
};

// The six default positions for a screen and the checker window's laid-out size W x H:
// defaultX = currentX = screen width - W; defaultY = alternativeY = currentY = screen height -
// H - 30; alternativeX = 1. Also what "Reset Window Positions" applies.
struct WindowPositions {
    int defaultX, defaultY, alternativeX, alternativeY, currentX, currentY;
};
WindowPositions defaultWindowPositions(WindowSize screen, WindowSize window);

struct SettingsReadInputs {
    std::string workingFolder; // default sound files live here
    WindowSize screen;
    // The checker window's laid-out size, used for the position defaults.
    WindowSize window;
    // When set, asked for the window's size just before the positions are read, with the
    // accounts and metrics already read; replaces `window`.
    std::function<WindowSize(const Settings&)> layout;
};

struct SettingsReadResult {
    bool ReleaseChanged = false; // ReleaseNr is not exactly "19"
    bool FirstStart = false;     // ECount missing, 0 or below 0: one account with defaults
};

// The start-up reader: Main, the colour set, accounts, filters, Metrics, positions and the
// transparency keys, in that order. Never fails; missing or unreadable values take defaults.
// Main.ECount and Main.FilterCount end up equal to the sizes of Accounts and Filters.
SettingsReadResult readSettings(const IniFile& ini, const SettingsReadInputs& inputs,
                                Settings& out);
// Reads <folder>/tarn.ini (a missing or unreadable file reads as empty).
SettingsReadResult loadSettingsFile(const std::string& path, const SettingsReadInputs& inputs,
                                    Settings& out);

// The reader's defaults for account n (1-based) with the colour set in use.
AccountSettings defaultAccount(int n, const CheckerColors& colors);
AccountSettings readAccount(const IniFile& ini, int n, const CheckerColors& colors);
TFilter readFilter(const IniFile& ini, int k);

// Reads the section BlueColorSet, makes it the set in use and marks the blue set as in use.
void BlueColorSet(const IniFile& ini, MainSettings& main);
// Makes the fixed gray set the set in use and marks it. Reads and writes nothing.
void GrayColorSet(MainSettings& main);
// The colour commands: all seven keys of BlueColorSet, BorderSize always 0, the others from
// the colour set in use.
void writeColorSet(IniFile& ini, const CheckerColors& inUse);
void saveColorSet(const std::string& path, const CheckerColors& inUse);

// Run-time facts the writer records that are not part of the model.
struct SaveInputs {
    bool online = false; // on/offline
    bool hidden = false; // checker window not visible now
    int currentX = 0;    // checker window's left edge now
    int currentY = 0;    // checker window's top edge now
};

// Applies the whole model to the document in the writer's order, erasing stale account and
// filter sections. ECount and FilterCount are the sizes of Accounts and Filters.
void saveSettings(IniFile& ini, const Settings& settings, const SaveInputs& now);
// Loads the file, applies saveSettings and replaces the file atomically. On failure the old
// file is untouched and TarnError is thrown.
void saveSettingsFile(const std::string& path, const Settings& settings, const SaveInputs& now);

// "Filter " followed by k.
std::string filterSectionName(int k);
// Joins the working folder and a file name with one separator.
std::string joinPath(std::string_view folder, std::string_view name);

} // namespace tarn
