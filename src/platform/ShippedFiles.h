#pragma once

#include <string>
#include <vector>

namespace tarn {

// The default files the program ships (sounds, tips, help, read-me, FAQ): found in the
// installation's share folder, or beside the program in a build folder, and copied into a
// working folder that lacks them.
class ShippedFiles {
public:
    static constexpr const char* SubFolder = "share/tarnwick";

    // The first of PROGRAM_DIR/../share/tarnwick and PROGRAM_DIR/share/tarnwick that is a
    // folder; empty when neither is.
    static std::string folderFor(const std::string& programPath);
    // This process's program file (/proc/self/exe); empty when unknown.
    static std::string ownProgramPath();
    // Copies every file of `from` that `to` does not have yet; never replaces one. Returns the
    // names copied. Failures are collected in `errors` and do not stop the others.
    static std::vector<std::string> copyMissing(const std::string& from, const std::string& to,
                                                std::vector<std::string>& errors);
};

} // namespace tarn
