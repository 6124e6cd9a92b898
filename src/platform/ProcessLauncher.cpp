#include "platform/ProcessLauncher.h"

#include "core/AsciiText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarn {

namespace {

bool waitForChild(pid_t pid, int& status) {
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

std::vector<char*> cArgv(const std::vector<std::string>& argv) {
    std::vector<char*> v;
    for (const std::string& a : argv)
        v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    return v;
}

class SystemProcessLauncher : public ProcessLauncher {
public:
    bool startDetached(const std::vector<std::string>& argv,
                       const std::string& workingFolder) override {
        if (argv.empty() || argv[0].empty())
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attr;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        if (!workingFolder.empty())
            posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
        // A session of its own, like a new console group: the user's signals to this
        // program do not reach the started one.
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        std::vector<char*> args = cArgv(argv);
        pid_t pid = 0;
        const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (rc != 0)
            return false;
        // Nobody waits for the program; reap it when it ends so it leaves no zombie.
        std::thread([pid] {
            int status = 0;
            waitForChild(pid, status);
        }).detach();
        return true;
    }
};

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> splitQuoted(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    bool inQuotes = false;
    bool have = false;
    for (char c : s) {
        if (c == '"') {
            inQuotes = !inQuotes;
            have = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

} // namespace

ProcessLauncher& systemProcessLauncher() {
    static SystemProcessLauncher instance;
    return instance;
}

std::vector<std::string> commandLineToArgv(const std::string& commandLine) {
    const std::string line(trimLeftSpaceTab(commandLine));
    if (line.empty())
        return {};
    if (line[0] != '"') {
        for (std::size_t sp = line.find(' '); sp != std::string::npos;
             sp = line.find(' ', sp + 1)) {
            const std::string prefix = line.substr(0, sp);
            if (prefix.find('/') != std::string::npos && isExecutableFile(prefix)) {
                std::vector<std::string> argv{prefix};
                for (std::string& a : splitQuoted(line.substr(sp + 1)))
                    argv.push_back(std::move(a));
                return argv;
            }
        }
        const std::string whole(trimSpaceTab(line));
        if (whole.find('/') != std::string::npos && isExecutableFile(whole))
            return {whole};
    }
    return splitQuoted(line);
}

bool runAndCapture(const std::vector<std::string>& argv, int timeoutMs, std::string& output) {
    output.clear();
    if (argv.empty())
        return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args = cArgv(argv);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int pr = poll(&p, 1, static_cast<int>(left));
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr <= 0) {
            timedOut = pr == 0;
            break;
        }
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output.append(buf, static_cast<std::size_t>(n));
        if (output.size() > 1024 * 1024) {
            timedOut = true; // a runaway writer is treated like a hang
            break;
        }
    }
    close(fds[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    if (!waitForChild(pid, status))
        return false;
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace tarn

namespace tarn {

BoundedRun runBounded(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                      std::size_t maxOutput) {
    BoundedRun run;
    if (argv.empty())
        return run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its own process group, so that a time-out ends what a shell started too.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> args = cArgv(argv);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        return run;
    }
    run.status = BoundedRun::Status::Exited;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool outOpen = true;
    bool errOpen = true;
    bool exited = false;
    int status = 0;
    char buf[4096];
    const auto drain = [&](int k, int fd) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            (k == 0 ? outOpen : errOpen) = false;
            return;
        }
        std::string& into = k == 0 ? run.output : run.errors;
        into.append(buf, static_cast<std::size_t>(n));
        if (into.size() > maxOutput) {
            into.resize(maxOutput);
            run.status = BoundedRun::Status::TooMuchOutput;
        }
    };
    while (run.status == BoundedRun::Status::Exited) {
        if (!exited) {
            const pid_t w = waitpid(pid, &status, WNOHANG);
            exited = w == pid;
        }
        if (exited && !outOpen && !errOpen)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            // A program that ended but left a child holding its outputs has said all it will.
            if (!exited)
                run.status = BoundedRun::Status::TimedOut;
            break;
        }
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        // Short rounds while it runs, so that its end is seen even when a child of it keeps
        // the outputs open.
        const int pr = poll(p, 2, static_cast<int>(std::min<long long>(left, 20)));
        if (pr < 0 && errno != EINTR)
            break;
        if (pr <= 0) {
            if (exited)
                break; // ended, and nothing more is coming now
            continue;
        }
        for (int k = 0; k < 2; ++k)
            if (p[k].fd >= 0 && p[k].revents != 0)
                drain(k, p[k].fd);
    }
    close(out[0]);
    close(err[0]);
    // Whatever it started and left behind in its group goes with it.
    kill(-pid, SIGKILL);
    if (!exited && !waitForChild(pid, status)) {
        run.status = BoundedRun::Status::NotStarted;
        return run;
    }
    if (run.status == BoundedRun::Status::Exited)
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace tarn
