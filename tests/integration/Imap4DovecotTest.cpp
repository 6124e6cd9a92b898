#include "mailproto/Imap4Client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/TarnError.h"
#include "integration/DovecotUserSuite.h"

using namespace std::chrono_literals;
using tarn::Imap4Client;
using tarn::ImapEnvelope;
using tarn::ImapFetchedMessage;
using tarn::TarnError;
using tarn::test::DovecotFixture;
using tarn::test::DovecotUserSuite;

namespace {

const char* const kFirst = "Date: Tue, 1 Jun 2021 10:11:12 +0200\r\n"
                           "From: \"Doe, Jane\" <jane@example.org>\r\n"
                           "To: bob@example.org\r\n"
                           "Subject: =?ISO-8859-1?Q?caf=E9?= \"quoted\" \\ back\r\n"
                           "Message-ID: <first@example.org>\r\n"
                           "\r\n"
                           "Hello Bob.\r\n"
                           ")\r\n"
                           "..two dots\r\n"
                           "\r\n"
                           "end\r\n";
// No Message-ID, an 8-bit subject (sent as a literal) and a bare address.
const char* const kSecond = "From: carol@example.net\n"
                            "Subject: Gr\xfc\xdf"
                            "e\n"
                            "\n"
                            "second body\n";

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = s.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        out.push_back(line);
    }
    return out;
}

class Imap4Dovecot : public DovecotUserSuite {
protected:
    Imap4Dovecot() : DovecotUserSuite("i", kFirst, kSecond) {}

    std::unique_ptr<Imap4Client> client(DovecotFixture& d, const std::string& password = "") {
        auto c = std::make_unique<Imap4Client>();
        c->setHost(DovecotFixture::host());
        c->setPort(d.imapPort());
        c->setUser(m_user);
        c->setPassword(password.empty() ? "pw-" + m_user : password);
        c->setReadTimeout(10s);
        return c;
    }
    std::unique_ptr<Imap4Client> client() { return client(*s_dovecot); }
};

