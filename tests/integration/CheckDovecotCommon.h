#pragma once

// Check worker against a private Dovecot, shared by the POP3 program (free ports) and the
// IMAP4 program (port 143). The including file defines kCheckServerType (0 POP3, 1 IMAP4)
// and CHECK_DOVECOT_SUITE (the test suite name) before including this header.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <thread>

#include "check/TIdCheckThread.h"
#include "core/Clock.h"
#include "fakes/CheckSessionSupport.h"
#include "integration/fixture/DovecotFixture.h"
#include "mime/MessageDate.h"

namespace check_dovecot {

using namespace std::chrono_literals;
using tarn::CheckOptions;
using tarn::CheckResult;
using tarn::MailRecord;
using tarn::TIdCheckThread;
using tarn::test::CheckSessionSupport;
using tarn::test::DovecotFixture;

inline const char* const kDate = "Tue, 5 Mar 2024 10:00:00 +0000";

inline std::string message(const std::string& id, const std::string& subject,
                           const std::string& body = "Body text.") {
    return "From: Alice Example <alice@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nDate: " + kDate + "\r\nMessage-ID: <" + id + "@example.org>\r\n\r\n" + body +
           "\r\n";
}

class CHECK_DOVECOT_SUITE : public CheckSessionSupport {
protected:
    static void SetUpTestSuite() {
        if (!DovecotFixture::available())
            return;
        DovecotFixture::Options o;
        if (kCheckServerType == 1)
            o.imapPort = 143;
        // A server that cannot start (port 143 taken, say) fails every test with its reason
        // instead of silently leaving the suite unrun.
        try {
            s_dovecot = std::make_unique<DovecotFixture>(o);
        } catch (const std::exception& e) {
            s_startError = e.what();
        }
    }
    static void TearDownTestSuite() {
        s_dovecot.reset();
        s_startError.clear();
    }

    CHECK_DOVECOT_SUITE() : CheckSessionSupport("tarn-dcheck") {}

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot) << "private Dovecot did not start: " << s_startError;
    }

    // Adds n accounts, one Dovecot user each.
    void addAccounts(int n) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        for (int k = 1; k <= n; ++k) {
            tarn::AccountSettings acc;
            acc.Name = "Acc" + std::to_string(k);
            acc.UserID =
                std::string(kCheckServerType ? "i" : "p") + info->name() + std::to_string(k);
            acc.Password = "pw" + std::to_string(k);
            acc.MailServerType = kCheckServerType;
            acc.Host =
                std::string(DovecotFixture::host()) + ":" + std::to_string(s_dovecot->pop3Port());
            s_dovecot->addUser(acc.UserID, acc.Password);
            session.settings().Accounts.push_back(acc);
        }
        session.syncWithSettings();
    }
    std::string user(int a) { return session.settings().account(a).UserID; }

    CheckOptions options() {
        CheckOptions o;
        o.connectTimeout = 10s;
        o.readTimeout = 20s;
        return o;
    }
    CheckResult check(int a = 1) {
        session.runtime()[a].Busy = true;
        return TIdCheckThread::forAccount(session, host, a, options())->run();
    }
    // The record of the account with this subject.
    std::optional<MailRecord> bySubject(const std::string& subject, int a = 1) {
        std::optional<MailRecord> found;
        session.db().walk(a, [&](const MailRecord& r) {
            if (r.Subject == subject)
                found = r;
            return !found;
        });
        return found;
    }
    // POP3 deletions take effect when the server has handled QUIT, which the client does not
    // wait for; IMAP4 ones when EXPUNGE is answered.
    int settledCount(int a, int expected) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        int n = s_dovecot->countMessages(user(a));
        while (n != expected && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
            n = s_dovecot->countMessages(user(a));
        }
        return n;
    }
    std::vector<MailRecord> records() {
        std::vector<MailRecord> out;
        session.db().walk(0, [&](const MailRecord& r) {
            out.push_back(r);
            return true;
        });
        return out;
    }

    static inline std::unique_ptr<DovecotFixture> s_dovecot;
    static inline std::string s_startError;
};

