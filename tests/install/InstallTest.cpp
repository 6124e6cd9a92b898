#include "core/TempDir.h"
#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace tarn {
namespace {

const char* const kShipped[] = {"bip.wav",   "incoming.wav", "dykt.ini",
                                "help.html", "readme.txt",   "faq.txt"};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Width and height from a PNG file's header chunk; 0 x 0 when it is no PNG.
std::pair<std::uint32_t, std::uint32_t> pngSize(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    unsigned char h[24] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    if (!in || h[0] != 0x89 || h[1] != 'P' || h[2] != 'N' || h[3] != 'G')
        return {0, 0};
    auto be = [&](int at) {
        return (std::uint32_t(h[at]) << 24) | (std::uint32_t(h[at + 1]) << 16) |
               (std::uint32_t(h[at + 2]) << 8) | h[at + 3];
    };
    return {be(16), be(20)};
}

// The Exec line of a desktop entry as the desktop splits it into arguments.
std::vector<std::string> execOf(const fs::path& entry) {
    std::ifstream in(entry);
    std::string exec;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Exec=", 0) == 0)
            exec = line.substr(5);
    }
    std::string unescaped;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            const char n = exec[++i];
            unescaped += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n;
        } else {
            unescaped += exec[i];
        }
    }
    std::vector<std::string> argv;
    std::string cur;
    bool quoted = false, have = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (quoted && c == '\\' && i + 1 < unescaped.size()) {
            cur += unescaped[++i];
        } else if (c == '"') {
            quoted = !quoted;
            have = true;
        } else if (c == ' ' && !quoted) {
            if (have)
                argv.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        argv.push_back(cur);
    return argv;
}

TEST(Install, IntoAPrefixThenTheMenuEntryStartsTheInstalledProgram) {
    test::TempDir tmp;
    const fs::path prefix = tmp.path() / "prefix";
    std::string out;
    ASSERT_TRUE(runAndCapture(
        {TARN_CMAKE_COMMAND, "--install", TARN_BINARY_DIR, "--prefix", prefix.string()}, 120000,
        out))
        << out;

    for (const char* program : {"tarnwick", "tarnwick-check"}) {
        const fs::path p = prefix / "bin" / program;
        EXPECT_EQ(access(p.c_str(), X_OK), 0) << p;
    }
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/scalable/apps/tarnwick.svg"));
    for (std::uint32_t size : {16u, 22u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(pngSize(prefix / "share/icons/hicolor" / dim / "apps/tarnwick.png"),
                  std::make_pair(size, size))
            << dim;
    }
    const fs::path entry = prefix / "share/applications/tarnwick.desktop";
    ASSERT_TRUE(runAndCapture({"desktop-file-validate", entry.string()}, 20000, out)) << out;
    EXPECT_EQ(out, "");
    // The software centres' description of it, beside the entry, names that entry.
    const fs::path metainfo = prefix / "share/metainfo/org.example.tarnwick.metainfo.xml";
    ASSERT_TRUE(runAndCapture(
        {"appstreamcli", "validate", "--no-net", "--explain", metainfo.string()}, 60000, out))
        << out;
    EXPECT_EQ(out.find("W:"), std::string::npos) << out;
    EXPECT_EQ(out.find("E:"), std::string::npos) << out;
    std::ifstream metaIn(metainfo);
    const std::string meta((std::istreambuf_iterator<char>(metaIn)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(meta.find("<launchable type=\"desktop-id\">tarnwick.desktop</launchable>"),
              std::string::npos);

    // The menu entry's command, run as the desktop would: the installed program on the PATH,
    // a fresh home, no working folder yet.
    const std::vector<std::string> argv = execOf(entry);
    ASSERT_EQ(argv.size(), 3u);
    EXPECT_EQ(argv[0], "sh");
    const fs::path home = tmp.path() / "home";
    fs::create_directories(home);
    const fs::path work = home / "config/tarnwick";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("PATH", ((prefix / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::chdir("/");
        ::execlp(argv[0].c_str(), argv[0].c_str(), argv[1].c_str(), argv[2].c_str(), nullptr);
        ::_exit(127);
    }
    // A first start writes its settings file at once.
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!fs::exists(work / "tarn.ini") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(50ms);
    const bool started = fs::exists(work / "tarn.ini");
    ::kill(pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    const auto stop = std::chrono::steady_clock::now() + 10s;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < stop)
        std::this_thread::sleep_for(20ms);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the installed program did not end after SIGTERM";
    }
    ASSERT_TRUE(started) << "the installed program wrote no settings in " << work;
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const char* name : kShipped) {
        EXPECT_TRUE(fs::is_regular_file(work / name)) << name;
        // The program carries them itself: the prefix holds no copy to find.
        EXPECT_EQ(readAll(work / name), readAll(fs::path(TARN_DEFAULTS_DIR) / name)) << name;
    }
}

} // namespace
} // namespace tarn
