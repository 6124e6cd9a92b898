// The same mailbox checked over POP3 (headers) and over IMAP4 (envelopes) stores the same
// decoded subjects and senders.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "check/MailListActions.h"
#include "check/TIdCheckThread.h"
#include "fakes/CheckSessionSupport.h"
#include "integration/fixture/DovecotFixture.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::DovecotFixture;

struct Sample {
    std::string subjectLine; // as on the wire, folding included
    std::string fromLine;
    std::string subject; // what both protocols must store
    std::string sender;
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> s = {
        {"=?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=",
         "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <juergen@example.org>",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus M\xC3\xBCnchen",
         "\"J\xC3\xBCrgen M\xC3\xBCller\" <juergen@example.org>"},
        {"=?ISO-8859-1?Q?Caf=E9?=\r\n =?ISO-8859-1?Q?_cr=E8me?=",
         "\"=?ISO-8859-1?Q?Ren=E9?=\" <rene@example.org>", "Caf\xC3\xA9 cr\xC3\xA8me",
         "\"Ren\xC3\xA9\" <rene@example.org>"},
        {"=?KOI8-R?B?0NLJ18XU?= =?UTF-8?Q?_=E2=82=AC?=", "plain@example.org",
         "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC", "plain@example.org"},
        {"=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=",
         "=?Shift_JIS?B?grGC8YLJgr+CzQ==?= <jp@example.org>",
         "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",
         "\"\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\" <jp@example.org>"},
        {"Raw Gr\xC3\xBC\xC3\x9F"
         "e",
         "Bob <bob@example.org>",
         "Raw Gr\xC3\xBC\xC3\x9F"
         "e",
         "Bob <bob@example.org>"},
        {"Raw Windows Gr\xFC\xDF"
         "e \x80",
         "Bob <bob@example.org>",
         "Raw Windows Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC",
         "Bob <bob@example.org>"},
        {"A long subject that a mailer folded\r\n\tover two lines", "c@example.org",
         "A long subject that a mailer folded over two lines", "c@example.org"},
    };
    return s;
}

class DecodedFieldsDovecot : public test::CheckSessionSupport {
protected:
    DecodedFieldsDovecot() : CheckSessionSupport("tarn-decoded") {}

    static void SetUpTestSuite() {
        if (!DovecotFixture::available())
            return;
        try {
            s_dovecot = std::make_unique<DovecotFixture>();
        } catch (const std::exception& e) {
            s_startError = e.what();
        }
    }
    static void TearDownTestSuite() { s_dovecot.reset(); }

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot) << "private Dovecot did not start: " << s_startError;
    }

    static inline std::unique_ptr<DovecotFixture> s_dovecot;
    static inline std::string s_startError;
};

TEST_F(DecodedFieldsDovecot, Pop3AndImap4StoreTheSameSubjectsAndSenders) {
    const std::string user = "decoded";
    s_dovecot->addUser(user, "pw");
    for (std::size_t i = 0; i < samples().size(); ++i) {
        const Sample& m = samples()[i];
        s_dovecot->addMessage(user, "From: " + m.fromLine +
                                        "\r\nTo: t@example.org\r\nSubject: " + m.subjectLine +
                                        "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\n"
                                        "Message-ID: <m" +
                                        std::to_string(i) + "@example.org>\r\n\r\nText.\r\n");
    }
    // Account 1 reads the mailbox over POP3, account 2 the same mailbox over IMAP4.
    for (int type : {0, 1}) {
        AccountSettings acc;
        acc.Name = type ? "Imap" : "Pop";
        acc.UserID = user;
        acc.Password = "pw";
        acc.MailServerType = type;
        acc.Host = std::string(DovecotFixture::host()) + ":" +
                   std::to_string(type ? s_dovecot->imapPort() : s_dovecot->pop3Port());
        session.settings().Accounts.push_back(acc);
    }
    session.syncWithSettings();
    CheckOptions o;
    o.connectTimeout = 10s;
    o.readTimeout = 20s;
    o.imapPort = s_dovecot->imapPort();
    for (int a : {1, 2}) {
        session.runtime()[a].Busy = true;
        const CheckResult r = TIdCheckThread::forAccount(session, host, a, o)->run();
        ASSERT_FALSE(r.failed) << a << " " << r.failureReason() << s_dovecot->log();
    }

    std::vector<std::pair<std::string, std::string>> stored[2];
    for (int a : {1, 2})
        session.db().walk(a, [&](const MailRecord& r) {
            stored[a - 1].emplace_back(r.Subject.value_or("?"), r.Sender.value_or("?"));
            return true;
        });
    std::vector<std::pair<std::string, std::string>> expected;
    for (const Sample& m : samples())
        expected.emplace_back(m.subject, m.sender);
    for (auto& v : stored)
        std::sort(v.begin(), v.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored[0], expected) << "POP3";
    EXPECT_EQ(stored[1], expected) << "IMAP4";
}

TEST_F(DecodedFieldsDovecot, Imap4HeadersArriveWhenAskedFor) {
    const std::string user = "headers";
    s_dovecot->addUser(user, "pw");
    s_dovecot->addMessage(user, "From: a@example.org\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
                                "Message-ID: <h1@example.org>\r\nX-Trace: 42\r\n\r\nText.\r\n");
    AccountSettings acc;
    acc.Name = "Imap";
    acc.UserID = user;
    acc.Password = "pw";
    acc.MailServerType = 1;
    acc.Host = std::string(DovecotFixture::host()) + ":" + std::to_string(s_dovecot->imapPort());
    session.settings().Accounts.push_back(acc);
    session.syncWithSettings();
    CheckOptions o;
    o.connectTimeout = 10s;
    o.readTimeout = 20s;
    o.imapPort = s_dovecot->imapPort();
    const auto check = [&] {
        session.runtime()[1].Busy = true;
        const CheckResult r = TIdCheckThread::forAccount(session, host, 1, o)->run();
        ASSERT_FALSE(r.failed) << r.failureReason() << s_dovecot->log();
    };
    check();
    const MessageKey key{"<h1@example.org>", 1};
    ASSERT_TRUE(session.db().FindMessage(key.UID, key.Account));
    EXPECT_FALSE(session.db().FindMessage(key.UID, key.Account)->Header); // the envelope only

    int requested = 0;
    MailListActions actions(session, [&](int, int) { ++requested; });
    EXPECT_EQ(actions.retrieveHeaders({key}), std::vector<MessageKey>{key});
    EXPECT_EQ(requested, 1);
    check();
    const std::optional<MailRecord> rec = session.db().FindMessage(key.UID, key.Account);
    ASSERT_TRUE(rec);
    const std::string header = rec->Header.value_or("");
    EXPECT_NE(header.find("Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("X-Trace: 42\r\n"), std::string::npos) << header;
    EXPECT_EQ(rec->Subject, "Gr\xC3\xBC\xC3\x9F"
                            "e");
    // Asked once more, nothing is left to fetch.
    EXPECT_TRUE(actions.retrieveHeaders({key}).empty());
}

} // namespace
} // namespace tarn
