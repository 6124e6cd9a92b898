#pragma once

#include <chrono>
#include <cstddef>
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

// How a program run by runBounded ended, and what it wrote.
struct BoundedRun {
    enum class Status {
        NotStarted,    // it could not be started
        Exited,        // it ended by itself (exitCode; -1 when a signal ended it)
        TimedOut,      // it did not end within the limit and was killed
        TooMuchOutput, // it wrote more than allowed and was killed
    };
    Status status = Status::NotStarted;
    int exitCode = -1;
    std::string output; // standard output, at most the cap
    std::string errors; // standard error, at most the cap
};

// Runs argv (standard input from /dev/null) in a process group of its own to its end, within
// limit, keeping at most maxOutput bytes of each of its outputs; a program that runs longer or
// writes more is killed with everything it started. Blocking: not for the GUI thread.
BoundedRun runBounded(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                      std::size_t maxOutput);

} // namespace tarn
