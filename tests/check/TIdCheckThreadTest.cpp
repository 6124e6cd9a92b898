#include "check/TIdCheckThread.h"
#include "check/ImapStateFiles.h"
#include "mailproto/ServerEndpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::CheckOptions;
using tarn::CheckResult;
using tarn::MailRecord;
using tarn::TIdCheckThread;
using tarn::test::CheckSessionSupport;
using tarn::test::ScriptedServer;
using tarn::test::StatusReport;
using After = ScriptedServer::After;

namespace {

struct FakeMessage {
    std::string uid;
    std::string subject;
    std::string body = "Hello.";
    std::size_t padTo = 0; // reported size (and RETR length) at least this

    std::string header() const {
        return "From: Alice <alice@example.org>\r\nSubject: " + subject +
               "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\nMessage-ID: <" + uid + ">\r\n";
    }
    std::string bodyText() const {
        std::string b = body + "\r\n";
        while (header().size() + 2 + b.size() < padTo)
            b += std::string(70, 'x') + "\r\n";
        return b;
    }
    std::size_t size() const { return header().size() + 2 + bodyText().size(); }
};

// A POP3 mailbox on the scripted server; the rules are rebuilt from the message list.
class Pop3Mailbox {
public:
    explicit Pop3Mailbox(ScriptedServer& srv) : m_srv(srv) {}

    void serve(const std::vector<FakeMessage>& msgs, bool uidlFails = false, int rejectDele = 0) {
        m_srv.clearRules();
        if (rejectDele > 0)
            m_srv.on("DELE " + std::to_string(rejectDele), "-ERR message is locked\r\n");
        m_srv.setGreeting("+OK ready\r\n");
        m_srv.on("USER bob", "+OK\r\n");
        m_srv.on("PASS secret", "+OK logged in\r\n");
        m_srv.onPrefix("PASS", "-ERR [AUTH] Authentication failed.\r\n");
        std::size_t total = 0;
        std::string list = "+OK\r\n";
        std::string uidl = "+OK\r\n";
        for (std::size_t i = 0; i < msgs.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            total += msgs[i].size();
            list += n + " " + std::to_string(msgs[i].size()) + "\r\n";
            uidl += n + " " + msgs[i].uid + "\r\n";
            m_srv.on("LIST " + n, "+OK " + n + " " + std::to_string(msgs[i].size()) + "\r\n");
            m_srv.on("TOP " + n + " 0", "+OK\r\n" + msgs[i].header() + "\r\n.\r\n");
            m_srv.on("RETR " + n,
                     "+OK\r\n" + msgs[i].header() + "\r\n" + msgs[i].bodyText() + ".\r\n");
            m_srv.on("DELE " + n, "+OK deleted\r\n");
        }
        m_srv.on("STAT",
                 "+OK " + std::to_string(msgs.size()) + " " + std::to_string(total) + "\r\n");
        m_srv.on("LIST", list + ".\r\n");
        m_srv.on("UIDL", uidlFails ? "-ERR no UIDL\r\n" : uidl + ".\r\n");
        m_srv.on("QUIT", "+OK bye\r\n", After::Close);
        m_srv.setUnmatchedReply("-ERR no such message\r\n");
        m_total = static_cast<long long>(total);
    }
    long long total() const { return m_total; }

private:
    ScriptedServer& m_srv;
    long long m_total = 0;
};

class CheckWorker : public CheckSessionSupport {
protected:
    CheckWorker() : CheckSessionSupport("tarn-check"), box(srv) {}

    void SetUp() override {
        tarn::AccountSettings acc;
        acc.Name = "Work";
        acc.Host = "127.0.0.1:" + std::to_string(srv.port());
        acc.UserID = "bob";
        acc.Password = "secret";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
    }

    tarn::AccountSettings& account() { return session.settings().account(1); }
    tarn::AccountRuntime& rt() { return session.runtime()[1]; }

    CheckResult check() {
        rt().Busy = true;
        CheckOptions opt;
        opt.connectTimeout = 5s;
        opt.readTimeout = readTimeout;
        opt.deletePause = 0ms;
        opt.hostLookup = lookup;
        auto worker = TIdCheckThread::forAccount(session, host, 1, opt);
        return worker->run();
    }

