// Accounts deleted and added on the main thread while check workers run on theirs. Run it in
// the thread-sanitizer build too: the run-time table and the workers' reading of it must not
// race.

#include "check/TIdCheckThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"
#include "platform/NamedMutex.h"

using namespace std::chrono_literals;
using tarn::CheckOptions;
using tarn::TIdCheckThread;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;

namespace {

// A POP3 server whose three messages have ids that name the server ("b-1", "b-2", "b-3").
// A slow one sends its answers a few bytes at a time, so its check is still running when the
// test changes the accounts.
void serveLettered(ScriptedServer& srv, char letter, bool slow) {
    const std::string l(1, letter);
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "+OK 3 300\r\n");
    srv.on("LIST", "+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n");
    srv.on("UIDL", "+OK\r\n1 " + l + "-1\r\n2 " + l + "-2\r\n3 " + l + "-3\r\n.\r\n");
    srv.on("CAPA", "-ERR\r\n"); // one command at a time
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        srv.on("LIST " + n, "+OK " + n + " 100\r\n");
        srv.on("TOP " + n + " 0", "+OK\r\nSubject: " + l + n + "\r\n\r\n.\r\n");
    }
    srv.on("QUIT", "+OK\r\n", After::Close);
    if (slow)
        srv.setChunking(4, 15ms);
}

class AccountsChangingUnderWorkers : public tarn::test::CheckSessionSupport {
protected:
    AccountsChangingUnderWorkers() : CheckSessionSupport("tarn-accounts") {}

    tarn::AccountSettings accountFor(const ScriptedServer& srv, char letter) {
        tarn::AccountSettings acc;
        acc.Name = std::string("Account ") + letter;
        acc.Host = "127.0.0.1:" + std::to_string(srv.port());
        acc.UserID = "bob";
        acc.Password = "secret";
        return acc;
    }
    void startCheck(int account) {
        session.runtime()[account].Busy = true;
        CheckOptions opt;
        opt.readTimeout = 20s;
        opt.deletePause = 0ms;
        ASSERT_TRUE(TIdCheckThread::start(TIdCheckThread::forAccount(session, host, account, opt)));
    }
    // What deleting an account does to the state below the windows: settings, run-time
    // table and the mail list's records, under the MailDB lock.
    void deleteAccount(int n) {
        tarn::NamedLock lock(session.db().mutex());
        auto& accounts = session.settings().Accounts;
        accounts.erase(accounts.begin() + (n - 1));
        session.runtime().remove(n);
        std::vector<tarn::MailRecord> kept;
        for (const tarn::MailRecord* r : session.db().storedRecords()) {
            const int a = r->Account.value_or(0);
            if (a == n)
                continue;
            tarn::MailRecord copy = *r;
            if (a > n)
                copy.Account = a - 1;
            kept.push_back(std::move(copy));
        }
        session.db().replaceAll(std::move(kept));
    }
    int addAccount(const ScriptedServer& srv, char letter) {
        tarn::NamedLock lock(session.db().mutex());
        session.settings().Accounts.push_back(accountFor(srv, letter));
        return session.runtime().append();
    }
};

TEST_F(AccountsChangingUnderWorkers, DeletedAccountFilesNothingAndTheOthersFollowTheirNumbers) {
    ScriptedServer a, b, c, d, e;
    serveLettered(a, 'a', false);
    serveLettered(b, 'b', true);
    serveLettered(c, 'c', true);
    serveLettered(d, 'd', false);
    serveLettered(e, 'e', false);
    session.settings().Accounts = {accountFor(a, 'a'), accountFor(b, 'b'), accountFor(c, 'c'),
                                   accountFor(d, 'd')};
    session.syncWithSettings();
    tarn::AccountRuntime* deleted = session.runtimeOf(2);
    tarn::AccountRuntime* moved = session.runtimeOf(3);

    for (int n = 1; n <= 4; ++n)
        startCheck(n);
    // b and c are logged in and still at work when b's account goes and c's moves down.
    ASSERT_TRUE(b.waitForLine("PASS secret", 10s));
    ASSERT_TRUE(c.waitForLine("PASS secret", 10s));
    deleteAccount(2);
    EXPECT_EQ(deleted->Number, 0);
    EXPECT_EQ(moved->Number, 2);
    // A new account, checked at once, while the others still run.
    const int added = addAccount(e, 'e');
    EXPECT_EQ(added, 4);
    startCheck(added);
    for (int k = 0; k < 50; ++k) {
        // Lookups from this thread while the workers look up theirs.
        for (int n = 0; n <= 5; ++n)
            (void)session.runtimeOf(n);
        std::this_thread::sleep_for(2ms);
    }

    ASSERT_TRUE(host.waitForTerminations(5, 60s));
    ASSERT_TRUE(session.waitForWorkers(10s));

    // Every record sits under the account whose server it came from; the deleted account's
    // server left nothing behind.
    tarn::NamedLock lock(session.db().mutex());
    const std::string letters = "acde";
    std::size_t records = 0;
    for (const tarn::MailRecord* r : session.db().storedRecords()) {
        ++records;
        const int acc = r->Account.value_or(0);
        ASSERT_GE(acc, 1);
        ASSERT_LE(acc, 4);
        EXPECT_EQ(r->UID.value_or("?")[0], letters[static_cast<std::size_t>(acc - 1)])
            << r->UID.value_or("") << " under account " << acc;
    }
    EXPECT_EQ(records, 12u);
    for (int n = 1; n <= 4; ++n)
        EXPECT_FALSE(session.runtime()[n].Busy) << n;
    EXPECT_FALSE(deleted->Busy);

    // The deleted account's check ended failed with its reason, the moved one reported
    // under its new number.
    const auto& ends = host.terminations;
    const auto gone = std::find_if(
        ends.begin(), ends.end(), [&](const tarn::CheckResult& r) { return r.runtime == deleted; });
    ASSERT_NE(gone, ends.end());
    EXPECT_TRUE(gone->failed);
    EXPECT_EQ(gone->account, 0);
    EXPECT_EQ(gone->failureText, "The account was deleted during its check.");
    const auto down = std::find_if(ends.begin(), ends.end(),
                                   [&](const tarn::CheckResult& r) { return r.runtime == moved; });
    ASSERT_NE(down, ends.end());
    EXPECT_FALSE(down->failed) << down->failureText;
    EXPECT_EQ(down->account, 2);
}

} // namespace