TEST_F(CHECK_DOVECOT_SUITE, NewMessagesLandWithTheirFieldsAndASecondCheckChangesNothing) {
    addAccounts(1);
    const auto m1 = s_dovecot->addMessage(user(1), message("one", "First subject"));
    const auto m2 =
        s_dovecot->addMessage(user(1), message("two", "Second subject", "Longer body."));
    const CheckResult r = check();
    ASSERT_FALSE(r.failed) << s_dovecot->log();
    EXPECT_EQ(r.newCount, 2);

    const double date = tarn::MessageDate::decode(kDate, tarn::systemClock());
    const std::pair<std::string, const DovecotFixture::StoredMessage*> expect[] = {
        {"First subject", &m1}, {"Second subject", &m2}};
    for (int i = 1; i <= 2; ++i) {
        auto rec = bySubject(expect[i - 1].first);
        ASSERT_TRUE(rec) << expect[i - 1].first;
        if (kCheckServerType == 1) {
            EXPECT_EQ(rec->UID, std::string(i == 1 ? "<one" : "<two") + "@example.org>");
        }
        EXPECT_EQ(rec->Subject, expect[i - 1].first);
        EXPECT_NE(rec->Sender.value_or("").find("alice@example.org"), std::string::npos);
        EXPECT_NE(rec->Sender.value_or("").find("Alice Example"), std::string::npos);
        EXPECT_DOUBLE_EQ(rec->Date.value_or(0), date);
        EXPECT_EQ(rec->Size, static_cast<long long>(expect[i - 1].second->size));
        EXPECT_EQ(rec->Count, i);
    }

    const auto before = records();
    const CheckResult again = check();
    EXPECT_FALSE(again.failed);
    EXPECT_TRUE(again.unchanged);
    EXPECT_EQ(again.newCount, 0);
    EXPECT_EQ(records(), before);
    EXPECT_EQ(settledCount(1, 2), 2);
}

TEST_F(CHECK_DOVECOT_SUITE, MarkedMessageIsDeletedOnTheServerAndLogged) {
    addAccounts(1);
    s_dovecot->addMessage(user(1), message("keep", "Keep me"));
    s_dovecot->addMessage(user(1), message("drop", "Drop me"));
    ASSERT_FALSE(check().failed) << s_dovecot->log();
    auto rec = bySubject("Drop me");
    ASSERT_TRUE(rec);
    const std::string dropId = rec->UID.value_or("");
    rec->Delete = true;
    session.db().UpdateMessage(*rec);

    const CheckResult r = check();
    EXPECT_FALSE(r.failed) << s_dovecot->log();
    EXPECT_EQ(r.deletedCount, 1);
    EXPECT_FALSE(session.db().FindMessage(dropId, 1));
    EXPECT_EQ(settledCount(1, 1), 1);
    const std::string log = logText();
    EXPECT_NE(log.find("|Deleted|Acc1|Drop me|"), std::string::npos) << log;
    EXPECT_NE(log.find("|" + dropId + "\r\n"), std::string::npos) << log;

    // The remaining message is found again at number 1.
    const CheckResult after = check();
    EXPECT_FALSE(after.failed);
    EXPECT_EQ(session.db().CountShownMessages(1), 1);
}

TEST_F(CHECK_DOVECOT_SUITE, FiltersDeleteHideAndFetchTheBody) {
    addAccounts(1);
    session.settings().Filters = {
        {3, true, 0, 0, "unwanted", "", 0},
        {3, true, 1, 1, "quiet", "", 0},
        {3, true, 0, 2, "full", "", 0},
    };
    session.syncWithSettings();
    s_dovecot->addMessage(user(1), message("a", "unwanted offer"));
    s_dovecot->addMessage(user(1), message("b", "quiet note"));
    s_dovecot->addMessage(user(1), message("c", "full text please", "The whole body."));
    const CheckResult r = check();
    ASSERT_FALSE(r.failed) << s_dovecot->log();
    EXPECT_EQ(r.deletedCount, 1);
    EXPECT_EQ(settledCount(1, 2), 2) << s_dovecot->log();
    EXPECT_EQ(session.db().size(), 2u);
    EXPECT_EQ(session.db().CountShownMessages(1), 1);
    bool sawBody = false;
    for (const MailRecord& rec : records()) {
        if (rec.Subject == "quiet note") {
            EXPECT_EQ(rec.Ignore, true);
        }
        if (rec.Subject == "full text please") {
            EXPECT_NE(rec.Body.value_or("").find("The whole body."), std::string::npos);
            sawBody = true;
        }
    }
    EXPECT_TRUE(sawBody);
    EXPECT_EQ(r.newCount, 1);
}

TEST_F(CHECK_DOVECOT_SUITE, FourAccountsCheckedAtTheSameTime) {
    addAccounts(4);
    for (int a = 1; a <= 4; ++a)
        for (int k = 0; k < 3 + a; ++k)
            s_dovecot->addMessage(user(a),
                                  message("m" + std::to_string(a) + "x" + std::to_string(k),
                                          "Subject " + std::to_string(k)));
    for (int a = 1; a <= 4; ++a) {
        session.runtime()[a].Busy = true;
        ASSERT_TRUE(TIdCheckThread::start(TIdCheckThread::forAccount(session, host, a, options())));
    }
    ASSERT_TRUE(host.waitForTerminations(4, 60s));
    ASSERT_TRUE(session.waitForWorkers(10s));
    for (int a = 1; a <= 4; ++a) {
        EXPECT_EQ(session.db().CountShownMessages(a), 3 + a) << a;
        EXPECT_FALSE(session.runtime()[a].Busy);
    }
    EXPECT_EQ(host.terminations.size(), 4u);
    for (const CheckResult& r : host.terminations) {
        EXPECT_FALSE(r.failed) << r.account;
        EXPECT_EQ(r.newCount, 3 + r.account);
    }
}

} // namespace check_dovecot