    std::vector<std::string> commands() {
        auto r = srv.received();
        return r;
    }
    bool sent(const std::string& prefix) {
        auto r = srv.received();
        return std::any_of(r.begin(), r.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    void addRecord(const std::string& uid, long long count, bool del = false,
                   long long size = 100) {
        MailRecord r;
        r.UID = uid;
        r.Account = 1;
        r.Count = count;
        r.Size = size;
        r.Subject = "old " + uid;
        r.Sender = "someone";
        r.Header = "Subject: old\r\n";
        if (del)
            r.Delete = true;
        session.db().AppendMessage(r);
        session.db().ClearNewFlags(1);
    }

    ScriptedServer srv;
    Pop3Mailbox box;
    std::chrono::milliseconds readTimeout = 5s;
    tarn::HostLookup lookup; // empty: the system's resolver
};

TEST_F(CheckWorker, FullCheckReportsEveryStepAndStoresNewMessages) {
    box.serve({{"uid-a", "first"}, {"uid-b", "second"}});
    const CheckResult r = check();

    const std::vector<StatusReport> expected = {
        {1, 0, "Contacting"},
        {1, 0, "Connected"},
        {1, 3, "5"},
        {1, 1, "Getting Status"},
        {1, 1, "2 Messages detected"},
        {1, 1, "Getting UID List"},
        {1, 3, "10"},
        {1, 3, "50"},
        {1, 1, "Getting Message Size 1 of 2"},
        {1, 1, "Getting header 1 of 2"},
        {1, 3, "90"},
        {1, 1, "Getting Message Size 2 of 2"},
        {1, 1, "Getting header 2 of 2"},
        {1, 0, "Disconnected"},
        {1, 1, ""},
        {1, 3, "0"},
    };
    EXPECT_EQ(host.reports, expected);
    EXPECT_FALSE(r.failed);
    EXPECT_FALSE(r.unchanged);
    EXPECT_EQ(r.newCount, 2);
    ASSERT_EQ(host.ends.size(), 1u);
    EXPECT_EQ(host.busyAtEnd, std::vector<bool>{false});
    EXPECT_EQ(host.newShownAtEnd, std::vector<long long>{2});
    EXPECT_EQ(host.sounds, (std::vector<std::pair<int, long long>>{{1, 2}}));
    ASSERT_EQ(host.terminations.size(), 1u);

    auto a = session.db().FindMessage("uid-a", 1);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Subject, "first");
    EXPECT_NE(a->Sender.value_or("").find("Alice"), std::string::npos);
    EXPECT_EQ(a->Count, 1);
    EXPECT_EQ(a->Size, static_cast<long long>(FakeMessage{"uid-a", "first"}.size()));
    EXPECT_GT(a->Date.value_or(0), 45000.0);
    EXPECT_NE(a->Header.value_or("").find("Subject: first"), std::string::npos);
    EXPECT_FALSE(a->Body);
    // The termination step ended the check: New marks cleared, not busy, total remembered.
    EXPECT_EQ(session.db().CountNewShown(1), 0);
    EXPECT_FALSE(rt().Busy);
    EXPECT_EQ(rt().LastMailboxTotal, box.total());
    // Header-only requests, never the whole message.
    EXPECT_TRUE(sent("TOP 1 0"));
    EXPECT_FALSE(sent("RETR"));
    EXPECT_TRUE(srv.waitForLine("QUIT"));
}

TEST_F(CheckWorker, EmptyMailboxRemovesEveryRecordOfTheAccountWithoutListing) {
    addRecord("gone-1", 1);
    addRecord("gone-2", 2);
    MailRecord other;
    other.UID = "gone-1";
    other.Account = 2;
    other.Count = 1;
    session.db().AppendMessage(other);
    box.serve({});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    ASSERT_TRUE(srv.waitForLine("QUIT")); // sent without waiting for the answer
    EXPECT_EQ(srv.received(),
              (std::vector<std::string>{"CAPA", "USER bob", "PASS secret", "STAT", "QUIT"}));
    EXPECT_EQ(session.db().CountShownMessages(1), 0);
    EXPECT_TRUE(session.db().FindMessage("gone-1", 2)); // another account's record stays
    EXPECT_EQ(rt().ShownCount, 0);
}

TEST_F(CheckWorker, UnchangedTotalSkipsThePassButStillDeletesAndTrims) {
    const std::vector<FakeMessage> msgs = {{"u1", "one"}, {"u2", "two"}, {"u3", "three"}};
    box.serve(msgs);
    addRecord("u1", 1);
    addRecord("u2", 2, true);
    addRecord("u3", 3);
    addRecord("beyond", 7);
    rt().LastMailboxTotal = box.total();

    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_TRUE(r.unchanged);
    EXPECT_EQ(r.deletedCount, 1);
    const std::vector<std::string> expected = {"CAPA", "USER bob", "PASS secret", "STAT",
                                               "LIST", "DELE 2",   "QUIT"};
    ASSERT_TRUE(srv.waitForLine("QUIT"));
    EXPECT_EQ(srv.received(), expected);
    EXPECT_FALSE(session.db().FindMessage("u2", 1));
    EXPECT_FALSE(session.db().FindMessage("beyond", 1));
    EXPECT_TRUE(session.db().FindMessage("u3", 1));
    EXPECT_NE(logText().find("|Deleted|Work|old u2|someone|100|u2\r\n"), std::string::npos);
    const auto reports = host.reports;
    EXPECT_NE(std::find(reports.begin(), reports.end(), StatusReport{1, 1, "Deleting Message 2"}),
              reports.end());
    EXPECT_NE(std::find(reports.begin(), reports.end(), StatusReport{1, 3, "96"}), reports.end());
}

TEST_F(CheckWorker, MessageThatMovedKeepsItsRecordUnderTheNewNumber) {
    for (int k = 1; k <= 5; ++k)
        addRecord("m" + std::to_string(k), k);
    // Message 3 was deleted elsewhere: 4 and 5 moved down.
    box.serve({{"m1", "a"}, {"m2", "b"}, {"m4", "d"}, {"m5", "e"}});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(session.db().FindMessage("m4", 1)->Count, 3);
    EXPECT_EQ(session.db().FindMessage("m5", 1)->Count, 4);
    EXPECT_FALSE(session.db().FindMessage("m3", 1));
    EXPECT_EQ(session.db().CountShownMessages(1), 4);
    EXPECT_EQ(r.newCount, 0);
    // Everything was known: no sizes, no headers asked for.
    EXPECT_FALSE(sent("TOP"));
    EXPECT_FALSE(sent("LIST "));
}

TEST_F(CheckWorker, FailingUidListingFailsEveryMessageAndDeletesNothing) {
    box.serve({{"u1", "one"}, {"u2", "two"}}, /*uidlFails=*/true);
    addRecord("u1", 1, true);
    rt().LastMailboxTotal = -2;
    const CheckResult r = check();
    EXPECT_TRUE(r.failed);
    EXPECT_FALSE(sent("DELE"));
    EXPECT_FALSE(sent("LIST 1"));
    EXPECT_TRUE(session.db().FindMessage("u1", 1)); // nothing changed, nothing removed
    EXPECT_EQ(session.db().size(), 1u);
    EXPECT_EQ(rt().LastMailboxTotal, -1);
    EXPECT_TRUE(srv.waitForLine("QUIT"));
    ASSERT_EQ(host.ends.size(), 1u);
    EXPECT_TRUE(host.ends[0].failed);
}

TEST_F(CheckWorker, ListOffStoresIdentityAndSizeOnlyAndStillRunsFilters) {
    account().List = false;
    account().RetrieveAllBodies = true;
    session.settings().Filters = {{5, true, 0, 1, "100", "", 0}}; // smaller than 100 kB: hide
    session.syncWithSettings();
    box.serve({{"u1", "one"}});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_FALSE(sent("TOP"));
    EXPECT_FALSE(sent("RETR"));
    auto rec = session.db().FindMessage("u1", 1);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->Size, static_cast<long long>(FakeMessage{"u1", "one"}.size()));
    EXPECT_FALSE(rec->Subject);
    EXPECT_FALSE(rec->Header);
    EXPECT_FALSE(rec->Body);
    EXPECT_EQ(rec->Ignore, true);
    EXPECT_EQ(r.newCount, 0); // hidden messages are not announced
}

TEST_F(CheckWorker, BodyRuleHonoursTheDownloadLimitForNewMessages) {
    account().RetrieveAllBodies = true;
    session.settings().Main.MaxDownloadSize = 50;
    FakeMessage big{"big", "large", "Big.", 60 * 1024};
    FakeMessage small{"small", "little", "Small body line."};
    box.serve({big, small});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_FALSE(sent("RETR 1"));
    EXPECT_TRUE(sent("RETR 2"));
    EXPECT_FALSE(session.db().FindMessage("big", 1)->Body);
    auto s = session.db().FindMessage("small", 1);
    EXPECT_NE(s->Body.value_or("").find("Small body line."), std::string::npos);
    EXPECT_EQ(s->RetrieveMail, false);
    // Header first, then the late body fetch.
    const auto reports = host.reportsOf(1);
    auto hdr =
        std::find(reports.begin(), reports.end(), StatusReport{1, 1, "Getting header 2 of 2"});
    auto body =
        std::find(reports.begin(), reports.end(), StatusReport{1, 1, "Getting body 2 of 2"});
    EXPECT_LT(hdr, body);
    EXPECT_NE(body, reports.end());
}

TEST_F(CheckWorker, BodyAskedForEarlierIsFetchedWhateverItsSize) {
    session.settings().Main.MaxDownloadSize = 50;
    FakeMessage big{"big", "large", "Wanted body.", 60 * 1024};
    box.serve({big});
    MailRecord r;
    r.UID = "big";
    r.Account = 1;
    r.Count = 1;
    r.Size = static_cast<long long>(big.size());
    r.Header = "Subject: large\r\n";
    r.RetrieveMail = true;
    session.db().AppendMessage(r);
    rt().LastMailboxTotal = -2;
    check();
    auto rec = session.db().FindMessage("big", 1);
    EXPECT_NE(rec->Body.value_or("").find("Wanted body."), std::string::npos);
    EXPECT_EQ(rec->RetrieveMail, false);
    EXPECT_FALSE(sent("TOP")); // the whole message brings its header
}

TEST_F(CheckWorker, CancelledPasswordPromptLogsInEmptyAndAsksAgainNextTime) {
    account().SavePwd = false;
    account().Password.clear();
    box.serve({{"u1", "one"}});

    host.promptAnswer.reset();
    CheckResult r = check();
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(host.prompts, std::vector<std::string>{"Password at Work:"});
    EXPECT_TRUE(sent("PASS"));
    EXPECT_FALSE(sent("PASS secret"));
    EXPECT_EQ(rt().LastMailboxTotal, -1);
    EXPECT_FALSE(rt().Busy);

    host.promptAnswer = "secret";
    r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(host.prompts.size(), 2u);
    EXPECT_EQ(account().Password, "secret"); // kept in memory for this run

    r = check();
    EXPECT_EQ(host.prompts.size(), 2u); // not asked again
}

TEST_F(CheckWorker, SameMessageIsNewOnlyInTheFirstCheck) {
    box.serve({{"u1", "one"}});
    EXPECT_EQ(check().newCount, 1);
    EXPECT_EQ(session.db().FindMessage("u1", 1)->New, false);
    rt().LastMailboxTotal = -2; // force the full pass
    const CheckResult second = check();
    EXPECT_FALSE(second.failed);
    EXPECT_EQ(second.newCount, 0);
    EXPECT_EQ(host.newShownAtEnd, (std::vector<long long>{1, 0}));
    EXPECT_EQ(host.sounds, (std::vector<std::pair<int, long long>>{{1, 1}, {1, 0}}));
}

TEST_F(CheckWorker, RejectedDeletionRemovesTheRecordLogsTheErrorAndStops) {
    session.settings().Main.KeepLogFile = false;
    box.serve({{"u1", "one"}, {"u2", "two"}}, false, /*rejectDele=*/1);
    addRecord("u1", 1, true);
    addRecord("u2", 2, true);
    rt().LastMailboxTotal = box.total();

    const CheckResult r = check();
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.deletedCount, 1);
    EXPECT_FALSE(session.db().FindMessage("u1", 1));
    EXPECT_TRUE(session.db().FindMessage("u2", 1)); // the loop stopped
    EXPECT_FALSE(sent("DELE 2"));
    const std::string log = logText();
    EXPECT_NE(log.find("|Error While Deleting|Work|old u1|someone|100|u1\r\n"), std::string::npos);
    EXPECT_EQ(log.find("|Deleted|"), std::string::npos);
    EXPECT_EQ(rt().LastMailboxTotal, -1);
}

