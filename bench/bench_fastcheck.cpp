// Whole checks against a running server, with commands sent ahead (POP3 PIPELINING, IMAP4
// batches) or one at a time: a first check (empty mail list) and a full pass over messages
// that are all known (what the first check after every program start does). Prints one line
// per figure; bench/fast_checks.py starts Dovecot and the latency proxy and runs this.
//
//   bench_fastcheck --port P --type 0|1 --user U --pass W [--host 127.0.0.1]
//                   [--mode ahead|sequential] [--tls 0|1] [--runs 3]
// With --tls 1 the port speaks TLS from the first byte; SSL_CERT_FILE names the CA to trust.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "check/CheckHost.h"
#include "check/CheckPass.h"
#include "check/Session.h"
#include "mailproto/Imap4MailboxClient.h"
#include "mailproto/Pop3MailboxClient.h"

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
    std::string host = "127.0.0.1";
    int port = 0;
    int type = 0;
    std::string user;
    std::string password;
    bool ahead = true;
    bool tls = false;
    int runs = 3;
};

std::unique_ptr<MailboxClient> makeClient(const Options& o) {
    auto c = std::make_unique<LineConnection>();
    if (o.type == 0) {
        auto pop = std::make_unique<Pop3Client>(std::move(c));
        pop->setHost(o.host);
        pop->setPort(o.port);
        pop->setUser(o.user);
        pop->setPassword(o.password);
        if (o.tls)
            pop->setSecurity(ConnectionSecurity::Tls);
        auto client = std::make_unique<Pop3MailboxClient>(std::move(pop));
        client->setPipeliningAllowed(o.ahead);
        return client;
    }
    auto imap = std::make_unique<Imap4Client>(std::move(c));
    imap->setHost(o.host);
    imap->setPort(o.port);
    imap->setUser(o.user);
    imap->setPassword(o.password);
    if (o.tls)
        imap->setSecurity(ConnectionSecurity::Tls);
    auto client = std::make_unique<Imap4MailboxClient>(std::move(imap), "INBOX");
    client->setBatchingAllowed(o.ahead);
    return client;
}

// Seconds of one pass; exits on a failed check.
double timedPass(Session& session, QuietHost& host, const Options& o) {
    auto client = makeClient(o);
    client->setMessageBudget(1024 * 1024);
    CheckPassSettings settings;
    settings.accountName = "bench";
    const auto t0 = Clock::now();
    CheckPass pass(session, host, *client, session.runtimeOf(1), 1, settings);
    pass.run();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (pass.failed()) {
        std::fprintf(stderr, "bench_fastcheck: the check failed: %s\n", pass.failureText().c_str());
        std::exit(1);
    }
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--host")
            o.host = v;
        else if (a == "--port")
            o.port = std::atoi(v.c_str());
        else if (a == "--type")
            o.type = std::atoi(v.c_str());
        else if (a == "--user")
            o.user = v;
        else if (a == "--pass")
            o.password = v;
        else if (a == "--mode")
            o.ahead = v != "sequential";
        else if (a == "--tls")
            o.tls = v == "1";
        else if (a == "--runs")
            o.runs = std::max(1, std::atoi(v.c_str()));
    }
    if (o.port == 0 || o.user.empty()) {
        std::fprintf(stderr, "usage: bench_fastcheck --port P --type 0|1 --user U --pass W "
                             "[--host H] [--mode ahead|sequential] [--runs N]\n");
        return 2;
    }
    char tmpl[] = "/tmp/tarn-fastcheck-XXXXXX";
    const std::string folder = ::mkdtemp(tmpl);
    std::vector<double> first, known;
    std::size_t messages = 0;
    for (int r = 0; r < o.runs; ++r) {
        Session session(folder, systemClock(), "_fast" + std::to_string(::getpid()));
        AccountSettings a;
        a.Name = "bench";
        session.settings().Accounts = {a};
        session.syncWithSettings();
        QuietHost host;
        first.push_back(timedPass(session, host, o));
        messages = session.db().size();
        session.db().ClearNewFlags(1);
        session.runtime()[1].LastMailboxTotal = -2; // the first check of a program run
        known.push_back(timedPass(session, host, o));
    }
    std::filesystem::remove_all(folder);
    const char* proto = o.type == 0 ? "POP3" : "IMAP4";
    const char* mode = o.ahead ? (o.type == 0 ? "pipelined" : "batched") : "one at a time";
    std::printf("%s%s %s, %zu messages, median of %d: first check %.3f s, full pass over known "
                "messages %.3f s\n",
                proto, o.tls ? " over TLS" : "", mode, messages, o.runs, median(first),
                median(known));
    return 0;
}