bool contains(const std::vector<std::string>& v, const std::string& x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

TEST_F(Imap4Dovecot, LogsInSelectsCountsAndTotals) {
    auto c = client();
    c->Connect();
    EXPECT_EQ(c->state(), Imap4Client::State::Authenticated);
    const auto& m = c->SelectMailbox("INBOX");
    EXPECT_EQ(m.exists, 2);
    EXPECT_EQ(c->MessageCount(), 2);
    EXPECT_GT(m.uidValidity, 0);
    EXPECT_GE(m.uidNext, 3);
    EXPECT_FALSE(m.readOnly);
    EXPECT_TRUE(contains(m.flags, "\\Deleted")) << ::testing::PrintToString(m.flags);
    EXPECT_TRUE(contains(m.permanentFlags, "\\Deleted"))
        << ::testing::PrintToString(m.permanentFlags);

    const auto total = static_cast<std::int64_t>(m_first.size + m_second.size);
    EXPECT_EQ(c->MailboxTotal(), total);
    EXPECT_EQ(c->MessageSize(1) + c->MessageSize(2), total);
    EXPECT_EQ(std::max(c->MessageSize(1), c->MessageSize(2)),
              static_cast<std::int64_t>(std::max(m_first.size, m_second.size)));
    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    EXPECT_THROW(c->Disconnect(), TarnError);
}

TEST_F(Imap4Dovecot, ReadsTheEnvelopesOfDroppedMessages) {
    auto c = client();
    c->Connect();
    c->SelectMailbox("INBOX");
    // Maildir order is by delivery; find which number holds which message.
    ImapEnvelope a = c->FetchEnvelope(1);
    ImapEnvelope b = c->FetchEnvelope(2);
    if (a.messageId.empty()) {
        std::swap(a, b);
    }
    EXPECT_EQ(a.date, "Tue, 1 Jun 2021 10:11:12 +0200");
    EXPECT_EQ(a.subject, "=?ISO-8859-1?Q?caf=E9?= \"quoted\" \\ back");
    EXPECT_EQ(a.firstFrom().name, "Doe, Jane");
    EXPECT_EQ(a.firstFrom().address(), "jane@example.org");
    ASSERT_EQ(a.to.size(), 1u);
    EXPECT_EQ(a.to[0].address(), "bob@example.org");
    EXPECT_EQ(a.messageId, "<first@example.org>");

    EXPECT_EQ(b.date, "");
    EXPECT_EQ(b.subject, "Gr\xfc\xdf"
                         "e");
    EXPECT_EQ(b.firstFrom().name, "");
    EXPECT_EQ(b.firstFrom().address(), "carol@example.net");
    EXPECT_EQ(b.messageId, "");
    c->Disconnect();
}

TEST_F(Imap4Dovecot, FetchesWholeMessagesAndStaysInStep) {
    auto c = client();
    c->Connect();
    c->SelectMailbox("INBOX");
    const int firstNo = c->FetchEnvelope(1).messageId.empty() ? 2 : 1;
    c->AddFlag(firstNo, "\\Seen");
    const ImapFetchedMessage m = c->FetchMessage(firstNo);
    const std::vector<std::string> all = split(kFirst);
    EXPECT_EQ(m.headerLines, std::vector<std::string>(all.begin(), all.begin() + 5));
    EXPECT_TRUE(m.hasBody);
    EXPECT_EQ(m.bodyLines, std::vector<std::string>(all.begin() + 6, all.end()));

    const ImapFetchedMessage n = c->FetchMessage(3 - firstNo);
    EXPECT_EQ(n.headerLines.size(), 2u);
    EXPECT_EQ(n.bodyLines, std::vector<std::string>{"second body"});
    EXPECT_EQ(c->MessageSize(3 - firstNo), static_cast<std::int64_t>(m_second.size));
    c->Disconnect();
}

TEST_F(Imap4Dovecot, DeletedAndExpungedMessageIsGone) {
    auto c = client();
    c->Connect();
    c->SelectMailbox("INBOX");
    const int firstNo = c->FetchEnvelope(1).messageId.empty() ? 2 : 1;
    c->DeleteMessage(firstNo);
    EXPECT_EQ(s_dovecot->countMessages(m_user), 2) << "only flagged before the expunge";
    c->Expunge();
    EXPECT_EQ(c->MessageCount(), 1);
    c->Disconnect();
    EXPECT_EQ(s_dovecot->countMessages(m_user), 1);

    auto d = client();
    d->Connect();
    EXPECT_EQ(d->SelectMailbox("INBOX").exists, 1);
    EXPECT_EQ(d->FetchEnvelope(1).subject, "Gr\xfc\xdf"
                                           "e");
    EXPECT_EQ(d->MailboxTotal(), static_cast<std::int64_t>(m_second.size));
    d->Disconnect();
}

TEST_F(Imap4Dovecot, MailboxesWithSpacesAndMissingOnes) {
    s_dovecot->doveadm({"mailbox", "create", "-u", m_user, "Old Mail"});
    auto c = client();
    c->Connect();
    const auto& m = c->SelectMailbox("Old Mail");
    EXPECT_EQ(m.exists, 0);
    EXPECT_EQ(c->MailboxTotal(), 0);
    EXPECT_THROW(c->SelectMailbox("No Such Box"), TarnError);
    EXPECT_EQ(c->state(), Imap4Client::State::Authenticated);
    EXPECT_EQ(c->SelectMailbox("INBOX").exists, 2);
    c->Disconnect();
}

TEST_F(Imap4Dovecot, ListsMailboxesBelowAParentTheWayTheAccountEditorDoes) {
    // The client always asks for "p/%", so this instance shows "/" as its hierarchy separator
    // (the default for Maildir is ".").
    DovecotFixture own;
    {
        std::ofstream conf(own.configPath(), std::ios::app);
        conf << "namespace inbox {\n  inbox = yes\n  separator = /\n}\n";
    }
    own.doveadm({"reload"});
    own.addUser(m_user, "pw-" + m_user);
    for (const char* box : {"Work", "Work/Q1", "Work/Q 2", "Work/Q1/Deep", "Archive"}) {
        own.doveadm({"mailbox", "create", "-u", m_user, box});
    }
    const std::vector<std::string> expected{"Work/Q 2", "Work/Q1"};

    // The reload takes effect for log-ins a moment later.
    std::vector<std::string> work;
    for (int attempt = 0; attempt < 50 && work != expected; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(100ms);
        }
        auto c = client(own);
        c->setConnectTimeout(60ms);
        c->Connect();
        work = c->ListMailboxes({"Work"});
        std::sort(work.begin(), work.end());
        EXPECT_EQ(c->ListMailboxes({"."}), std::vector<std::string>{});
        c->Disconnect();
    }
    EXPECT_EQ(work, expected) << own.log();

    auto c = client(own);
    c->Connect();
    c->SelectMailbox("Work/Q1");
    std::vector<std::string> both = c->ListMailboxes({"Archive", "Work/Q1"});
    EXPECT_EQ(both, std::vector<std::string>{"Work/Q1/Deep"});
    c->Disconnect();
}

TEST_F(Imap4Dovecot, WrongPasswordFailsTheConnect) {
    // A failed log-in slows later log-ins down, so it gets a Dovecot of its own.
    DovecotFixture own;
    own.addUser(m_user, "right");
    auto c = client(own, "wrong");
    try {
        c->Connect();
        FAIL() << "logged in with a wrong password";
    } catch (const TarnError& e) {
        EXPECT_NE(std::string(e.what()).find("Authentication failed"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->state(), Imap4Client::State::NotAuthenticated);

    c->setPassword("right");
    c->Connect();
    EXPECT_EQ(c->SelectMailbox("INBOX").exists, 0);
    c->Disconnect();
}

} // namespace
