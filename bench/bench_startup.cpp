// Whole-program figures of the desktop program: start-up to the shown checker window with 20
// accounts and a saved list of 10,000 messages, and the longest gap between message-loop turns
// while four accounts are checked at once against a local POP3 responder.
#include "check/Session.h"
#include "core/PasswordScrambling.h"
#include "store/MailStoreFiles.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The program built with the measuring hooks (tarnwick_measured.cpp) beside the benchmarks.
std::string programPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
            "tarnwick-measured")
        .string();
}

std::string makeFolder() {
    char tmpl[] = "/tmp/tarn-bench-XXXXXX";
    return ::mkdtemp(tmpl);
}

void writeSettings(const std::string& folder, int accounts, int port) {
    std::ofstream ini(folder + "/tarn.ini");
    ini << "[Main]\nReleaseNr=19\non/offline=on\nkeepMailDB=1\nDYKTStartup=0\nECount=" << accounts
        << "\n";
    for (int a = 1; a <= accounts; ++a)
        ini << "[" << a << "]\nName=Account " << a << "\nHost=127.0.0.1:" << port << "\nUserID=u"
            << a << "\nPassword=" << tarn::storedPasswordText("p") << "\nTimer=600000\n";
}

void writeList(const std::string& folder, int messages, int accounts) {
    tarn::Session s(folder, tarn::systemClock(), "-bench");
    for (int i = 0; i < messages; ++i) {
        tarn::MailRecord r;
        r.UID = "uid-" + std::to_string(i);
        r.Account = 1 + i % accounts;
        r.Subject = "Subject number " + std::to_string(i);
        r.Sender = "sender" + std::to_string(i % 97) + "@example.org";
        r.Size = 1000 + i;
        s.db().AppendMessage(r);
    }
    tarn::MailStoreFiles::SaveStore(s.db(), folder, true);
}

// Runs the program until `until` appears on its stderr (or the time is up), then SIGTERM.
std::string runProgram(const std::string& folder, bool gaps, const std::string& until,
                       std::chrono::milliseconds limit) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        return {};
    const long long t0 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFd[1], 2);
        ::close(pipeFd[0]);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TARN_BENCH_T0", std::to_string(t0).c_str(), 1);
        if (gaps)
            ::setenv("TARN_BENCH_GAPS", "1", 1);
        const std::string prog = programPath();
        ::execl(prog.c_str(), prog.c_str(), "-d", folder.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    std::string out;
    const auto end = std::chrono::steady_clock::now() + limit;
    bool signalled = false;
    char buf[512];
    for (;;) {
        if (!signalled &&
            (out.find(until) != std::string::npos || std::chrono::steady_clock::now() > end)) {
            ::kill(pid, SIGTERM);
            signalled = true;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(pipeFd[0], &set);
        timeval tv{0, 20000};
        if (::select(pipeFd[0] + 1, &set, nullptr, nullptr, &tv) > 0) {
            const ssize_t n = ::read(pipeFd[0], buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(pipeFd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

double figure(const std::string& out, const std::string& key) {
    const auto p = out.find(key + "=");
    return p == std::string::npos ? -1 : std::atof(out.c_str() + p + key.size() + 1);
}

// A POP3 responder on 127.0.0.1 with `count` messages in every mailbox; one thread per
// connection, bounded by the benchmark's life.
class Pop3Responder {
public:
    explicit Pop3Responder(int count) : m_count(count) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~Pop3Responder() {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
        for (auto& t : m_clients)
            t.join();
    }
    int port() const { return m_port; }

private:
    void acceptLoop() {
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            m_clients.emplace_back([this, c] { serve(c); });
        }
    }
    void send(int c, const std::string& s) {
        [[maybe_unused]] auto n = ::write(c, s.data(), s.size());
    }
    void serve(int c) {
        send(c, "+OK ready\r\n");
        std::string in;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            in.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while ((eol = in.find("\r\n")) != std::string::npos) {
                const std::string line = in.substr(0, eol);
                in.erase(0, eol + 2);
                if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0) {
                    send(c, "+OK\r\n");
                } else if (line == "STAT") {
                    send(c, "+OK " + std::to_string(m_count) + " " + std::to_string(m_count * 500) +
                                "\r\n");
                } else if (line == "UIDL" || line == "LIST") {
                    std::string r = "+OK\r\n";
                    for (int i = 1; i <= m_count; ++i)
                        r += std::to_string(i) +
                             (line == "UIDL" ? " id" + std::to_string(i) : " 500") + "\r\n";
                    send(c, r + ".\r\n");
                } else if (line.rfind("LIST ", 0) == 0) {
                    send(c, "+OK " + line.substr(5) + " 500\r\n");
                } else if (line.rfind("TOP ", 0) == 0) {
                    const std::string n = line.substr(4, line.find(' ', 4) - 4);
                    send(c, "+OK\r\nFrom: a" + n + "@example.org\r\nSubject: message " + n +
                                "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\n\r\n.\r\n");
                } else if (line == "QUIT") {
                    send(c, "+OK bye\r\n");
                    ::close(c);
                    return;
                } else {
                    send(c, "-ERR\r\n");
                }
            }
        }
        ::close(c);
    }

    int m_count;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_clients;
};

void BM_StartupToShownWindow(benchmark::State& state) {
    const std::string folder = makeFolder();
    writeSettings(folder, 20, 1);
    writeList(folder, 10000, 20);
    // Accounts checked one second after start would disturb nothing measured here, but keep
    // them offline-free: the port refuses at once.
    double total = 0;
    for (auto _ : state) {
        const std::string out =
            runProgram(folder, false, "startup_ms=", std::chrono::milliseconds(10000));
        const double ms = figure(out, "startup_ms");
        state.SetIterationTime(ms / 1000.0);
        total += ms;
    }
    state.counters["startup_ms"] = total / static_cast<double>(state.iterations());
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_StartupToShownWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_MainThreadGapDuringFourChecks(benchmark::State& state) {
    Pop3Responder server(static_cast<int>(state.range(0)));
    double worst = 0;
    for (auto _ : state) {
        const std::string folder = makeFolder();
        writeSettings(folder, 4, server.port());
        // The first ticks come after one second; the checks of 4 x N messages follow.
        const std::string out =
            runProgram(folder, true, "\x01never", std::chrono::milliseconds(4000));
        const double gap = figure(out, "max_gap_ms");
        worst = std::max(worst, gap);
        state.SetIterationTime(gap / 1000.0);
        std::filesystem::remove_all(folder);
    }
    state.counters["max_gap_ms"] = worst;
}
BENCHMARK(BM_MainThreadGapDuringFourChecks)
    ->Arg(500)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