TEST_F(CheckWorker, KeepLogFileOffWritesNothingForSuccessfulDeletions) {
    session.settings().Main.KeepLogFile = false;
    box.serve({{"u1", "one"}});
    addRecord("u1", 1, true);
    rt().LastMailboxTotal = box.total();
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_TRUE(sent("DELE 1"));
    EXPECT_EQ(r.deletedCount, 1);
    EXPECT_FALSE(std::filesystem::exists(session.path("tarnlog.log")));
}

TEST_F(CheckWorker, RecordWithoutPositiveNumberIsNeverSentAndDoesNotBlockOthers) {
    box.serve({{"u1", "one"}, {"u2", "two"}});
    addRecord("zero", 0, true);
    addRecord("u2", 2, true);
    rt().LastMailboxTotal = box.total();
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_TRUE(sent("DELE 2"));
    EXPECT_FALSE(sent("DELE 0"));
    EXPECT_TRUE(session.db().FindMessage("zero", 1));
    EXPECT_FALSE(session.db().FindMessage("u2", 1));
}

TEST_F(CheckWorker, FiltersDeleteHideAndAskForTheBodyInTheSameCheck) {
    session.settings().Filters = {
        {3, true, 0, 0, "spam", "", 0},  // subject contains spam: delete
        {3, true, 0, 1, "quiet", "", 0}, // hide
        {3, true, 0, 2, "fetch", "", 0}, // retrieve full message
        {2, true, 1, 4, "halt", "", 0},  // subject is halt: shutdown and delete
    };
    session.syncWithSettings();
    box.serve({{"u1", "buy spam"},
               {"u2", "quiet one"},
               {"u3", "fetch me", "Full text."},
               {"u4", "halt"}});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_TRUE(r.shutdownRequested);
    EXPECT_TRUE(sent("DELE 1"));
    EXPECT_TRUE(sent("DELE 4"));
    EXPECT_EQ(r.deletedCount, 2);
    EXPECT_FALSE(session.db().FindMessage("u1", 1));
    EXPECT_EQ(session.db().FindMessage("u2", 1)->Ignore, true);
    EXPECT_NE(session.db().FindMessage("u3", 1)->Body.value_or("").find("Full text."),
              std::string::npos);
    EXPECT_EQ(r.newCount, 1); // u3 only: u2 is hidden, u1 and u4 are gone
}

