// Repeat IMAP4 checks that ask only for what changed, against the private Dovecot: after every
// change another client makes, the mail list is the one a full pass makes, field for field, and
// what went over the wire is only what the change called for.

#include "check/CheckPass.h"
#include "check/TIdCheckThread.h"
#include "mailproto/Imap4MailboxClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "fakes/CheckSessionSupport.h"
#include "fakes/CountingTransport.h"
#include "integration/fixture/DovecotFixture.h"

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::Imap4Client;
using tarn::Imap4MailboxClient;
using tarn::MailRecord;
using tarn::Session;
using tarn::test::CountingTransport;
using tarn::test::DovecotFixture;
using tarn::test::WireCounts;
using Sync = Imap4MailboxClient::Sync;

namespace {

// A message whose parts all have the given lengths' worth of text, so two messages can be
// made the same size on purpose. An empty id leaves the Message-ID out.
std::string message(const std::string& id, const std::string& subject,
                    const std::string& body = "Body text.") {
    std::string m =
        "From: Alice Example <alice@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
        "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\n";
    if (!id.empty())
        m += "Message-ID: <" + id + "@example.org>\r\n";
    return m + "\r\n" + body + "\r\n";
}

std::string describe(const MailRecord& r) {
    std::ostringstream os;
    os << r.UID.value_or("-") << " #" << r.Count.value_or(-1) << " size " << r.Size.value_or(-1)
       << " [" << r.Subject.value_or("-") << "] [" << r.Sender.value_or("-") << "] date "
       << r.Date.value_or(0) << " new " << r.New.value_or(false) << " body " << r.Body.value_or("-")
       << " delete " << r.Delete.value_or(false);
    return os.str();
}

struct Pass {
    bool failed = false;
    std::string failure;
    Sync sync = Sync::Full;
    WireCounts wire;

    // The commands sent, without their tags.
    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        std::istringstream in(wire.written);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out.push_back(line.substr(line.find(' ') + 1));
        }
        return out;
    }
    bool sent(const std::string& prefix) const {
        for (const std::string& c : commands())
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    std::string transcript() const {
        std::string out;
        for (const std::string& c : commands())
            out += "  " + c.substr(0, 120) + "\n";
        return out;
    }
};

class IncrementalImapDovecot : public tarn::test::CheckSessionSupport {
public: // the cases' changes use the helpers
    IncrementalImapDovecot()
        : CheckSessionSupport("tarn-incr"),
          full(makeFolder("tarn-incr-full"), tarn::systemClock(), tarn::test::uniqueLockSuffix()) {
        for (Session* s : {&session, &full}) {
            tarn::AccountSettings acc;
            acc.Name = "Work";
            acc.MailServerType = 1;
            s->settings().Accounts = {acc};
            s->syncWithSettings();
        }
    }
    ~IncrementalImapDovecot() override { std::filesystem::remove_all(full.workingFolder()); }

