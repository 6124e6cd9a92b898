#include "mailproto/Pop3MailboxClient.h"

#include "core/TarnError.h"

#include <algorithm>
#include <strings.h>

namespace tarn {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// A header's share of its message, as far as a window's bound is concerned.
constexpr std::int64_t kHeaderEstimate = 8 * 1024;
// The status line, the "." line and the "LIST n" answer after each command.
constexpr std::size_t kAnswerOverhead = 64;

// After such a failure nothing more can be read in step with the commands.
bool breaksDialogue(const std::exception& e) {
    const auto* te = dynamic_cast<const TarnError*>(&e);
    if (!te)
        return true;
    return breaksDialogue(te->kind());
}

} // namespace

Pop3MailboxClient::Pop3MailboxClient(std::unique_ptr<Pop3Client> client)
    : m_client(client ? std::move(client) : std::make_unique<Pop3Client>()) {}

void Pop3MailboxClient::openMailbox() {
    m_pipelining.reset();
    m_queue.clear();
    m_broken = nullptr;
    m_current = 0;
    m_count = 0;
    m_client->Connect();
}

int Pop3MailboxClient::messageCount() {
    m_count = m_client->MessageCount();
    return m_count;
}

std::int64_t Pop3MailboxClient::mailboxTotal() {
    return m_client->MailboxTotal();
}

void Pop3MailboxClient::loadIdentityListing() {
    m_uidListing.clear();
    m_uidListing = m_client->UniqueIdListing();
}

void Pop3MailboxClient::prepareMessages(int first, int) {
    m_current = first;
}

int Pop3MailboxClient::lookAhead() const {
    // Without every size a window could not be bounded.
    if (!m_allowed || m_pipelining == false || m_count < 1 ||
        m_client->ListedSizes().size() != static_cast<std::size_t>(m_count))
        return 0;
    return kLookAhead;
}

void Pop3MailboxClient::expectFetches(int i, const ExpectedFetches& what) {
    if (lookAhead() == 0 || i < m_current)
        return;
    if (what.header)
        enqueue(Fetch::Header, i);
    if (what.body)
        enqueue(Fetch::Message, i);
    if (what.bodyAfterStore)
        enqueue(Fetch::Message, i);
}

std::optional<std::int64_t> Pop3MailboxClient::knownSize(int i) const {
    const std::vector<std::int64_t>& sizes = m_client->ListedSizes();
    if (i < 1 || static_cast<std::size_t>(i) > sizes.size())
        return std::nullopt;
    return sizes[static_cast<std::size_t>(i - 1)];
}

MessageIdentity Pop3MailboxClient::messageIdentity(int i) {
    if (i < 1 || static_cast<std::size_t>(i) > m_uidListing.size())
        throw TarnError(ErrorKind::ProtocolError,
                        "No unique id for message " + std::to_string(i) + ".");
    const std::string& line = m_uidListing[static_cast<std::size_t>(i - 1)];
    const std::size_t sp = line.find(' ');
    return {sp == std::string::npos ? line : line.substr(sp + 1), std::nullopt};
}

std::int64_t Pop3MailboxClient::messageSize(int i) {
    // The size listing has them all; "LIST n" only when it did not number every message.
    if (const std::optional<std::int64_t> size = knownSize(i))
        return *size;
    drain();
    return m_client->MessageSize(i);
}

bool Pop3MailboxClient::usePipelining() {
    if (!m_pipelining) {
        const bool worthAsking = lookAhead() > 0;
        m_pipelining = false;
        if (worthAsking) {
            bool announced = false;
            for (const std::string& line : m_client->Capabilities()) {
                const std::string word = line.substr(0, line.find(' '));
                announced = announced || strcasecmp(word.c_str(), "PIPELINING") == 0;
            }
            m_pipelining = announced;
        }
        if (!*m_pipelining)
            m_queue.clear();
    }
    return *m_pipelining;
}

std::optional<std::vector<std::string>> Pop3MailboxClient::messageHeader(int i) {
    if (!usePipelining())
        return m_client->FetchHeader(i);
    Pending p = take(Fetch::Header, i);
    if (p.error)
        std::rethrow_exception(p.error);
    return std::move(p.header);
}

std::optional<RawMessage> Pop3MailboxClient::wholeMessage(int i) {
    std::optional<Pop3Message> m;
    if (!usePipelining()) {
        m = m_client->FetchMessage(i);
    } else {
        Pending p = take(Fetch::Message, i);
        if (p.error)
            std::rethrow_exception(p.error);
        m = std::move(p.message);
    }
    if (!m)
        return std::nullopt;
    return RawMessage{std::move(m->headerLines), m->hasBody, std::move(m->bodyLines)};
}

void Pop3MailboxClient::enqueue(Fetch kind, int n) {
    Pending p;
    p.kind = kind;
    p.n = n;
    p.id = m_nextId++;
    const std::int64_t size = std::max<std::int64_t>(knownSize(n).value_or(0), 0);
    p.expectedBytes =
        static_cast<std::size_t>(kind == Fetch::Header ? std::min(size, kHeaderEstimate) : size) +
        kAnswerOverhead;
    m_queue.push_back(std::move(p));
}

std::size_t Pop3MailboxClient::indexOf(std::uint64_t id) const {
    for (std::size_t k = 0; k < m_queue.size(); ++k)
        if (m_queue[k].id == id)
            return k;
    return kNone;
}

std::size_t Pop3MailboxClient::firstUnsent() const {
    for (std::size_t k = 0; k < m_queue.size(); ++k)
        if (!m_queue[k].sent)
            return k;
    return m_queue.size();
}

