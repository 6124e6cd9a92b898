// POP3 with PIPELINING and IMAP4 with batched fetches against the private Dovecot: the mail
// list after such a check equals, field by field, the one after a check that sends one
// command at a time; deletions and newly arrived messages come out right.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "check/CheckPass.h"
#include "fakes/CheckSessionSupport.h"
#include "integration/fixture/DovecotFixture.h"
#include "mailproto/Imap4MailboxClient.h"
#include "mailproto/Pop3MailboxClient.h"

namespace {

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::MailRecord;
using tarn::test::DovecotFixture;

// Messages of many shapes: encoded and plain subjects, several dates and senders, no
// Message-ID, long headers, bodies of several sizes (one over the download limit).
std::string message(int i) {
    const std::string k = std::to_string(i);
    std::string m = "From: " +
                    (i % 3 == 0 ? "=?UTF-8?Q?J=C3=BCrgen_" + k + "?= <j" + k + "@example.org>"
                                : "Sender " + k + " <s" + k + "@example.org>") +
                    "\r\nTo: bob@example.org\r\n";
    m += "Subject: " + (i % 4 == 0 ? "=?ISO-8859-1?Q?Gr=FC=DFe_" + k + "?=" : "Message " + k) +
         "\r\n";
    m += "Date: " + std::string(i % 5 == 0 ? "Mon, 1 Jan 2024 0" : "Tue, 5 Mar 2024 1") +
         std::to_string(i % 10) + ":00:00 +0" + std::to_string(i % 3) + "00\r\n";
    if (i % 7 != 0)
        m += "Message-ID: <m" + k + "@example.org>\r\n";
    if (i % 11 == 0)
        m += "X-Long: " + std::string(900, 'h') + "\r\n";
    m += "\r\nBody of message " + k + ".\r\n";
    if (i % 13 == 0)
        for (int l = 0; l < 900; ++l)
            m += std::string(70, 'b') + "\r\n"; // about 64 KB
    return m;
}

struct ProtocolParam {
    const char* name;
    int serverType;
};

class PipelinedDovecot : public tarn::test::CheckSessionSupport,
                         public ::testing::WithParamInterface<ProtocolParam> {
protected:
    static void SetUpTestSuite() {
        if (DovecotFixture::available())
            s_dovecot = std::make_unique<DovecotFixture>();
    }
    static void TearDownTestSuite() { s_dovecot.reset(); }

    PipelinedDovecot() : CheckSessionSupport("tarn-pdove") {}

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_user = std::string(GetParam().name) + info->name();
        for (char& c : m_user)
            if (c == '/')
                c = '_';
        s_dovecot->addUser(m_user, "pw");
        tarn::AccountSettings acc;
        acc.Name = "Acc";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
        settings.accountName = "Acc";
        settings.deletePause = 0ms;
    }

    std::unique_ptr<tarn::MailboxClient> makeClient(bool ahead) {
        auto c = std::make_unique<tarn::LineConnection>();
        c->setReadTimeout(20s);
        if (GetParam().serverType == 0) {
            auto pop = std::make_unique<tarn::Pop3Client>(std::move(c));
            pop->setHost(DovecotFixture::host());
            pop->setPort(s_dovecot->pop3Port());
            pop->setUser(m_user);
            pop->setPassword("pw");
            auto client = std::make_unique<tarn::Pop3MailboxClient>(std::move(pop));
            client->setPipeliningAllowed(ahead);
            return client;
        }
        auto imap = std::make_unique<tarn::Imap4Client>(std::move(c));
        imap->setHost(DovecotFixture::host());
        imap->setPort(s_dovecot->imapPort());
        imap->setUser(m_user);
        imap->setPassword("pw");
        auto client = std::make_unique<tarn::Imap4MailboxClient>(std::move(imap), "INBOX");
        client->setBatchingAllowed(ahead);
        return client;
    }

    std::unique_ptr<CheckPass> check(bool ahead = true) {
        client = makeClient(ahead);
        client->setMessageBudget(1024 * 1024);
        auto pass =
            std::make_unique<CheckPass>(session, host, *client, session.runtimeOf(1), 1, settings);
        pass->run();
        return pass;
    }

    std::vector<MailRecord> records() {
        std::vector<MailRecord> out;
        session.db().walk(1, [&](const MailRecord& r) {
            out.push_back(r);
            return true;
        });
        return out;
    }

    static inline std::unique_ptr<DovecotFixture> s_dovecot;
    std::string m_user;
    CheckPassSettings settings;
    std::unique_ptr<tarn::MailboxClient> client;
};