TEST_F(CheckWorker, FilterThatCannotRunFailsTheCheckButKeepsTheMessage) {
    session.settings().Filters = {{10, true, 0, 1, "([", "", 0}}; // bad regular expression
    session.syncWithSettings();
    box.serve({{"u1", "one"}});
    const CheckResult r = check();
    EXPECT_TRUE(r.failed);
    ASSERT_TRUE(session.db().FindMessage("u1", 1));
    EXPECT_EQ(session.db().FindMessage("u1", 1)->Subject, "one");
}

TEST_F(CheckWorker, StalledServerFailsAfterTheReadTimeout) {
    box.serve({{"u1", "one"}});
    srv.clearRules();
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "", After::Stall);
    readTimeout = 300ms;
    const auto t0 = std::chrono::steady_clock::now();
    const CheckResult r = check();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_TRUE(r.failed);
    EXPECT_FALSE(rt().Busy);
    EXPECT_EQ(rt().LastMailboxTotal, -1);
    EXPECT_EQ(host.terminations.size(), 1u);
}

TEST_F(CheckWorker, EmptyHostOrBadPortFailsWithoutContactingAnything) {
    for (const std::string& h :
         {std::string(""), std::string(":110"), "127.0.0.1:" + std::to_string(srv.port()) + "x",
          std::string("127.0.0.1:")}) {
        SCOPED_TRACE(h);
        host.ends.clear();
        host.sounds.clear();
        host.reports.clear();
        account().Host = h;
        const CheckResult r = check();
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(host.ends.size(), 1u);
        EXPECT_TRUE(host.sounds.empty());
        EXPECT_TRUE(host.reports.empty());
        EXPECT_FALSE(rt().Busy);
        EXPECT_EQ(rt().LastMailboxTotal, -1);
    }
    EXPECT_EQ(srv.connectionCount(), 0);
}

