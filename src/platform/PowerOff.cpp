#include "platform/PowerOff.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarn {

namespace {

class CommandPowerOff : public PowerOff {
public:
    explicit CommandPowerOff(std::string program) : m_program(std::move(program)) {}

    bool powerOff() override {
        // "-i": like a forced shutdown, do not wait for programs that inhibit it.
        std::string arg1 = "poweroff";
        std::string arg2 = "-i";
        char* argv[] = {m_program.data(), arg1.data(), arg2.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, m_program.c_str(), nullptr, nullptr, argv, environ) != 0)
            return false;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    std::string m_program;
};

class RefusingPowerOff : public PowerOff {
public:
    bool powerOff() override { return false; }
};

} // namespace

std::unique_ptr<PowerOff> commandPowerOff(std::string program) {
    return std::make_unique<CommandPowerOff>(std::move(program));
}

PowerOff& systemPowerOff() {
    static CommandPowerOff instance("systemctl");
    return instance;
}

PowerOff& refusingPowerOff() {
    static RefusingPowerOff instance;
    return instance;
}

} // namespace tarn
