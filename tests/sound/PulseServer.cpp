#include "sound/PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace tarn::test {

namespace {

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Starts program with args, its output to outFile and its errors to errFile, with extra
// environment variables; returns its pid.
pid_t spawn(const std::vector<std::string>& args, const std::string& outFile,
            const std::string& errFile, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> env;
    for (auto& e : envStore)
        env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// Ends a child by its pid: politely first, then for good.
void stopChild(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

bool socketAnswers(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        ::close(fd);
        return false;
    }
    std::strcpy(a.sun_path, path.c_str());
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

bool PulseServer::available() {
    return onPath("pulseaudio") && onPath("parec");
}

bool PulseServer::required() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

PulseServer::PulseServer() {
    std::string tmpl = (fs::temp_directory_path() / "tarnpulse.XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("PulseServer: mkdtemp failed");
    m_dir = tmpl;
    for (const char* sub : {"/run", "/state", "/home"})
        fs::create_directories(m_dir + sub);
    ::chmod((m_dir + "/run").c_str(), 0700);
    const std::vector<std::string> args = {
        "pulseaudio",
        "-n", // no default configuration: only the modules below
        "--daemonize=no",
        "--use-pid-file=no",
        "--exit-idle-time=-1",
        "--disallow-module-loading=no",
        "--log-target=stderr",
        "-L",
        std::string("module-null-sink sink_name=") + SinkName +
            " rate=" + std::to_string(RecordRate),
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + m_dir + "/native",
    };
    const std::vector<std::string> env = {
        "PULSE_RUNTIME_PATH=" + m_dir + "/run",
        "PULSE_STATE_PATH=" + m_dir + "/state",
        "XDG_RUNTIME_DIR=" + m_dir + "/run",
        "XDG_CONFIG_HOME=" + m_dir + "/home",
        "HOME=" + m_dir + "/home",
    };
    m_pid = spawn(args, m_dir + "/server.out", m_dir + "/server.log", env);
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!socketAnswers(m_dir + "/native")) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            const std::string why = "pulseaudio ended at start:\n" + log();
            fs::remove_all(m_dir);
            throw std::runtime_error(why);
        }
        if (std::chrono::steady_clock::now() > end) {
            const std::string why = "pulseaudio did not answer within 15 s:\n" + log();
            stopChild(m_pid);
            fs::remove_all(m_dir);
            throw std::runtime_error(why);
        }
        std::this_thread::sleep_for(20ms);
    }
}

PulseServer::~PulseServer() {
    stopChild(m_pid);
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

std::string PulseServer::log() const {
    return readAll(m_dir + "/server.log");
}

PulseServer::Recording::Recording(const PulseServer& server) {
    m_file = server.m_dir + "/recording.raw";
    // A small latency keeps the sink working in short blocks, so the recording's timeline
    // is the one a listener hears.
    m_pid =
        spawn({"parec", "--server=" + server.address(),
               "--device=" + std::string(SinkName) + ".monitor", "--format=s16le", "--channels=1",
               "--rate=" + std::to_string(RecordRate), "--raw", "--latency-msec=30"},
              m_file, server.m_dir + "/parec.log", {});
    // Recording has begun once the monitor's silence arrives.
    const auto end = std::chrono::steady_clock::now() + 10s;
    std::error_code ec;
    while (fs::file_size(m_file, ec) == 0 || ec) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("parec ended at start:\n" +
                                     readAll(server.m_dir + "/parec.log"));
        }
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("parec recorded nothing within 10 s:\n" +
                                     readAll(server.m_dir + "/parec.log"));
        std::this_thread::sleep_for(10ms);
    }
}

PulseServer::Recording::~Recording() {
    stopChild(m_pid);
}

std::vector<std::int16_t> PulseServer::Recording::stop() {
    stopChild(m_pid);
    m_pid = -1;
    const std::string bytes = readAll(m_file);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

} // namespace tarn::test