TEST_F(CheckWorker, CreationClearsCheckRequested) {
    rt().CheckRequested = true;
    auto w = TIdCheckThread::forAccount(session, host, 1);
    EXPECT_FALSE(rt().CheckRequested);
}

TEST_F(CheckWorker, StartedWorkerRunsOnItsOwnThreadAndEndsThroughTheHost) {
    box.serve({{"u1", "one"}});
    rt().Busy = true;
    CheckOptions opt;
    opt.readTimeout = 5s;
    ASSERT_TRUE(TIdCheckThread::start(TIdCheckThread::forAccount(session, host, 1, opt)));
    ASSERT_TRUE(host.waitForTerminations(1, 10s));
    EXPECT_TRUE(session.waitForWorkers(5s));
    EXPECT_EQ(session.runningWorkers(), 0);
    EXPECT_FALSE(rt().Busy);
    EXPECT_TRUE(session.db().FindMessage("u1", 1));
}

TEST_F(CheckWorker, QuittingStopsTheWorkerWithoutFurtherHostCalls) {
    box.serve({{"u1", "one"}, {"u2", "two"}});
    session.Quitting = true;
    const CheckResult r = check();
    EXPECT_TRUE(r.failed);
    EXPECT_TRUE(host.ends.empty());
    EXPECT_TRUE(host.terminations.empty());
    EXPECT_FALSE(sent("TOP"));
    EXPECT_FALSE(rt().Busy);
}

