// tarnwick-check: one check of every account (or of one) without the windows, with the real
// worker, filters, deletion log and saved mail list.
//
//   tarnwick-check [-d FOLDER] [--account N] [--json]
//   tarnwick-check [-d FOLDER] [--account N] [--json] --watch
//
// One line per account: number, name, shown, new, "ok" or "failed", and for a failed check
// the reason ("kind: text"), separated by tabs. --json gives the same as an array of objects;
// a failed check's object has "failure": {"kind": ..., "text": ...}.
//
//   tarnwick-check [-d FOLDER] --sign-in N [--no-browser]
//
// --sign-in signs account N in with OAuth 2.0: prints the authorization URL on one line, opens
// it in the desktop's browser (unless --no-browser), waits for the browser to come back, keeps
// the tokens with the account's secrets and exits 0; a failure prints the reason and exits 1.
// A check never opens a browser.
//
// Exit status: 0 every check succeeded, 1 any failed, 2 usage error. SIGINT or SIGTERM while
// the checks run stops waiting for them: the checks still running are told to stop, their
// lines say so, and the tool ends without waiting on a server that does not answer.
//
// --watch keeps running for the IMAP4 accounts with Push on (or account N): each keeps an idle
// connection, and every check that a server's announcement (or a wake-up) started prints its
// line when it ends, with --json one object per line. The accounts' timers go on checking as in
// the program. SIGINT or SIGTERM ends it cleanly (connections logged out, mail list saved),
// exit status 0.

#include "check/CheckHost.h"
#include "check/OAuthSignIn.h"
#include "check/QuietSchedulerHost.h"
#include "check/Session.h"
#include "check/SessionStartup.h"
#include "check/TIdCheckThread.h"
#include "core/Scheduler.h"
#include "core/Settings.h"
#include "platform/BrowserLauncher.h"
#include "platform/keyring/SecretServiceStore.h"
#include "push/HeadlessWatch.h"
#include "store/MailStoreFiles.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarn;

const char* const kUsage = "usage: tarnwick-check [-d FOLDER] [--account N] [--json] [--watch]\n"
                           "       tarnwick-check [-d FOLDER] --sign-in N [--no-browser]\n";

// The headless sign-in of account number (see the top of the file).
int signIn(Session& session, int number, bool browser) {
    AccountSettings& account = session.settings().account(number);
    if (account.SecretId.empty())
        account.SecretId = newSecretId();
    const SignInOutcome outcome = runOAuthSignIn(account, [browser](const std::string& url) {
        std::cout << url << std::endl;
        if (browser) {
            BrowserLauncher().LaunchHomePage(url, [](const std::string& message) {
                std::cerr << "tarnwick-check: " << message << '\n';
            });
        }
    });
    if (!outcome.ok) {
        std::cerr << "tarnwick-check: the sign-in failed: " << outcome.error << '\n';
        return 1;
    }
    const std::string error = keepSignIn(session.settingsStore(), number, account, outcome.tokens);
    if (!error.empty()) {
        std::cerr << "tarnwick-check: the sign-in was not kept: " << error << '\n';
        return 1;
    }
    std::cerr << "tarnwick-check: account " << number << " is signed in.\n";
    return 0;
}

// Reads a line from the terminal with echo off; nullopt without a terminal or at end of input.
std::optional<std::string> readHidden(const std::string& prompt) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    std::cerr << prompt << ' ' << std::flush;
    termios old{};
    const bool haveAttrs = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (haveAttrs) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool ok = static_cast<bool>(std::getline(std::cin, line));
    if (haveAttrs)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::cerr << '\n';
    if (!ok)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Everything runs where it is called: there is no window thread here. The worker's calls
// touch only the store (under its lock), the account's atomics and the results, which the
// main thread reads once every check has ended.
class ToolHost : public CheckHost {
public:
    explicit ToolHost(Session& session) : m_session(session) {}
    void ReportStatus(int, int, const std::string&) override {}
    void EndOfCheckUpdate(const CheckResult& result) override {
        m_session.RecountShown(result.currentAccount());
    }
    void NewMailSounds(int, long long) override {}
    void TerminateCheck(const CheckResult& result) override {
        TIdCheckThread::terminationStep(m_session, result);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results[result.account] = result;
    }
    std::optional<std::string> PromptPassword(const std::string& prompt) override {
        return readHidden(prompt);
    }

    // The results of the checks that have ended, by account.
    std::map<int, CheckResult> results() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }

private:
    Session& m_session;
    std::mutex m_mutex;
    std::map<int, CheckResult> m_results;
};