    static void SetUpTestSuite() {
        if (DovecotFixture::available())
            s_dovecot = std::make_unique<DovecotFixture>();
    }
    static void TearDownTestSuite() { s_dovecot.reset(); }

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot);
    }

    // A new user of the server; every case starts from an empty mail list.
    void startUser(const std::string& user, const std::string& mailbox = "INBOX") {
        m_user = user;
        m_mailbox = mailbox;
        s_dovecot->addUser(m_user, "pw");
        for (Session* s : {&session, &full}) {
            s->db().PurgeAll();
            s->runtime()[1].LastMailboxTotal = -1;
        }
    }
    std::string statePath() const { return session.path("state-" + m_user); }

    std::unique_ptr<Imap4Client> imap(std::shared_ptr<WireCounts> counts = {}) {
        auto c = counts ? std::make_unique<tarn::LineConnection>(
                              std::make_unique<CountingTransport>(std::move(counts)))
                        : std::make_unique<tarn::LineConnection>();
        c->setReadTimeout(20s);
        auto client = std::make_unique<Imap4Client>(std::move(c));
        client->setHost(DovecotFixture::host());
        client->setPort(s_dovecot->imapPort());
        client->setUser(m_user);
        client->setPassword("pw");
        return client;
    }

    // One check of the user's mailbox into s; with the state file when incremental.
    Pass check(Session& s, bool incremental) {
        auto counts = std::make_shared<WireCounts>();
        Imap4MailboxClient client(imap(counts), m_mailbox);
        if (incremental)
            client.setStateFile(statePath(), "key " + m_user);
        CheckPassSettings settings;
        settings.accountName = "Work";
        settings.deletePause = 0ms;
        CheckPass pass(s, host, client, s.runtimeOf(1), 1, settings);
        pass.run();
        // As the check thread does after a failed check.
        if (pass.failed())
            s.runtime()[1].LastMailboxTotal = -1;
        Pass out;
        out.failed = pass.failed();
        out.failure = pass.failureText();
        out.sync = client.sync();
        out.wire = *counts;
        return out;
    }

    std::vector<std::string> records(Session& s) {
        std::vector<std::string> out;
        s.db().walk(1, [&](const MailRecord& r) {
            out.push_back(describe(r));
            return true;
        });
        return out;
    }

    // Checks both ways; the incremental pass comes back for its figures.
    Pass checkBoth() {
        const Pass reference = check(full, false);
        EXPECT_FALSE(reference.failed) << reference.failure;
        Pass p = check(session, true);
        EXPECT_FALSE(p.failed) << p.failure << "\n" << p.transcript();
        EXPECT_EQ(records(session), records(full)) << p.transcript();
        return p;
    }

    // Another client: selects the mailbox and runs what it is given.
    void asAnotherClient(const std::function<void(Imap4Client&)>& act) {
        auto c = imap();
        c->Connect();
        c->SelectMailbox(m_mailbox);
        act(*c);
        c->Disconnect();
    }
    void expungeElsewhere(std::vector<int> numbers) {
        asAnotherClient([&](Imap4Client& c) {
            for (int n : numbers)
                c.AddFlag(n, "\\Deleted");
            c.Expunge();
        });
    }
    void damageState(std::uintmax_t at) {
        std::fstream f(statePath(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(at));
        f.put('#');
    }
    void deliver(const std::string& text) {
        s_dovecot->addMessage(m_user, text);
        if (m_mailbox != "INBOX")
            s_dovecot->doveadm({"move", "-u", m_user, m_mailbox, "mailbox", "INBOX", "all"});
    }
    // The Message-IDs on the server, in mailbox order.
    std::vector<std::string> serverIds() {
        std::vector<std::string> ids;
        asAnotherClient([&](Imap4Client& c) {
            for (int i = 1; i <= c.MessageCount(); ++i)
                ids.push_back(c.FetchEnvelope(i).messageId);
        });
        return ids;
    }

    Session full;
    std::string m_user;
    std::string m_mailbox = "INBOX";
    static inline std::unique_ptr<DovecotFixture> s_dovecot;
};

