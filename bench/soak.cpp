// A long run of the whole program in this process (offscreen) against a private Dovecot: 20
// accounts (POP3, IMAP4, IMAP4 with push, POP3 and IMAP4 over TLS) on one-minute timers, a
// delivery and a deletion every few seconds, filters that delete, hide and fetch bodies. Each
// minute it prints resident memory, open descriptors, threads and the size of the mail list
// with what is kept beside it; at the end, how much each grew after the first five minutes.
//
//   soak [MINUTES]   (default 60; QT_QPA_PLATFORM=offscreen unless set)

#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"
#include "check/Session.h"
#include "core/PasswordScrambling.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/TestPki.h"
#include "integration/fixture/DovecotFixture.h"
#include "platform/NamedMutex.h"
#include "platform/PowerOff.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Filters may not power anything off here: the run binds a power-off that refuses.
struct NoPowerOff : tarn::PowerOff {
    bool powerOff() override { return false; }
};

struct Sample {
    double rssMb = 0;
    long fds = 0;
    long threads = 0;
    double storeKb = 0;
};

long statusField(const std::string& name) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::atol(line.c_str() + name.size() + 1);
    return -1;
}

Sample sample(const std::string& folder) {
    Sample s;
    s.rssMb = static_cast<double>(statusField("VmRSS")) / 1024.0;
    s.threads = statusField("Threads");
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/self/fd", ec)) {
        (void)e;
        ++s.fds;
    }
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("MailDB", 0) == 0 && e.is_regular_file(ec))
            s.storeKb += static_cast<double>(e.file_size(ec)) / 1024.0;
    }
    return s;
}

struct Kind {
    const char* what;
    int serverType;
    int security;
    bool push;
};

std::string account(int n, const Kind& k, const std::string& user, int port) {
    std::string host = "127.0.0.1";
    if (port > 0)
        host += ":" + std::to_string(port);
    return "[" + std::to_string(n) + "]\nName=" + k.what + " " + std::to_string(n) +
           "\nMailServerType=" + std::to_string(k.serverType) + "\nHost=" + host +
           "\nUserID=" + user + "\nPassword=" + tarn::storedPasswordText("secret") +
           "\nSavePwd=1\nActive=1\nShow=1\nList=1\nTimer=60000\nSecurity=" +
           std::to_string(k.security) + "\nPush=" + (k.push ? "1" : "0") + "\n";
}

std::string message(int n, const std::string& subject) {
    std::string body;
    for (int k = 0; k < 1 + n % 30; ++k)
        body += "Line " + std::to_string(k) + " of the soak message body.\r\n";
    return "From: Soak <soak" + std::to_string(n % 7) + "@example.org>\r\nTo: you@example.org\r\n" +
           "Subject: " + subject + " " + std::to_string(n) +
           "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\nMessage-ID: <soak" + std::to_string(n) +
           "@example.org>\r\n\r\n" + body;
}