// Every way a check can fail leaves its kind and its words in the result.
TEST_F(CheckWorker, FailedCheckCarriesItsReason) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        tarn::ErrorKind kind;
        std::string text; // the start of the failure text
    };
    const std::string server = "127.0.0.1:" + std::to_string(srv.port());
    const auto stallAt = [this](const std::string& command, const std::string& answer,
                                After after) {
        srv.clearRules();
        srv.setGreeting("+OK ready\r\n");
        srv.on(command, answer, after);
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK\r\n");
        srv.on("STAT", "+OK 1 100\r\n");
        srv.on("LIST", "+OK\r\n1 100\r\n.\r\n");
        srv.on("QUIT", "+OK\r\n", After::Close);
    };
    const std::vector<Case> cases = {
        {"refused",
         [&] {
             account().Host = "127.0.0.1:" + std::to_string([] {
                                  ScriptedServer gone;
                                  return gone.port();
                              }());
         },
         tarn::ErrorKind::ConnectionRefused, "Could not connect to 127.0.0.1:"},
        {"unknown host",
         [&] {
             account().Host = "mail.example.test:110";
             lookup = [](const std::string& h, int) -> std::vector<tarn::ResolvedAddress> {
                 throw tarn::TarnError(tarn::ErrorKind::HostNotFound, "Host " + h + " not found.");
             };
         },
         tarn::ErrorKind::HostNotFound, "Host mail.example.test not found."},
        {"login", [&] { account().Password = "wrong"; }, tarn::ErrorKind::LoginRejected,
         "[AUTH] Authentication failed."},
        {"silent", [&] { stallAt("STAT", "", After::Stall); }, tarn::ErrorKind::TimedOut,
         "Read timed out after 300 ms."},
        {"garbage", [&] { stallAt("STAT", "HELLO THERE\r\n", After::Continue); },
         tarn::ErrorKind::ProtocolError, "Unrecognized POP3 Response Header:"},
        {"closed mid-listing", [&] { stallAt("UIDL", "+OK\r\n1 a\r\n", After::Close); },
         tarn::ErrorKind::ConnectionClosed, "Connection Closed Gracefully."},
        {"no host", [&] { account().Host = ""; }, tarn::ErrorKind::LocalError,
         "No server is set for the account."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box.serve({{"u1", "one"}});
        account().Host = server;
        account().Password = "secret";
        lookup = nullptr;
        readTimeout = 300ms;
        rt().LastMailboxTotal = -1;
        c.arrange();
        const CheckResult r = check();
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.failureKind, c.kind) << r.failureText;
        EXPECT_EQ(r.failureText.rfind(c.text, 0), 0u) << r.failureText;
        EXPECT_EQ(r.failureReason(),
                  std::string(tarn::errorKindName(c.kind)) + ": " + r.failureText);
        // The host saw the same reason at the end of the check and at its termination.
        ASSERT_FALSE(host.ends.empty());
        EXPECT_EQ(host.ends.back().failureText, r.failureText);
        EXPECT_EQ(host.terminations.back().failureKind, c.kind);
    }
}

TEST_F(CheckWorker, SuccessfulCheckHasNoReason) {
    box.serve({{"u1", "one"}});
    const CheckResult r = check();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.failureReason(), "");
    EXPECT_EQ(tarn::checkFieldHint("Work", "09:05", r), "Work 09:05");
    CheckResult failed = r;
    failed.failed = true;
    failed.failureKind = tarn::ErrorKind::TimedOut;
    failed.failureText = "Read timed out after 60000 ms.";
    EXPECT_EQ(tarn::checkFieldHint("Work", "09:05", failed),
              "Work 09:05 (time-out: Read timed out after 60000 ms.)");
}

TEST_F(CheckWorker, MessageFarLargerThanItsAnnouncedSizeFailsTheCheckNotTheStore) {
    // Message 1 claims 10 bytes and sends two megabytes; message 2 is honest. The same whether
    // the commands wait for each other or are sent ahead.
    account().RetrieveAllBodies = true;
    session.settings().Main.MaxDownloadSize = 50;
    std::string flood = "+OK\r\nSubject: tiny\r\nMessage-ID: <u1>\r\n\r\n";
    for (int i = 0; i < 28000; ++i)
        flood += std::string(70, 'z') + "\r\n";
    for (const char* capa : {"-ERR\r\n", "+OK\r\nPIPELINING\r\n.\r\n"}) {
        SCOPED_TRACE(capa);
        session.db().PurgeAll();
        rt().LastMailboxTotal = 0;
        srv.clearRules();
        srv.setGreeting("+OK ready\r\n");
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK\r\n");
        srv.on("STAT", "+OK 2 110\r\n");
        srv.on("LIST", "+OK\r\n1 10\r\n2 100\r\n.\r\n");
        srv.on("UIDL", "+OK\r\n1 u1\r\n2 u2\r\n.\r\n");
        srv.on("CAPA", capa);
        srv.on("LIST 1", "+OK 1 10\r\n");
        srv.on("LIST 2", "+OK 2 100\r\n");
        srv.on("TOP 1 0", "+OK\r\nSubject: tiny\r\n.\r\n");
        srv.on("TOP 2 0", "+OK\r\nSubject: honest\r\n.\r\n");
        srv.on("RETR 1", flood + ".\r\n");
        srv.on("RETR 2", "+OK\r\nSubject: honest\r\n\r\nfine\r\n.\r\n");
        srv.on("QUIT", "+OK\r\n", After::Close);
        const CheckResult r = check();
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.failureKind, tarn::ErrorKind::OverBudget);
        EXPECT_EQ(r.failureText, "Message 1 is larger than the 1048576 bytes allowed.");
        const auto one = session.db().FindMessage("u1", 1);
        ASSERT_TRUE(one);
        EXPECT_EQ(one->Subject, "tiny");
        EXPECT_FALSE(one->Body);
        const auto two = session.db().FindMessage("u2", 1);
        ASSERT_TRUE(two);
        EXPECT_EQ(two->Body.value_or(""), "fine\r\n");
    }
}

