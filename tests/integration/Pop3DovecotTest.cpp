#include "mailproto/Pop3Client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "integration/DovecotUserSuite.h"

using namespace std::chrono_literals;
using tarn::Pop3Client;
using tarn::TarnError;
using tarn::test::DovecotFixture;
using tarn::test::DovecotUserSuite;

namespace {

const char* const kFirst = "From: Alice <alice@example.org>\r\n"
                           "To: bob@example.org\r\n"
                           "Subject: first\r\n"
                           "Message-ID: <first@example.org>\r\n"
                           "\r\n"
                           "Hello Bob.\r\n"
                           ".line starting with a dot\r\n";
const char* const kSecond = "From: carol@example.org\n"
                            "Subject: second\n"
                            "\n"
                            "Two\nlines\n";

class Pop3Dovecot : public DovecotUserSuite {
protected:
    Pop3Dovecot() : DovecotUserSuite("u", kFirst, kSecond) {}

    std::unique_ptr<Pop3Client> client(const std::string& password = "") {
        auto c = std::make_unique<Pop3Client>();
        c->setHost(DovecotFixture::host());
        c->setPort(s_dovecot->pop3Port());
        c->setUser(m_user);
        c->setPassword(password.empty() ? "pw-" + m_user : password);
        c->connection().setReadTimeout(10s);
        return c;
    }
};

TEST_F(Pop3Dovecot, CountsTotalsAndListsTheMailbox) {
    auto c = client();
    c->Connect();
    EXPECT_EQ(c->MessageCount(), 2);
    EXPECT_EQ(c->MailboxTotal(), static_cast<std::int64_t>(m_first.size + m_second.size));
    EXPECT_EQ(c->MessageSize(1) + c->MessageSize(2), c->MailboxTotal());
    EXPECT_EQ(std::max(c->MessageSize(1), c->MessageSize(2)),
              static_cast<std::int64_t>(std::max(m_first.size, m_second.size)));

    auto uids = c->UniqueIdListing();
    ASSERT_EQ(uids.size(), 2u);
    EXPECT_EQ(uids[0].rfind("1 ", 0), 0u) << uids[0];
    EXPECT_EQ(uids[1].rfind("2 ", 0), 0u) << uids[1];
    EXPECT_NE(uids[0], uids[1]);
    // Unique ids stay the same over sessions.
    c->Disconnect();
    auto again = client();
    again->Connect();
    EXPECT_EQ(again->UniqueIdListing(), uids);
    again->Disconnect();
}

TEST_F(Pop3Dovecot, FetchesHeaderAndWholeMessage) {
    auto c = client();
    c->Connect();
    // Delivery order is not guaranteed by file names alone: find "first" by its size.
    const int first = c->MessageSize(1) == static_cast<std::int64_t>(m_first.size) ? 1 : 2;

    auto header = c->FetchHeader(first);
    EXPECT_EQ(header,
              (std::vector<std::string>{"From: Alice <alice@example.org>", "To: bob@example.org",
                                        "Subject: first", "Message-ID: <first@example.org>"}));

    auto msg = c->FetchMessage(first);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->headerLines, header);
    EXPECT_TRUE(msg->hasBody);
    EXPECT_EQ(msg->bodyLines,
              (std::vector<std::string>{"Hello Bob.", ".line starting with a dot"}));

    auto second = c->FetchMessage(3 - first);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bodyLines, (std::vector<std::string>{"Two", "lines"}));

    EXPECT_FALSE(c->FetchMessage(3)); // no such message: -ERR, no failure
    EXPECT_THROW(c->FetchHeader(3), TarnError);
    c->Disconnect();
}

TEST_F(Pop3Dovecot, DeletedMessageIsGoneAfterQuit) {
    auto c = client();
    c->Connect();
    auto uids = c->UniqueIdListing();
    ASSERT_EQ(uids.size(), 2u);
    c->DeleteMessage(1);
    EXPECT_THROW(c->DeleteMessage(1), TarnError);   // already marked
    EXPECT_EQ(s_dovecot->countMessages(m_user), 2); // nothing happens before QUIT
    c->Disconnect();

    // QUIT's answer is not read, so give the server a moment to commit.
    for (int i = 0; i < 100 && s_dovecot->countMessages(m_user) != 1; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(s_dovecot->countMessages(m_user), 1);

    auto again = client();
    again->Connect();
    EXPECT_EQ(again->MessageCount(), 1);
    auto left = again->UniqueIdListing();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].substr(left[0].find(' ')), uids[1].substr(uids[1].find(' ')));
    again->Disconnect();
}

TEST_F(Pop3Dovecot, DeletionWithoutQuitIsNotCommitted) {
    {
        auto c = client();
        c->Connect();
        c->DeleteMessage(1);
    } // destroyed without Disconnect: the connection just drops
    auto again = client();
    again->Connect();
    EXPECT_EQ(again->MessageCount(), 2);
    again->Disconnect();
}

// Its own instance: Dovecot slows down log-ins from an address after a failed one.
TEST(Pop3DovecotLogin, WrongPasswordFailsConnectAndCloses) {
    TARN_REQUIRE_DOVECOT();
    DovecotFixture dovecot;
    dovecot.addUser("erin", "right");
    Pop3Client c;
    c.setHost(DovecotFixture::host());
    c.setPort(dovecot.pop3Port());
    c.setUser("erin");
    c.setPassword("wrong");
    c.connection().setReadTimeout(10s);
    try {
        c.Connect();
        ADD_FAILURE() << "log-in with a wrong password succeeded";
    } catch (const TarnError& e) {
        EXPECT_NE(std::string(e.what()).find("Authentication failed"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(c.Connected());
}

TEST_F(Pop3Dovecot, EmptyMailboxHasNoText) {
    s_dovecot->addUser(m_user + "e", "x");
    auto c = client("x");
    c->setUser(m_user + "e");
    c->Connect();
    EXPECT_EQ(c->MessageCount(), 0);
    EXPECT_EQ(c->MailboxTotal(), 0);
    EXPECT_TRUE(c->UniqueIdListing().empty());
    c->Disconnect();
}

TEST(DovecotFixtureTest, DoveadmSeesDroppedMessages) {
    TARN_REQUIRE_DOVECOT();
    DovecotFixture dovecot;
    dovecot.addUser("dana", "pw");
    dovecot.addMessage("dana", "Subject: a\n\nx\n");
    dovecot.addMessage("dana", "Subject: b\n\ny\n", "S");
    EXPECT_EQ(dovecot.countMessages("dana"), 2);
    std::string status = dovecot.doveadm({"mailbox", "status", "-u", "dana", "messages", "INBOX"});
    EXPECT_NE(status.find("messages=2"), std::string::npos) << status;
}

} // namespace

namespace {

TEST(DovecotFixtureTest, ServesImapOnAChosenPort) {
    TARN_REQUIRE_DOVECOT();
    int port;
    {
        tarn::test::DovecotFixture probe; // any port Dovecot just used is free again now
        port = probe.imapPort();
    }
    DovecotFixture::Options options;
    options.imapPort = port;
    DovecotFixture dovecot(options);
    EXPECT_EQ(dovecot.imapPort(), port);
    tarn::LineConnection conn;
    conn.setReadTimeout(10s);
    conn.Connect(DovecotFixture::host(), port);
    EXPECT_EQ(conn.ReadLn().rfind("* OK", 0), 0u);
}

} // namespace