TEST_F(IncrementalImapDovecot, EveryChangeGivesTheFullPassesStoreAndFetchesOnlyWhatChanged) {
    struct Case {
        const char* name;
        const char* mailbox;
        std::function<void(IncrementalImapDovecot&)> change;
        Sync expected;
        // What the incremental pass may and may not send.
        bool search;
        const char* fetchOnlyThese; // the UID FETCH it sends, or nullptr for none
    };
    const Case cases[] = {
        {"append", "INBOX",
         [](IncrementalImapDovecot& t) {
             t.deliver(message("six", "Sixth"));
             t.deliver(message("", "Seventh without an id"));
         },
         Sync::Changed, true, "UID FETCH 6:7 (UID RFC822.SIZE ENVELOPE)"},
        {"expunge by another client", "INBOX",
         [](IncrementalImapDovecot& t) {
             t.expungeElsewhere({2, 4});
         },
         Sync::Changed, true, nullptr},
        {"append and expunge at once", "INBOX",
         [](IncrementalImapDovecot& t) {
             t.expungeElsewhere({1});
             t.deliver(message("six", "Sixth, a longer subject"));
         },
         Sync::Changed, true, "UID FETCH 6 (UID RFC822.SIZE ENVELOPE)"},
        {"flag change", "INBOX",
         [](IncrementalImapDovecot& t) {
             t.asAnotherClient([](Imap4Client& c) {
                 c.AddFlag(3, "\\Flagged");
                 c.AddFlag(5, "\\Seen");
             });
         },
         Sync::Unchanged, false, nullptr},
        {"damaged first lines of the state", "INBOX",
         [](IncrementalImapDovecot& t) { t.damageState(10); }, Sync::Full, false, nullptr},
        {"damaged message lines of the state and a new message", "INBOX",
         [](IncrementalImapDovecot& t) {
             t.damageState(std::filesystem::file_size(t.statePath()) / 2);
             t.deliver(message("six", "Sixth"));
         },
         Sync::Full, false, nullptr},
        // The first lines say nothing changed; the messages are not needed, so not read.
        {"state cut short and nothing changed", "INBOX",
         [](IncrementalImapDovecot& t) {
             std::filesystem::resize_file(t.statePath(),
                                          std::filesystem::file_size(t.statePath()) / 2);
         },
         Sync::Unchanged, false, nullptr},
        {"UIDVALIDITY changed by recreating the mailbox", "Work",
         [](IncrementalImapDovecot& t) {
             s_dovecot->doveadm({"mailbox", "delete", "-u", t.m_user, "Work"});
             s_dovecot->doveadm({"mailbox", "create", "-u", t.m_user, "Work"});
             // New messages under the UIDs the old ones had.
             t.deliver(message("new-1", "Other first"));
             t.deliver(message("new-2", "Other second", "Another body."));
         },
         Sync::Full, false, nullptr},
    };
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startUser("incr" + std::to_string(++k), c.mailbox);
        if (m_mailbox != "INBOX")
            s_dovecot->doveadm({"mailbox", "create", "-u", m_user, m_mailbox});
        deliver(message("one", "First"));
        deliver(message("two", "Second", "A longer body."));
        deliver(message("", "Third without an id"));
        deliver(message("four", "Fourth"));
        deliver(message("five", "Fifth"));

        const Pass first = checkBoth();
        EXPECT_EQ(first.sync, Sync::Full);
        ASSERT_TRUE(std::filesystem::exists(statePath()));

        c.change(*this);
        const Pass p = checkBoth();
        EXPECT_EQ(p.sync, c.expected) << p.transcript();
        EXPECT_EQ(p.sent("UID SEARCH"), c.search) << p.transcript();
        if (c.expected != Sync::Full) {
            // No envelope of a known message, no listing of every size.
            EXPECT_FALSE(p.sent("FETCH ")) << p.transcript();
            std::vector<std::string> fetches;
            for (const std::string& cmd : p.commands())
                if (cmd.find("FETCH") != std::string::npos)
                    fetches.push_back(cmd);
            EXPECT_EQ(fetches, c.fetchOnlyThese ? std::vector<std::string>{c.fetchOnlyThese}
                                                : std::vector<std::string>{})
                << p.transcript();
        }

        // And once more with nothing new: log-in, selection, the expunge every check ends
        // with, and goodbye.
        const Pass again = checkBoth();
        EXPECT_EQ(again.sync, Sync::Unchanged);
        ASSERT_EQ(again.commands().size(), 4u) << again.transcript();
        EXPECT_EQ(again.commands()[1].rfind("SELECT ", 0), 0u) << again.transcript();
        EXPECT_EQ(again.commands()[2], "EXPUNGE") << again.transcript();
    }
}

