#include "mailproto/Imap4MailboxClient.h"

#include "core/AsciiText.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tarn {

namespace {

// Sizes of up to 18 digits, as every other size the client reads.
constexpr std::uint64_t kMaxSizeValue = 999999999999999999;

// "<n> EXPUNGE": n, else nullopt.
std::optional<int> expungedNumber(const std::string& line) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string::npos || upperAsciiCopy(trimSpaceTab(line.substr(sp + 1))) != "EXPUNGE")
        return std::nullopt;
    const std::optional<std::uint64_t> n =
        parseDecimal(std::string_view(line).substr(0, sp), std::numeric_limits<int>::max());
    if (!n || *n < 1)
        return std::nullopt;
    return static_cast<int>(*n);
}

} // namespace

Imap4MailboxClient::Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox)
    : m_client(client ? std::move(client) : std::make_unique<Imap4Client>()),
      m_mailbox(std::move(mailbox)) {}

void Imap4MailboxClient::openMailbox() {
    m_batching = false;
    m_batched.clear();
    m_fetchedUpTo = 0;
    m_last = 0;
    m_client->Connect();
    m_client->SelectMailbox(m_mailbox);
}

int Imap4MailboxClient::messageCount() {
    return m_client->MessageCount();
}

std::int64_t Imap4MailboxClient::mailboxTotal() {
    return m_client->MailboxTotal();
}

void Imap4MailboxClient::prepareMessages(int first, int last) {
    m_batching = m_allowed && last >= first;
    m_last = last;
    m_fetchedUpTo = first - 1;
    m_batched.clear();
}

MessageIdentity Imap4MailboxClient::identityOf(const ImapEnvelope& env) {
    const ImapAddress from = env.firstFrom();
    IdentityFields f;
    f.subject = env.subject;
    f.senderName = from.route.empty() ? from.name : from.route;
    f.senderAddress = from.address();
    f.date = env.date;
    f.messageId = env.messageId;
    return {env.messageId, std::move(f)};
}

void Imap4MailboxClient::forgetFrom(int number) {
    m_batched.erase(m_batched.lower_bound(number), m_batched.end());
}

void Imap4MailboxClient::fetchBatchFrom(int i) {
    if (!m_batching || i <= m_fetchedUpTo || i > m_last)
        return;
    // Whatever came before is of no more use to a pass that walks forward.
    m_batched.erase(m_batched.begin(), m_batched.lower_bound(i));
    const int last = std::min(m_last, i + kBatchSize - 1);
    m_fetchedUpTo = last;
    const ImapReply* reply = nullptr;
    try {
        reply = &m_client->FetchRange(i, last, "RFC822.SIZE ENVELOPE");
    } catch (const TarnError&) {
        // A lost connection fails message i as its own FETCH would have failed.
        if (!m_client->Connected())
            throw;
        // A batch the server refused: each message is asked on its own, and fails as it does
        // then.
        return;
    }
    for (std::size_t k = 0; k + 1 < reply->lines.size(); ++k) {
        const std::string& line = reply->lines[k];
        if (const std::optional<int> gone = expungedNumber(line)) {
            // Numbers from here on are the server's new ones, and what was said of the
            // expunged message's number and those behind it is about other messages now.
            forgetFrom(*gone);
            m_batching = false;
            return;
        }
        std::optional<ImapFetchResponse> f;
        try {
            f = ImapResponseParser::parseFetch(line);
        } catch (const TarnError&) {
            continue; // its message, whichever it is, is asked on its own
        }
        if (!f || f->number < i || f->number > last)
            continue;
        const ImapValue* env = f->find("ENVELOPE");
        const ImapValue* size = f->find("RFC822.SIZE");
        if (!env && !size)
            continue; // a flag update, say
        Batched& b = m_batched[static_cast<int>(f->number)];
        if (b.repeated || b.answered) {
            // Answered twice: neither answer is trusted.
            b = Batched{};
            b.repeated = true;
            continue;
        }
        b.answered = true;
        if (env) {
            try {
                b.envelope = ImapResponseParser::parseEnvelope(*env);
            } catch (const TarnError&) {
                // asked on its own, which fails the same way
            }
        }
        if (size && size->kind == ImapValue::Kind::Atom) {
            if (const std::optional<std::uint64_t> n = parseDecimal(size->text, kMaxSizeValue))
                b.size = static_cast<long long>(*n);
        }
    }
}

std::optional<std::int64_t> Imap4MailboxClient::knownSize(int i) const {
    const auto it = m_batched.find(i);
    if (it == m_batched.end())
        return std::nullopt;
    return it->second.size;
}

MessageIdentity Imap4MailboxClient::messageIdentity(int i) {
    fetchBatchFrom(i);
    const auto it = m_batched.find(i);
    if (it != m_batched.end() && it->second.envelope)
        return identityOf(*it->second.envelope);
    return identityOf(m_client->FetchEnvelope(i));
}

std::int64_t Imap4MailboxClient::messageSize(int i) {
    if (const std::optional<std::int64_t> size = knownSize(i))
        return *size;
    return m_client->MessageSize(i);
}

std::optional<RawMessage> Imap4MailboxClient::wholeMessage(int i) {
    m_client->AddFlag(i, "\\Seen");
    ImapFetchedMessage m = m_client->FetchMessage(i);
    return RawMessage{std::move(m.headerLines), m.hasBody, std::move(m.bodyLines)};
}

void Imap4MailboxClient::deleteMessage(int i) {
    m_client->DeleteMessage(i);
}

void Imap4MailboxClient::expungeDeleted() {
    m_client->Expunge();
}

void Imap4MailboxClient::closeMailbox() {
    m_batched.clear();
    m_client->Disconnect();
}

bool Imap4MailboxClient::isConnected() const {
    return m_client->Connected();
}

LineConnection& Imap4MailboxClient::lineConnection() {
    return m_client->connection();
}

void Imap4MailboxClient::setMessageBudget(std::size_t bytes) {
    m_client->setMaxMessageBytes(bytes);
}

} // namespace tarn