// Without a window there is nothing to paint, blink or animate: the scheduler's checkmail
// runs with a host that shows nothing and timers that never tick.
class QuietTimer : public CheckTimer {
public:
    explicit QuietTimer(int ms) : m_interval(ms) {}
    void setInterval(int ms) override { m_interval = ms; }
    int interval() const override { return m_interval; }
    void start() override { m_active = true; }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

private:
    int m_interval;
    bool m_active = false;
};

class QuietTimers : public CheckTimerFactory {
public:
    std::unique_ptr<CheckTimer> create(const std::string&, int intervalMs,
                                       std::function<void()>) override {
        return std::make_unique<QuietTimer>(intervalMs);
    }
};

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// Tabs and line breaks of a server's text would break the columns.
std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return s;
}

bool parseAccountNumber(const std::string& text, int& n) {
    if (text.empty() || text.size() > 6)
        return false;
    n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    return n >= 1;
}

// One check's line for account a: number, name, shown, new, ok or failed and the reason; or
// as JSON.
std::string resultLine(Session& session, int a, const CheckResult& r, bool json) {
    const std::string name =
        a >= 1 && a <= session.settings().accountCount() ? session.settings().account(a).Name : "";
    const long long shown = session.db().CountShownMessages(a);
    std::string out;
    if (json) {
        out = "{\"account\": " + std::to_string(a) + ", \"name\": " + jsonString(name) +
              ", \"shown\": " + std::to_string(shown) + ", \"new\": " + std::to_string(r.newCount) +
              ", \"status\": " + (r.failed ? "\"failed\"" : "\"ok\"");
        if (r.failed)
            out += ", \"failure\": {\"kind\": " + jsonString(errorKindName(r.failureKind)) +
                   ", \"text\": " + jsonString(r.failureText) + "}";
        return out + "}";
    }
    out = std::to_string(a) + '\t' + oneLine(name) + '\t' + std::to_string(shown) + '\t' +
          std::to_string(r.newCount) + '\t' + (r.failed ? "failed" : "ok");
    if (r.failed)
        out += '\t' + oneLine(r.failureReason());
    return out;
}

