#include "check/PasswordCommand.h"

#include "platform/ProcessLauncher.h"

namespace tarn {

namespace {

// Standard error as one short printable line for the field hint.
std::string reasonText(const std::string& errors) {
    std::string out;
    bool space = false;
    for (char c : errors) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < ' ' || u == 0x7f) {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
        if (out.size() >= 300) {
            out += "...";
            break;
        }
    }
    return out;
}

std::string seconds(std::chrono::milliseconds t) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(t).count();
    return s >= 1 ? std::to_string(s) + " second" + (s == 1 ? "" : "s")
                  : std::to_string(t.count()) + " ms";
}

} // namespace

CommandSecret runPasswordCommand(const std::string& command, const std::string& what,
                                 std::chrono::milliseconds limit, std::size_t maxOutput) {
    CommandSecret result;
    const BoundedRun run = runBounded({"/bin/sh", "-c", command}, limit, maxOutput);
    switch (run.status) {
    case BoundedRun::Status::NotStarted:
        result.error = "The password command could not be started.";
        return result;
    case BoundedRun::Status::TimedOut:
        result.error = "The password command did not finish within " + seconds(limit) + ".";
        return result;
    case BoundedRun::Status::TooMuchOutput:
        result.error = "The password command wrote more than " + std::to_string(maxOutput / 1024) +
                       " KiB; it should print the " + what + " on one line.";
        return result;
    case BoundedRun::Status::Exited:
        break;
    }
    if (run.exitCode != 0) {
        const std::string why = reasonText(run.errors);
        result.error = "The password command failed (" +
                       (run.exitCode < 0 ? std::string("ended by a signal")
                                         : "exit status " + std::to_string(run.exitCode)) +
                       ")" + (why.empty() ? "." : ": " + why);
        return result;
    }
    std::string line = run.output.substr(0, run.output.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty()) {
        result.error = "The password command printed no " + what + ".";
        return result;
    }
    if (line.find('\0') != std::string::npos) {
        result.error = "The " + what + " the password command printed holds a NUL byte.";
        return result;
    }
    result.secret = std::move(line);
    return result;
}

} // namespace tarn
