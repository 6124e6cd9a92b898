// What repeat IMAP4 checks cost once the state of the last check is kept: round trips, bytes
// read from the server and time, for a first check, a repeat check with nothing new, one with
// one new message, and one after another client expunged a message. Also the first check after
// a program start (the mail list known, the pass walks it from the state). Prints one line per
// figure; bench/incremental_checks.py starts Dovecot and the latency proxy and runs this.
//
//   bench_incremental --port P --direct-port D --user U --pass W --maildir DIR [--runs 3]
// P is where checks go (the proxy, or Dovecot itself); D is Dovecot itself, for the other
// client's expunge; DIR is the user's Maildir, for deliveries.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "check/CheckHost.h"
#include "check/CheckPass.h"
#include "check/Session.h"
#include "fakes/CountingTransport.h"
#include "mailproto/Imap4MailboxClient.h"

namespace {

using namespace tarn;
using Clock = std::chrono::steady_clock;

class QuietHost : public CheckHost {
public:
    void ReportStatus(int, int, const std::string&) override {}
    void EndOfCheckUpdate(const CheckResult&) override {}
    void NewMailSounds(int, long long) override {}
    void TerminateCheck(const CheckResult&) override {}
    std::optional<std::string> PromptPassword(const std::string&) override { return {}; }
};

struct Options {
    int port = 0;
    int directPort = 0;
    std::string user;
    std::string password;
    std::string maildir;
    int runs = 3;
};

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0; // this process, all threads: what the client itself spent
    int roundTrips = 0;
    std::size_t bytesRead = 0;
    Imap4MailboxClient::Sync sync = Imap4MailboxClient::Sync::Full;
};

std::unique_ptr<Imap4Client> imap(const Options& o, int port,
                                  std::shared_ptr<test::WireCounts> counts) {
    auto c = counts ? std::make_unique<LineConnection>(
                          std::make_unique<test::CountingTransport>(std::move(counts)))
                    : std::make_unique<LineConnection>();
    auto client = std::make_unique<Imap4Client>(std::move(c));
    client->setHost("127.0.0.1");
    client->setPort(port);
    client->setUser(o.user);
    client->setPassword(o.password);
    return client;
}

double cpuNow() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Figures timedCheck(Session& session, QuietHost& host, const Options& o) {
    auto counts = std::make_shared<test::WireCounts>();
    Imap4MailboxClient client(imap(o, o.port, counts), "INBOX");
    client.setStateFile(session.path("bench.state"), "bench " + o.user);
    client.setMessageBudget(1024 * 1024);
    CheckPassSettings settings;
    settings.accountName = "bench";
    settings.deletePause = std::chrono::milliseconds(0);
    const double cpu0 = cpuNow();
    const auto t0 = Clock::now();
    CheckPass pass(session, host, client, session.runtimeOf(1), 1, settings);
    pass.run();
    Figures f;
    f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    f.cpuSeconds = cpuNow() - cpu0;
    if (pass.failed()) {
        std::fprintf(stderr, "bench_incremental: the check failed: %s\n",
                     pass.failureText().c_str());
        std::exit(1);
    }
    // As the check thread does after every check.
    session.db().ClearNewFlags(1);
    f.roundTrips = counts->roundTrips;
    f.bytesRead = counts->bytesRead;
    f.sync = client.sync();
    return f;
}

void deliver(const Options& o, int n) {
    const std::string text =
        "From: Bench <bench@example.org>\nTo: " + o.user + "@example.org\nSubject: New message " +
        std::to_string(n) + "\nDate: Tue, 5 Mar 2024 10:00:00 +0000\nMessage-ID: <new" +
        std::to_string(n) + "." + std::to_string(::getpid()) + "@example.org>\n\nA new message.\n";
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    const std::string name = o.maildir + "/new/" + std::to_string(::time(nullptr)) + ".B" +
                             std::to_string(n) + "P" + std::to_string(::getpid()) +
                             ".bench,S=" + std::to_string(text.size()) +
                             ",W=" + std::to_string(text.size() + lines);
    {
        std::ofstream out(name, std::ios::binary);
        out << text;
    }
    if (const passwd* nobody = ::getpwnam("nobody"))
        if (::chown(name.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            std::perror("chown");
}

// Another client expunges the message in the middle of the mailbox.
void expungeElsewhere(const Options& o) {
    auto c = imap(o, o.directPort, nullptr);
    c->Connect();
    const int n = c->SelectMailbox("INBOX").exists;
    c->DeleteMessage(std::max(1, n / 2));
    c->Expunge();
    c->Disconnect();
}

const char* syncName(Imap4MailboxClient::Sync s) {
    switch (s) {
    case Imap4MailboxClient::Sync::Full:
        return "full";
    case Imap4MailboxClient::Sync::Unchanged:
        return "unchanged";
    case Imap4MailboxClient::Sync::Changed:
        return "changed";
    }
    return "?";
}

void print(const char* what, std::vector<Figures> v) {
    std::sort(v.begin(), v.end(),
              [](const Figures& a, const Figures& b) { return a.seconds < b.seconds; });
    const Figures& m = v[v.size() / 2];
    std::printf("%-46s %8.3f s  %3d round trips  %10zu bytes read  client CPU %.3f s  (%s, "
                "median of %zu)\n",
                what, m.seconds, m.roundTrips, m.bytesRead, m.cpuSeconds, syncName(m.sync),
                v.size());
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--port")
            o.port = std::atoi(v.c_str());
        else if (a == "--direct-port")
            o.directPort = std::atoi(v.c_str());
        else if (a == "--user")
            o.user = v;
        else if (a == "--pass")
            o.password = v;
        else if (a == "--maildir")
            o.maildir = v;
        else if (a == "--runs")
            o.runs = std::max(1, std::atoi(v.c_str()));
    }
    if (o.port == 0 || o.directPort == 0 || o.user.empty() || o.maildir.empty()) {
        std::fprintf(stderr, "usage: bench_incremental --port P --direct-port D --user U --pass W "
                             "--maildir DIR [--runs N]\n");
        return 2;
    }
    char tmpl[] = "/tmp/tarn-incremental-XXXXXX";
    const std::string folder = ::mkdtemp(tmpl);
    std::vector<Figures> first, nothing, oneNew, oneGone, restart;
    std::size_t messages = 0;
    int delivered = 0;
    for (int r = 0; r < o.runs; ++r) {
        std::filesystem::remove(folder + "/bench.state");
        Session session(folder, systemClock(), "_incr" + std::to_string(::getpid()));
        AccountSettings a;
        a.Name = "bench";
        session.settings().Accounts = {a};
        session.syncWithSettings();
        session.db().PurgeAll();
        QuietHost host;
        first.push_back(timedCheck(session, host, o));
        messages = session.db().size();
        nothing.push_back(timedCheck(session, host, o));
        deliver(o, ++delivered);
        oneNew.push_back(timedCheck(session, host, o));
        expungeElsewhere(o);
        oneGone.push_back(timedCheck(session, host, o));
        session.runtime()[1].LastMailboxTotal = -1; // the first check of a program run
        restart.push_back(timedCheck(session, host, o));
    }
    std::filesystem::remove_all(folder);
    std::printf("IMAP4, %zu messages:\n", messages);
    print("first check (no state)", first);
    print("repeat check, nothing new", nothing);
    print("repeat check, one new message", oneNew);
    print("repeat check, one expunged by another client", oneGone);
    print("first check of a program run (state kept)", restart);
    return 0;
}