TEST_P(PipelinedDovecot, FirstCheckStoresExactlyWhatTheOneAtATimeCheckStores) {
    for (int i = 1; i <= 150; ++i)
        s_dovecot->addMessage(m_user, message(i));
    struct Setup {
        const char* name;
        bool list;
        bool allBodies;
    };
    for (const Setup& s : {Setup{"headers", true, false}, Setup{"all bodies", true, true},
                           Setup{"no list", false, false}}) {
        SCOPED_TRACE(s.name);
        settings.list = s.list;
        settings.allBodies = s.allBodies;
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        const auto sequential = check(false);
        ASSERT_FALSE(sequential->failed()) << sequential->failureText();
        const std::vector<MailRecord> expected = records();
        ASSERT_EQ(expected.size(), 150u);

        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        const auto pipelined = check(true);
        ASSERT_FALSE(pipelined->failed()) << pipelined->failureText();
        const std::vector<MailRecord> got = records();
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_EQ(got[k], expected[k])
                << "record " << k << " (" << got[k].UID.value_or("") << ")";
        EXPECT_EQ(pipelined->newCount(), sequential->newCount());
        if (GetParam().serverType == 0 && s.list) {
            EXPECT_EQ(static_cast<tarn::Pop3MailboxClient&>(*client).pipelining(), true);
        }
        if (s.allBodies) {
            // The large ones stay without a body, the others have theirs.
            int bodies = 0;
            for (const MailRecord& r : got)
                bodies += r.Body ? 1 : 0;
            EXPECT_EQ(bodies, 150 - 150 / 13);
        }
    }
}

TEST_P(PipelinedDovecot, ThreeMarkedMessagesAreDeletedAndTheRestRenumbered) {
    for (int i = 1; i <= 10; ++i)
        s_dovecot->addMessage(m_user, message(i));
    ASSERT_FALSE(check()->failed());
    std::vector<std::string> marked;
    for (MailRecord r : records()) {
        if (r.Count == 2 || r.Count == 5 || r.Count == 9) {
            r.Delete = true;
            marked.push_back(r.UID.value_or(""));
            session.db().UpdateMessage(r);
        }
    }
    ASSERT_EQ(marked.size(), 3u);
    session.runtime()[1].LastMailboxTotal = -2; // as marking does: the next check is a full pass
    const auto second = check();
    EXPECT_FALSE(second->failed()) << second->failureText();
    EXPECT_EQ(second->deletedCount(), 3);
    for (const std::string& uid : marked)
        EXPECT_FALSE(session.db().FindMessage(uid, 1)) << uid;
    int n = 0;
    for (int k = 0; k < 500 && (n = s_dovecot->countMessages(m_user)) != 7; ++k)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(n, 7);
    const std::string log = logText();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;

    session.runtime()[1].LastMailboxTotal = -2;
    ASSERT_FALSE(check()->failed());
    const auto after = records();
    ASSERT_EQ(after.size(), 7u);
    for (std::size_t k = 0; k < after.size(); ++k)
        EXPECT_EQ(after[k].Count, static_cast<long long>(k + 1));
}

TEST_P(PipelinedDovecot, AMessageThatArrivesBetweenTwoChecksIsTheOnlyNewOne) {
    for (int i = 1; i <= 20; ++i)
        s_dovecot->addMessage(m_user, message(i));
    const auto first = check();
    ASSERT_FALSE(first->failed()) << first->failureText();
    EXPECT_EQ(first->newCount(), 20);
    session.db().ClearNewFlags(1);
    const auto before = records();

    s_dovecot->addMessage(m_user, message(21));
    const auto second = check();
    ASSERT_FALSE(second->failed()) << second->failureText();
    EXPECT_EQ(second->newCount(), 1);
    const auto after = records();
    ASSERT_EQ(after.size(), 21u);
    for (std::size_t k = 0; k < before.size(); ++k) {
        MailRecord b = before[k];
        b.New = false; // stored again by the full pass
        EXPECT_EQ(after[k], b) << k;
    }
    EXPECT_EQ(after.back().Subject, "Message 21");
    EXPECT_EQ(after.back().New, true);
    EXPECT_EQ(after.back().Count, 21);
}

INSTANTIATE_TEST_SUITE_P(Protocols, PipelinedDovecot,
                         ::testing::Values(ProtocolParam{"Pop3", 0}, ProtocolParam{"Imap4", 1}),
                         [](const ::testing::TestParamInfo<ProtocolParam>& i) {
                             return std::string(i.param.name);
                         });

} // namespace