void runFor(std::chrono::milliseconds d) {
    const auto end = Clock::now() + d;
    while (Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

} // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!tarn::test::DovecotFixture::available()) {
        std::fprintf(stderr, "soak: needs dovecot (as root)\n");
        return 2;
    }
    const tarn::test::TestPki& pki = tarn::test::TestPki::shared();
    tarn::TarnApplication app(argc, argv);
    tarn::test::DovecotFixture::Options dov;
    dov.sslCertFile = pki.good().certFile;
    dov.sslKeyFile = pki.good().keyFile;
    tarn::test::DovecotFixture dovecot(dov);

    const Kind kinds[] = {{"POP3", 0, 0, false},
                          {"IMAP4", 1, 0, false},
                          {"Push", 1, 0, true},
                          {"POP3 TLS", 0, 1, false},
                          {"IMAP4 TLS", 1, 1, false}};
    constexpr int kAccounts = 20;
    std::vector<std::string> users;
    std::string ini = "[Main]\nReleaseNr=19\nECount=" + std::to_string(kAccounts) +
                      "\non/offline=on\nkeepMailDB=1\nSoundItemIndex=0\nMaxDownloadSize=64\n"
                      "FilterCount=3\n"
                      "[Filter 0]\nIfCondition=3\nActive=1\nAccount=0\nAction=0\n"
                      "Argument=unwanted\n"
                      "[Filter 1]\nIfCondition=3\nActive=1\nAccount=0\nAction=1\nArgument=quiet\n"
                      "[Filter 2]\nIfCondition=3\nActive=1\nAccount=0\nAction=2\nArgument=full\n";
    for (int a = 1; a <= kAccounts; ++a) {
        const Kind& k = kinds[(a - 1) % 5];
        const std::string user = "soak" + std::to_string(a);
        dovecot.addUser(user, "secret");
        users.push_back(user);
        int port = 0;
        if (k.serverType == 0)
            port = k.security ? dovecot.pop3sPort() : dovecot.pop3Port();
        else if (k.security)
            port = dovecot.imapsPort();
        ini += account(a, k, user, port);
        // Something to find at the first check.
        for (int m = 0; m < 20; ++m)
            dovecot.addMessage(user, message(a * 1000 + m, "Start"));
    }
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir.file("tarn.ini"), ini);

    NoPowerOff powerOff;
    tarn::test::RecordingSoundPlayer player;
    tarn::StartOptions o;
    o.currentFolder = dir.path().string();
    o.powerOff = &powerOff;
    o.lockSuffix = tarn::test::uniqueLockSuffix();
    o.soundPlayer = &player;
    o.checkOptions.imapPort = dovecot.imapPort();
    o.noticeBus = "none";
    o.sleepBus = "none";
    auto program = std::make_unique<tarn::TarnwickApp>(std::move(o));
    program->start();

    std::mt19937 random(30);
    const char* subjects[] = {"Hello", "unwanted offer", "quiet note", "full text", "Report"};
    int delivered = 0;
    int deleted = 0;
    std::vector<Sample> perMinute;
    const auto start = Clock::now();
    std::printf("soak: %d accounts, %d minutes\n", kAccounts, minutes);
    std::fflush(stdout);
    for (int minute = 1; minute <= minutes; ++minute) {
        const auto minuteEnd = start + std::chrono::minutes(minute);
        while (Clock::now() < minuteEnd) {
            // A delivery to one mailbox and a deletion (by another client: the file goes) from
            // another, every three seconds.
            const std::string& to = users[random() % users.size()];
            dovecot.addMessage(to, message(++delivered, subjects[random() % 5]));
            const std::string& from = users[random() % users.size()];
            const std::vector<std::string> files = dovecot.messageFiles(from);
            if (files.size() > 10) {
                std::error_code ec;
                if (fs::remove(files[random() % files.size()], ec))
                    ++deleted;
            }
            runFor(std::min<std::chrono::milliseconds>(
                3s,
                std::chrono::duration_cast<std::chrono::milliseconds>(minuteEnd - Clock::now()) +
                    1ms));
        }
        const Sample s = sample(dir.path().string());
        perMinute.push_back(s);
        std::size_t listed = 0;
        {
            tarn::NamedLock lock(program->session().db().mutex());
            listed = program->session().db().size();
        }
        std::printf("minute %3d: resident %7.1f MB  descriptors %4ld  threads %3ld  store %8.1f KB"
                    "  (delivered %d, deleted elsewhere %d, mail list %zu)\n",
                    minute, s.rssMb, s.fds, s.threads, s.storeKb, delivered, deleted, listed);
        std::fflush(stdout);
    }
    if (perMinute.size() > 5) {
        const Sample& a = perMinute[4];
        const Sample& b = perMinute.back();
        std::printf("growth from minute 5 to minute %zu: resident %+.1f MB, descriptors %+ld, "
                    "threads %+ld, store %+.1f KB\n",
                    perMinute.size(), b.rssMb - a.rssMb, b.fds - a.fds, b.threads - a.threads,
                    b.storeKb - a.storeKb);
    } else {
        std::printf("growth after the first five minutes: the run is too short to say\n");
    }
    program->exitProcedure();
    program->workersGone(5s);
    program.reset();
    return 0;
}