// --watch: runs until SIGINT or SIGTERM.
int watchAccounts(Session& session, const std::string& folder, int only, bool json) {
    bool any = false;
    for (int a = 1; a <= session.settings().accountCount(); ++a) {
        const AccountSettings& acc = session.settings().account(a);
        if ((only == 0 || a == only) && acc.isImap4() && acc.Push)
            any = true;
    }
    if (!any) {
        std::cerr << "tarnwick-check: --watch needs an IMAP4 account with Push=1\n" << kUsage;
        return 2;
    }
    // The signals are taken by a thread of their own, which asks the loop to stop; every
    // other thread (the checks, the idle connections) inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    HeadlessWatch watch(session);
    watch.onPassword = [](const std::string& prompt) { return readHidden(prompt); };
    watch.onCheckEnded = [&](const CheckResult& r, bool pushed) {
        if (!pushed || (only != 0 && r.currentAccount() != only))
            return;
        std::cout << resultLine(session, r.currentAccount(), r, json) << std::endl;
    };
    std::thread([&watch, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        watch.loop().post([&watch] { watch.stop(); });
    }).detach();
    watch.start();
    while (!watch.loop().runFor(std::chrono::hours(24))) {
    }
    session.Quitting = true;
    int status = 0;
    try {
        MailStoreFiles::SaveStore(session.db(), folder, session.settings().Main.KeepMailDB);
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-check: the mail list was not saved: " << e.what() << '\n';
        status = 1;
    }
    std::cout.flush();
    // The idle connections log out on their own threads; a check still talking to its
    // server stops at its next message. Neither may hold up the end for long.
    if (!session.waitForWorkers(std::chrono::seconds(2))) {
        std::fflush(nullptr);
        std::quick_exit(status);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    int only = 0;
    bool json = false;
    bool watch = false;
    int signInAccount = 0;
    bool browser = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-d" && i + 1 < argc) {
            folder = argv[++i];
        } else if (a == "--account" && i + 1 < argc) {
            if (!parseAccountNumber(argv[++i], only)) {
                std::cerr << "tarnwick-check: not an account number: " << argv[i] << '\n' << kUsage;
                return 2;
            }
        } else if (a == "--sign-in" && i + 1 < argc) {
            if (!parseAccountNumber(argv[++i], signInAccount)) {
                std::cerr << "tarnwick-check: not an account number: " << argv[i] << '\n' << kUsage;
                return 2;
            }
        } else if (a == "--no-browser") {
            browser = false;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--watch") {
            watch = true;
        } else if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "tarnwick-check: unexpected argument: " << a << '\n' << kUsage;
            return 2;
        }
    }
    std::error_code ec;
    if (folder.empty())
        folder = std::filesystem::current_path(ec).string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();

    const std::string iniPath = joinPath(folder, kSettingsFileName);
    if (!std::filesystem::is_regular_file(iniPath, ec)) {
        std::cerr << "tarnwick-check: no " << kSettingsFileName << " in " << folder << '\n';
        return 2;
    }

    // The program's own start-up: named locks, tarn.ini, the saved mail list.
    SessionStartup::Options startOptions;
    startOptions.currentFolder = folder;
    SessionStartup startup(std::move(startOptions));
    Session& session = startup.session();
    static SecretServiceStore keyring;
    session.settingsStore().setSecretStore(&keyring);
    startup.readSettings(SettingsReadInputs{});
    const int count = session.settings().accountCount();
    if (only > count || signInAccount > count) {
        std::cerr << "tarnwick-check: there is no account " << std::max(only, signInAccount)
                  << " (accounts: " << count << ")\n";
        return 2;
    }
    if (signInAccount != 0)
        return signIn(session, signInAccount, browser);

    startup.loadMailList(
        [](const std::string& text) { std::cerr << "tarnwick-check: " << text << '\n'; });
    if (watch)
        return watchAccounts(session, folder, only, json);

    // The stop signals are taken by a thread of their own; every check's thread inherits the
    // blocked mask. While the checks are still being created (a password prompt may be
    // waiting for the terminal) a signal ends the tool as it always did.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    static std::atomic<bool> creating{true};
    static std::atomic<bool> stopRequested{false};
    std::thread([stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (creating) {
            ::signal(sig, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            ::raise(sig);
        }
        stopRequested = true;
    }).detach();

    // Checks start as the program starts them: through checkmail, which may refuse (a busy
    // account, say), each worker on its own thread. Workers are created one after another
    // here, so password prompts never overlap.
    ToolHost host(session);
    QuietTimers timers;
    QuietSchedulerHost schedulerHost(session);
    Scheduler scheduler(session.settings(), session.runtime(), session.Quitting, session.Online,
                        timers, schedulerHost, [&](int a) {
                            auto w = TIdCheckThread::forAccount(session, host, a);
                            const AccountSettings& acc = session.settings().account(a);
                            if (!acc.SavePwd && acc.PasswordCommand.empty() && !acc.usesOAuth() &&
                                w->password().empty())
                                w->markFailed(ErrorKind::LocalError,
                                              "No password was given."); // nobody to ask
                            TIdCheckThread::start(std::move(w));
                        });
    std::vector<int> accounts;
    for (int a = 1; a <= count; ++a) {
        if (only != 0 && a != only)
            continue;
        scheduler.checkmail(a);
        accounts.push_back(a);
    }
    creating = false;

    // Every check ends within its own time limit, unless a signal ends the wait first. The
    // session and the host must outlive every check: one still running after that is told to
    // stop and given a moment; if it still runs, the tool ends without destroying anything.
    const auto deadline =
        std::chrono::steady_clock::now() + kCheckTimeLimit + std::chrono::minutes(1);
    bool workersGone = false;
    while (!workersGone && !stopRequested && std::chrono::steady_clock::now() < deadline)
        workersGone = session.waitForWorkers(std::chrono::milliseconds(100));
    if (!workersGone) {
        session.Quitting = true;
        workersGone = session.waitForWorkers(std::chrono::seconds(2));
    }

    const std::map<int, CheckResult> results = host.results();
    std::vector<CheckResult> rows;
    for (int a : accounts) {
        CheckResult r;
        if (const auto it = results.find(a); it != results.end()) {
            r = it->second;
        } else {
            r.failed = true;
            r.failureKind = ErrorKind::LocalError;
            const AccountRuntime* rt = session.runtimeOf(a);
            r.failureText = rt && rt->Busy ? "The check was stopped before it ended."
                                           : "The check did not run.";
        }
        rows.push_back(r);
    }

    bool allOk = true;
    try {
        // A run that changed nothing leaves the file as it is.
        if (session.db().changedSinceSaved() ||
            !std::filesystem::exists(MailStoreFiles::savedPath(folder), ec))
            MailStoreFiles::SaveStore(session.db(), folder, session.settings().Main.KeepMailDB);
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-check: the mail list was not saved: " << e.what() << '\n';
        allOk = false;
    }

    if (json)
        std::cout << "[";
    for (std::size_t k = 0; k < rows.size(); ++k) {
        allOk = allOk && !rows[k].failed;
        const std::string line = resultLine(session, accounts[k], rows[k], json);
        if (json)
            std::cout << (k ? "," : "") << "\n  " << line;
        else
            std::cout << line << '\n';
    }
    if (json)
        std::cout << "\n]\n";
    std::cout.flush();
    if (!workersGone) {
        std::fflush(nullptr);
        std::quick_exit(1);
    }
    return allOk ? 0 : 1;
}