struct SplitCase {
    std::string setting;
    std::string host;
    std::string portText;
    std::optional<int> port;
};

class HostSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(HostSplit, SplitsAtFirstAndLastColon) {
    const auto& c = GetParam();
    const tarn::HostAndPort hp = tarn::splitHostSetting(c.setting);
    EXPECT_EQ(hp.host, c.host);
    EXPECT_EQ(hp.portText, c.portText);
    EXPECT_EQ(hp.port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostSplit,
    ::testing::Values(SplitCase{"mail.example.org", "mail.example.org", "110", 110},
                      SplitCase{"mail.example.org:995", "mail.example.org", "995", 995},
                      SplitCase{"a:b:2110", "a", "2110", 2110}, SplitCase{"a:", "a", "", {}},
                      SplitCase{"a:pop", "a", "pop", {}}, SplitCase{"a:99999", "a", "99999", {}},
                      SplitCase{"a:0", "a", "0", {}}, SplitCase{"", "", "110", 110}));

struct PortCase {
    int serverType;
    int security;
    std::string setting;
    std::optional<int> port; // nullopt: the check fails before connecting
};

class CheckPort : public ::testing::TestWithParam<PortCase> {};

TEST_P(CheckPort, FollowsTheProtocolAndTheSecurity) {
    const auto& c = GetParam();
    EXPECT_EQ(tarn::checkPort(c.serverType, c.security, tarn::splitHostSetting(c.setting), 143),
              c.port);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckPort,
                         ::testing::Values(PortCase{0, 0, "h", 110}, PortCase{0, 1, "h", 995},
                                           PortCase{0, 2, "h", 110}, PortCase{0, 1, "h:1995", 1995},
                                           PortCase{0, 0, "h:2110", 2110},
                                           PortCase{0, 1, "h:pop", {}},
                                           // Plain IMAP4 keeps its fixed port whatever is set.
                                           PortCase{1, 0, "h:993", 143}, PortCase{1, 0, "h:x", 143},
                                           PortCase{1, 1, "h", 993}, PortCase{1, 2, "h", 143},
                                           PortCase{1, 1, "h:1993", 1993},
                                           PortCase{1, 2, "h:1143", 1143},
                                           PortCase{1, 1, "h:x", {}}));

// IMAP4 against the scripted server on its own port.
class ImapCheck : public CheckWorker {
protected:
    void SetUp() override {
        CheckWorker::SetUp();
        account().MailServerType = 1;
        account().Host = "127.0.0.1:999"; // the port part is ignored for IMAP4
        srv.setGreeting("* OK IMAP ready\r\n");
        srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK done\r\n");
        srv.onRegex(R"(^C\d+ SELECT "INBOX"$)",
                    "* 2 EXISTS\r\n* 0 RECENT\r\n{TAG} OK [READ-WRITE] done\r\n");
        srv.onRegex(R"(^C\d+ FETCH 1:2 \(RFC822\.SIZE\)$)",
                    "* 1 FETCH (RFC822.SIZE 300)\r\n* 2 FETCH (RFC822.SIZE 400)\r\n{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ FETCH 1 \(ENVELOPE\)$)",
                    "* 1 FETCH (ENVELOPE (\"Tue, 5 Mar 2024 10:00:00 +0000\" \"Hi there\" "
                    "((\"Alice\" NIL \"alice\" \"example.org\")) NIL NIL NIL NIL NIL NIL "
                    "\"<id-1@x>\"))\r\n{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ FETCH 2 \(ENVELOPE\)$)",
                    "* 2 FETCH (ENVELOPE (NIL \"No id\" NIL NIL NIL NIL NIL NIL NIL NIL))\r\n"
                    "{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ FETCH 1 \(RFC822\.SIZE\)$)",
                    "* 1 FETCH (RFC822.SIZE 300)\r\n{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ FETCH 2 \(RFC822\.SIZE\)$)",
                    "* 2 FETCH (RFC822.SIZE 400)\r\n{TAG} OK\r\n");
        // Batches refused: every message is asked for on its own.
        srv.onRegex(R"(^C\d+ FETCH \d+:\d+ \(RFC822\.SIZE ENVELOPE\)$)", "{TAG} NO not here\r\n");
        srv.onRegex(R"(^C\d+ STORE)", "{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ EXPUNGE$)", "* 1 EXPUNGE\r\n{TAG} OK\r\n");
        srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    }
    CheckResult imapCheck() {
        rt().Busy = true;
        CheckOptions opt;
        opt.readTimeout = 5s;
        opt.imapPort = srv.port();
        opt.deletePause = 0ms;
        return TIdCheckThread::forAccount(session, host, 1, opt)->run();
    }
};

TEST_F(ImapCheck, EnvelopeGivesTheIdentityAndTheHeaderFields) {
    const CheckResult r = imapCheck();
    EXPECT_FALSE(r.failed);
    auto a = session.db().FindMessage("<id-1@x>", 1);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Subject, "Hi there");
    EXPECT_NE(a->Sender.value_or("").find("alice@example.org"), std::string::npos);
    EXPECT_EQ(a->Size, 300);
    EXPECT_GT(a->Date.value_or(0), 45000.0);
    EXPECT_FALSE(a->Header);
    auto b = session.db().FindMessage("account_1& Nr:2", 1);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Subject, "No id");
    const auto reports = host.reports;
    EXPECT_NE(
        std::find(reports.begin(), reports.end(), StatusReport{1, 1, "Getting header 1 of 2"}),
        reports.end());
    EXPECT_EQ(std::find(reports.begin(), reports.end(), StatusReport{1, 1, "Getting UID List"}),
              reports.end());
    EXPECT_TRUE(sent("C2 LOGIN"));
    EXPECT_TRUE(srv.waitForLine("C3 SELECT \"INBOX\""));
}