void Pop3MailboxClient::forgetBefore(int n) {
    for (std::size_t k = 0; k < m_queue.size();) {
        Pending& p = m_queue[k];
        if (p.n < n && (!p.sent || p.done)) {
            m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
        }
        if (p.n < n)
            p.stale = true;
        ++k;
    }
}

Pop3MailboxClient::Pending Pop3MailboxClient::take(Fetch kind, int n) {
    forgetBefore(n);
    m_current = n;
    std::size_t at = kNone;
    for (std::size_t k = 0; k < m_queue.size() && at == kNone; ++k)
        if (m_queue[k].kind == kind && m_queue[k].n == n && !m_queue[k].stale)
            at = k;
    if (at == kNone) {
        // Not expected: it goes out after what is on its way and before what is not.
        enqueue(kind, n);
        Pending p = std::move(m_queue.back());
        m_queue.pop_back();
        at = firstUnsent();
        m_queue.insert(m_queue.begin() + static_cast<std::ptrdiff_t>(at), std::move(p));
    }
    const std::uint64_t id = m_queue[at].id;
    send(at);
    for (;;) {
        const std::size_t k = indexOf(id);
        if (m_queue[k].done) {
            Pending out = std::move(m_queue[k]);
            m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(k));
            topUp();
            return out;
        }
        readNext();
        topUp();
    }
}

void Pop3MailboxClient::topUp() {
    send(kNone);
}

void Pop3MailboxClient::send(std::size_t last) {
    std::size_t commands = 0;
    std::size_t bytes = 0;
    std::size_t messages = 0;
    for (const Pending& p : m_queue) {
        if (p.sent && !p.done) {
            commands += 2;
            bytes += p.expectedBytes;
            messages += p.kind == Fetch::Message ? 1 : 0;
        }
    }
    // Topping up waits until half the window is free, so commands go out in few, larger
    // writes rather than one small one per answer read.
    if (last == kNone && commands > 0 &&
        (commands > kMaxCommandsInFlight / 2 || bytes > kMaxAnswerBytesInFlight / 2))
        return;
    std::string batch;
    for (std::size_t k = firstUnsent(); k < m_queue.size(); ++k) {
        Pending& p = m_queue[k];
        const bool needed = last != kNone && k <= last;
        if (!needed && commands > 0 &&
            (commands + 2 > kMaxCommandsInFlight ||
             bytes + p.expectedBytes > kMaxAnswerBytesInFlight ||
             (p.kind == Fetch::Message && messages >= kMaxMessagesInFlight)))
            break;
        const std::string n = std::to_string(p.n);
        batch += p.kind == Fetch::Header ? "TOP " + n + " 0\r\n" : "RETR " + n + "\r\n";
        batch += "LIST " + n + "\r\n";
        p.sent = true;
        commands += 2;
        bytes += p.expectedBytes;
        messages += p.kind == Fetch::Message ? 1 : 0;
    }
    if (batch.empty() || m_broken)
        return;
    try {
        m_client->connection().Write(batch);
    } catch (const std::exception&) {
        // The commands that did not go out fail when their answers are due.
        m_broken = std::current_exception();
    }
}

void Pop3MailboxClient::readNext() {
    std::size_t k = 0;
    while (k < m_queue.size() && !(m_queue[k].sent && !m_queue[k].done))
        ++k;
    if (k == m_queue.size())
        return;
    Pending& p = m_queue[k];
    if (!m_broken) {
        try {
            if (p.kind == Fetch::Header)
                p.header = m_client->ReadHeaderAnswer(p.n);
            else
                p.message = m_client->ReadMessageAnswer(p.n);
        } catch (const std::exception& e) {
            p.error = std::current_exception();
            if (breaksDialogue(e))
                m_broken = p.error;
        }
    }
    if (!m_broken) {
        bool inStep = false;
        try {
            inStep = m_client->ReadSizeAnswerFor(p.n);
        } catch (const std::exception& e) {
            if (breaksDialogue(e))
                m_broken = std::current_exception();
        }
        if (!m_broken && !inStep) {
            const TarnError outOfStep(ErrorKind::ProtocolError,
                                      "The POP3 server's answers are out of step with the "
                                      "commands sent ahead.");
            m_client->connection().Abandon(outOfStep);
            m_broken = std::make_exception_ptr(outOfStep);
        }
    }
    if (m_broken) {
        // What was read before the break was not confirmed as this command's answer.
        p.error = m_broken;
        p.header.clear();
        p.message.reset();
    }
    p.done = true;
    if (p.stale)
        m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(k));
}

void Pop3MailboxClient::drain() {
    for (;;) {
        const bool onTheWay = std::any_of(m_queue.begin(), m_queue.end(),
                                          [](const Pending& p) { return p.sent && !p.done; });
        if (!onTheWay)
            break;
        readNext();
    }
    if (m_broken)
        std::rethrow_exception(m_broken);
}

void Pop3MailboxClient::deleteMessage(int i) {
    drain();
    m_queue.clear();
    m_client->DeleteMessage(i);
}

void Pop3MailboxClient::closeMailbox() {
    m_queue.clear();
    m_client->Disconnect();
}

bool Pop3MailboxClient::isConnected() const {
    return m_client->Connected();
}

LineConnection& Pop3MailboxClient::lineConnection() {
    return m_client->connection();
}

void Pop3MailboxClient::setMessageBudget(std::size_t bytes) {
    m_client->setMaxMessageBytes(bytes);
}

} // namespace tarn