TEST_F(IncrementalImapDovecot, DeletionsAndBodyRequestsReachTheMessagesThePassSaw) {
    startUser("incr-act");
    deliver(message("aa", "Message A"));
    deliver(message("bb", "Message B"));
    deliver(message("cc", "Message C", "The body of C."));
    deliver(message("dd", "Message D"));
    deliver(message("ee", "Message E"));
    ASSERT_FALSE(check(session, true).failed);

    // B goes away elsewhere and F, exactly as large, arrives: the mailbox total stays what it
    // was, and every message behind B has a new number.
    expungeElsewhere({2});
    deliver(message("ff", "Message F"));
    const auto mark = [&](const std::string& id, bool remove, bool body) {
        std::optional<MailRecord> r = session.db().FindMessage("<" + id + "@example.org>", 1);
        ASSERT_TRUE(r) << id;
        if (remove)
            r->Delete = true;
        if (body)
            r->RetrieveMail = true;
        session.db().UpdateMessage(*r);
    };
    mark("dd", true, false);
    mark("cc", false, true);
    const Pass p = check(session, true);
    ASSERT_FALSE(p.failed) << p.failure;
    EXPECT_EQ(p.sync, Sync::Changed);
    EXPECT_EQ(serverIds(), (std::vector<std::string>{"<aa@example.org>", "<cc@example.org>",
                                                     "<ee@example.org>", "<ff@example.org>"}));
    const std::optional<MailRecord> c = session.db().FindMessage("<cc@example.org>", 1);
    ASSERT_TRUE(c);
    EXPECT_NE(c->Body.value_or("").find("The body of C."), std::string::npos) << describe(*c);
    EXPECT_EQ(c->Count, 2);
    EXPECT_FALSE(session.db().FindMessage("<dd@example.org>", 1));
    EXPECT_FALSE(session.db().FindMessage("<bb@example.org>", 1));
    EXPECT_TRUE(session.db().FindMessage("<ff@example.org>", 1));

    // Our own expunge moved the numbers again; the next check finds out, and a deletion then
    // reaches E, not the message now at E's old number.
    mark("ee", true, false);
    const Pass next = check(session, true);
    ASSERT_FALSE(next.failed) << next.failure;
    EXPECT_EQ(serverIds(), (std::vector<std::string>{"<aa@example.org>", "<cc@example.org>",
                                                     "<ff@example.org>"}));
    // With nothing changed the pass is skipped, and a deletion still names its message.
    mark("aa", true, false);
    const Pass quiet = check(session, true);
    ASSERT_FALSE(quiet.failed) << quiet.failure;
    EXPECT_EQ(quiet.sync, Sync::Unchanged);
    EXPECT_EQ(serverIds(), (std::vector<std::string>{"<cc@example.org>", "<ff@example.org>"}));
    EXPECT_TRUE(quiet.sent("UID STORE ")) << quiet.transcript();
}

TEST_F(IncrementalImapDovecot, TheCheckThreadKeepsAPrivateStateBesideTheMailList) {
    startUser("incr-thread");
    deliver(message("aa", "Message A"));
    tarn::AccountSettings& acc = session.settings().account(1);
    acc.Host = DovecotFixture::host();
    acc.UserID = m_user;
    acc.Password = "pw";
    session.syncWithSettings();
    tarn::CheckOptions o;
    o.imapPort = s_dovecot->imapPort();
    o.readTimeout = 20s;
    session.runtime()[1].Busy = true;
    ASSERT_FALSE(tarn::TIdCheckThread::forAccount(session, host, 1, o)->run().failed);

    std::vector<std::filesystem::path> states;
    for (const auto& e : std::filesystem::directory_iterator(session.workingFolder()))
        if (e.path().extension() == ".state")
            states.push_back(e.path());
    ASSERT_EQ(states.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(states[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream in(states[0]);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Message A"), std::string::npos);
}

} // namespace