TEST_F(ImapCheck, DeletionSetsSeenThenDeletedAndExpungesOnce) {
    MailRecord r;
    r.UID = "<id-1@x>";
    r.Account = 1;
    r.Count = 1;
    r.Size = 300;
    r.Delete = true;
    session.db().AppendMessage(r);
    rt().LastMailboxTotal = 700;
    const CheckResult res = imapCheck();
    EXPECT_FALSE(res.failed);
    EXPECT_TRUE(res.unchanged);
    std::vector<std::string> tail;
    for (const auto& l : srv.received()) {
        const std::string cmd = l.substr(l.find(' ') + 1);
        if (cmd.rfind("STORE", 0) == 0 || cmd == "EXPUNGE")
            tail.push_back(cmd);
    }
    EXPECT_EQ(tail, (std::vector<std::string>{"STORE 1 +FLAGS.SILENT (\\Seen)",
                                              "STORE 1 +FLAGS.SILENT (\\Deleted)", "EXPUNGE"}));
    EXPECT_FALSE(session.db().FindMessage("<id-1@x>", 1));
}

// The state file a check keeps is the one the start-up sweep and the deletion of an account
// name for that account: kept while the account checks that mailbox, removed once it does not.
TEST_F(ImapCheck, TheStateFileKeptIsTheOneNamedForTheAccount) {
    // A mailbox with a UIDVALIDITY is followed by a state.
    srv.clearRules();
    srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK done\r\n");
    srv.onRegex(R"(^C\d+ SELECT "INBOX"$)",
                "* 2 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\n* OK [UIDNEXT 10] ok\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1:2 \(UID RFC822\.SIZE ENVELOPE\)$)",
                "* 1 FETCH (UID 7 RFC822.SIZE 300 ENVELOPE (NIL \"One\" NIL NIL NIL NIL NIL NIL "
                "NIL \"<id-1@x>\"))\r\n* 2 FETCH (UID 9 RFC822.SIZE 400 ENVELOPE (NIL \"Two\" NIL "
                "NIL NIL NIL NIL NIL NIL NIL))\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ EXPUNGE$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    EXPECT_FALSE(imapCheck().failed);
    std::vector<std::string> states;
    for (const auto& e : std::filesystem::directory_iterator(session.workingFolder()))
        if (tarn::isImapStateFileName(e.path().filename().string()))
            states.push_back(e.path().filename().string());
    ASSERT_EQ(states, std::vector<std::string>{tarn::imapStateFileOf(account(), srv.port())});
    const std::string folder = session.workingFolder();
    EXPECT_TRUE(
        tarn::removeStaleImapStates(folder, session.settings().Accounts, srv.port()).empty());
    account().UserID = "carol";
    EXPECT_EQ(tarn::removeStaleImapStates(folder, session.settings().Accounts, srv.port()), states);
}

} // namespace
