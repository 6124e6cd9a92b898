#pragma once

#include <string>
#include <vector>

namespace tarn {

// Starts programs without waiting for them. Injectable so that tests of the commands that
// start programs (mail client, browser, log viewer) start nothing.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts argv[0] (searched in PATH when it has no "/") with the given arguments, in its
    // own session, with workingFolder as its current folder (empty: this process's). The
    // caller keeps no handle of it. False when it could not be started.
    virtual bool startDetached(const std::vector<std::string>& argv,
                               const std::string& workingFolder) = 0;
};

// The real launcher (posix_spawn; the child is reaped in the background).
ProcessLauncher& systemProcessLauncher();

// Turns a command line into arguments: double quotes group, and an unquoted program path
// with spaces is recognised when a prefix of the line up to a space names an executable
// file (the shortest such prefix wins). Otherwise the line is split at white space.
std::vector<std::string> commandLineToArgv(const std::string& commandLine);

// Runs argv to its end and returns its standard output, or false when it cannot be started,
// does not end within timeoutMs (it is then killed) or exits with a non-zero status.
bool runAndCapture(const std::vector<std::string>& argv, int timeoutMs, std::string& output);

} // namespace tarn
