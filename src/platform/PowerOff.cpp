#include "platform/PowerOff.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarn {

namespace {

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

class SystemPowerOff : public PowerOff {
public:
    bool powerOff() override {
        if (isTestRunEnvironment(currentEnvironment()))
            return false;
        // "-i": like a forced shutdown, do not wait for programs that inhibit it.
        char arg0[] = "systemctl";
        char arg1[] = "poweroff";
        char arg2[] = "-i";
        char* argv[] = {arg0, arg1, arg2, nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) != 0)
            return false;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

} // namespace

PowerOff& systemPowerOff() {
    static SystemPowerOff instance;
    return instance;
}

bool isTestRunEnvironment(const std::vector<std::string>& environment) {
    for (const std::string& e : environment) {
        if (startsWith(e, "TARN_TEST_RUN=") || startsWith(e, "CI=") || startsWith(e, "GTEST_"))
            return true;
    }
    return false;
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    return env;
}

} // namespace tarn
