#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The command of a desktop entry's Exec key, taken apart the way desktop launchers do, so
// the program starts without a shell.
//
// The value is first read as a desktop-file string (\s, \n, \t, \r, \\), then split at
// blanks; double quotes group an argument and, inside them, \" \` \$ \\ stand for the
// character. %f and %u become the first target, %F and %U standing alone become every
// target (each one argument), %% a percent sign; the other field codes stand for nothing
// here and go. Nothing comes back for a value that is blank or has an unclosed quote.
std::optional<std::vector<std::string>> parseDesktopExec(std::string_view exec,
                                                         const std::vector<std::string>& targets);

// Whether the value has a field code that takes a file or an address (%f %F %u %U); a
// launcher that has one to pass adds it at the end when there is none.
bool desktopExecTakesTargets(std::string_view exec);

} // namespace tarn
