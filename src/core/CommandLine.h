#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn {

// The preferences' file name unless "-prefs" names another.
inline constexpr const char* kDefaultPrefsName = "prefs.dat";

// Options applied before the settings are read.
struct CommandLineBefore {
    std::string WorkingFolder;
    bool AddMenu = false;
    std::string PrefsName = kDefaultPrefsName;
};

// Options applied after the settings are read.
struct CommandLineAfter {
    bool Offline = false; // go offline if online
    std::optional<int> X; // left edge and currentX
    std::optional<int> Y; // top edge and currentY
};

// Both read every word of `args` (the words after the program name), comparing each with the
// option names exactly and case-sensitively. An option's argument is the next word, which is
// itself compared with the option names as well. Repeated options: the last usable one wins.
//
// "-d" FOLDER: the working folder becomes FOLDER without one trailing '\' or '/'; a lone '\'
// or '/', an empty word, or a missing argument leaves it unchanged. "-addmenu" sets AddMenu.
// "-prefs" NAME sets PrefsName (not when NAME is missing).
CommandLineBefore comandlinebefore(const std::vector<std::string>& args, std::string currentFolder);
// "-offline" sets Offline. "-x"/"-y" take a number read like a settings integer (decimal, or
// hex after "$"/"0x"); a missing or non-numeric argument is ignored.
CommandLineAfter comandlineafter(const std::vector<std::string>& args);

} // namespace tarn
