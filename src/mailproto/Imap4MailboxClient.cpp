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

// "<n> FETCH ...": whether the line is a FETCH response.
bool isFetchResponse(const std::string& line) {
    const std::size_t sp = line.find(' ');
    return sp != std::string::npos && sp > 0 &&
           std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(sp),
                       [](char c) { return c >= '0' && c <= '9'; }) &&
           startsWithNoCase(std::string_view(line).substr(sp + 1), "FETCH ");
}

} // namespace

Imap4MailboxClient::Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox)
    : m_client(client ? std::move(client) : std::make_unique<Imap4Client>()),
      m_mailbox(std::move(mailbox)) {}

void Imap4MailboxClient::setStateFile(std::string path, std::string key) {
    m_statePath = std::move(path);
    m_stateKey = std::move(key);
}

void Imap4MailboxClient::openMailbox() {
    m_batching = false;
    m_batched.clear();
    m_inFlight.clear();
    m_sentUpTo = m_readUpTo = 0;
    m_last = 0;
    m_answeredBytes = 0;
    m_answeredMessages = 0;
    m_sync = Sync::Full;
    m_changed = false;
    m_saveState = false;
    m_complete = false;
    m_pendingLoad = false;
    m_messages.clear();
    m_deletedUids.clear();
    m_deletedByNumber = false;
    const bool tracked = !m_statePath.empty();
    m_client->setSelectAhead(m_mailbox, tracked);
    m_client->Connect();
    m_box = m_client->SelectMailbox(m_mailbox, tracked && m_client->Announced("CONDSTORE"));
    if (!tracked || m_box.exists > kMaxTrackedMessages || m_box.uidValidity < 1)
        return;
    m_messages.resize(static_cast<std::size_t>(std::max(m_box.exists, 0)));
    try {
        syncWithState(m_box);
    } catch (const TarnError&) {
        // A lost connection fails the check as any other command would; a refused search
        // leaves the full pass.
        if (!m_client->Connected())
            throw;
        m_sync = Sync::Full;
    }
    if (m_sync == Sync::Full) {
        m_complete = false;
        std::fill(m_messages.begin(), m_messages.end(), std::nullopt);
        m_saveState = true;
    }
}

void Imap4MailboxClient::syncWithState(const ImapMailboxData& box) {
    // The first lines tell whether anything changed; the messages are read when needed.
    std::optional<ImapSyncState> head = ImapSyncState::loadHeader(m_statePath);
    if (!head || head->key != m_stateKey)
        return;
    if (head->uidValidity != box.uidValidity) {
        m_changed = true;
        return;
    }
    const std::size_t n = m_messages.size();
    const bool sameNext = box.uidNext > 0 && box.uidNext == head->uidNext;
    const bool nextDiffers = box.uidNext > 0 && head->uidNext > 0 && box.uidNext != head->uidNext;
    const bool sameModSeq = box.highestModSeq > 0 && box.highestModSeq == head->highestModSeq;
    if (head->count == n && (sameNext || (sameModSeq && !nextDiffers))) {
        // Nothing added (UIDNEXT did not move, or nothing at all changed) and nothing removed
        // (the count is the same): the very messages of the last check.
        m_sync = Sync::Unchanged;
        m_head = std::move(*head);
        m_pendingLoad = true;
        return;
    }
    std::optional<ImapSyncState> old = ImapSyncState::load(m_statePath, kMaxStateBytes);
    if (!old || old->key != m_stateKey || old->uidValidity != box.uidValidity)
        return;
    m_changed = true;
    const std::optional<std::vector<std::int64_t>> uids = m_client->SearchAllUids(n);
    if (!uids || uids->size() != n)
        return;
    for (std::size_t k = 0; k < n; ++k) {
        if ((*uids)[k] < 1 || (k > 0 && (*uids)[k] <= (*uids)[k - 1]) ||
            (box.uidNext > 0 && (*uids)[k] >= box.uidNext))
            return; // not a mailbox's UIDs in order
    }
    // Both lists ascend: one walk pairs the messages still there with what the state says.
    std::vector<std::size_t> unknown;
    std::size_t j = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t uid = (*uids)[k];
        while (j < old->messages.size() && old->messages[j].uid < uid)
            ++j;
        if (j < old->messages.size() && old->messages[j].uid == uid) {
            m_messages[k] = std::move(old->messages[j]);
        } else {
            ImapSyncState::Message m;
            m.uid = uid;
            m_messages[k] = std::move(m);
            unknown.push_back(k);
        }
    }
    if (!fetchByUid(unknown))
        return;
    m_sync = Sync::Changed;
    m_complete = true;
    m_saveState = true;
}

namespace {

// "a:b,c" for the UIDs given, in ascending order.
std::string uidSet(const std::vector<std::int64_t>& uids) {
    std::string out;
    for (std::size_t k = 0; k < uids.size();) {
        std::size_t e = k;
        while (e + 1 < uids.size() && uids[e + 1] == uids[e] + 1)
            ++e;
        if (!out.empty())
            out += ',';
        out += std::to_string(uids[k]);
        if (e > k)
            out += ':' + std::to_string(uids[e]);
        k = e + 1;
    }
    return out;
}

} // namespace

bool Imap4MailboxClient::fetchByUid(const std::vector<std::size_t>& positions) {
    std::vector<std::string> commands;
    for (std::size_t k = 0; k < positions.size(); k += kBatchSize) {
        std::vector<std::int64_t> uids;
        for (std::size_t p = k; p < std::min(positions.size(), k + kBatchSize); ++p)
            uids.push_back(m_messages[positions[p]]->uid);
        commands.push_back("UID FETCH " + uidSet(uids) + " (UID RFC822.SIZE ENVELOPE)");
    }
    return fetchAhead(commands, positions);
}

bool Imap4MailboxClient::learnAll() {
    std::vector<std::string> commands;
    const int n = static_cast<int>(m_messages.size());
    for (int first = 1; first <= n; first += kBatchSize)
        commands.push_back("FETCH " + std::to_string(first) + ":" +
                           std::to_string(std::min(n, first + kBatchSize - 1)) +
                           " (UID RFC822.SIZE ENVELOPE)");
    std::vector<std::size_t> positions(m_messages.size());
    for (std::size_t k = 0; k < positions.size(); ++k)
        positions[k] = k;
    if (!fetchAhead(commands, positions))
        return false;
    for (std::size_t k = 1; k < m_messages.size(); ++k)
        if (m_messages[k]->uid <= m_messages[k - 1]->uid)
            return false;
    return true;
}

bool Imap4MailboxClient::fetchAhead(const std::vector<std::string>& commands,
                                    const std::vector<std::size_t>& positions) {
    std::vector<char> wanted(m_messages.size(), 0); // 1 wanted, 2 answered
    for (std::size_t p : positions)
        wanted[p] = 1;
    std::deque<std::string> sent;
    std::size_t next = 0;
    bool clean = true;
    const double perBatch = static_cast<double>(kBatchSize);
    while (next < commands.size() || !sent.empty()) {
        // The answers of the commands out are expected to stay within the window.
        while (
            next < commands.size() && sent.size() < kMaxBatchesInFlight &&
            (sent.empty() || static_cast<double>(sent.size() + 1) * perBatch * m_bytesPerMessage <=
                                 static_cast<double>(kMaxAnswerBytesInFlight)))
            sent.push_back(m_client->SendAhead(commands[next++]));
        const ImapReply& reply = m_client->ReadAnswer(sent.front());
        sent.pop_front();
        measureAnswer(reply);
        if (reply.status != "OK")
            clean = false;
        for (std::size_t k = 0; k + 1 < reply.lines.size(); ++k) {
            std::optional<ImapFetchResponse> f;
            try {
                f = ImapResponseParser::parseFetch(reply.lines[k]);
            } catch (const TarnError&) {
                clean = false;
                continue;
            }
            if (!f)
                continue;
            const ImapValue* uid = f->find("UID");
            const ImapValue* env = f->find("ENVELOPE");
            const ImapValue* size = f->find("RFC822.SIZE");
            if (!env && !size)
                continue; // a flag update, say
            // 0 and -1 stand for a value that is missing or does not read.
            std::int64_t uidValue = 0;
            std::int64_t sizeValue = -1;
            if (uid && uid->kind == ImapValue::Kind::Atom)
                uidValue =
                    static_cast<std::int64_t>(parseDecimal(uid->text, kMaxSizeValue).value_or(0));
            if (size && size->kind == ImapValue::Kind::Atom) {
                if (const std::optional<std::uint64_t> v = parseDecimal(size->text, kMaxSizeValue))
                    sizeValue = static_cast<std::int64_t>(*v);
            }
            if (f->number < 1 || static_cast<std::size_t>(f->number) > m_messages.size() ||
                wanted[static_cast<std::size_t>(f->number - 1)] != 1 || uidValue < 1 || !env ||
                sizeValue < 0) {
                clean = false;
                continue;
            }
            const std::size_t at = static_cast<std::size_t>(f->number - 1);
            std::optional<ImapSyncState::Message>& m = m_messages[at];
            // Asked by UID: the number must be the one the listing gave, or the numbering has
            // moved on.
            if (m && m->uid != 0 && m->uid != uidValue) {
                clean = false;
                continue;
            }
            ImapSyncState::Message got;
            got.uid = uidValue;
            got.size = sizeValue;
            try {
                got.fields = fieldsOf(ImapResponseParser::parseEnvelope(*env));
            } catch (const TarnError&) {
                clean = false;
                continue;
            }
            m = std::move(got);
            wanted[at] = 2;
        }
    }
    for (std::size_t p : positions)
        if (wanted[p] != 2)
            return false;
    return clean && m_client->ExpungesSeen() == 0;
}

void Imap4MailboxClient::measureAnswer(const ImapReply& reply) {
    // A server may run the commands in flight side by side, so that one answer carries the
    // responses of several: the measure is per response, not per command.
    for (const std::string& line : reply.lines) {
        m_answeredBytes += line.size() + 2;
        m_answeredMessages += isFetchResponse(line);
    }
    if (m_answeredMessages > 0)
        m_bytesPerMessage = std::max(1.0, static_cast<double>(m_answeredBytes) /
                                              static_cast<double>(m_answeredMessages));
}

int Imap4MailboxClient::messageCount() {
    return m_client->MessageCount();
}

bool Imap4MailboxClient::ensureLoaded() {
    if (!m_pendingLoad)
        return m_complete;
    m_pendingLoad = false;
    std::optional<ImapSyncState> old = ImapSyncState::load(m_statePath, kMaxStateBytes);
    // Still the file whose first lines were read (another check of the same mailbox may
    // have replaced it since), and whole.
    if (old && old->key == m_head.key && old->uidValidity == m_head.uidValidity &&
        old->uidNext == m_head.uidNext && old->highestModSeq == m_head.highestModSeq &&
        old->messages.size() == m_messages.size()) {
        for (std::size_t k = 0; k < m_messages.size(); ++k)
            m_messages[k] = std::move(old->messages[k]);
        m_complete = true;
        return true;
    }
    // The pass then fetches what it needs, as without a state, and keeps it.
    m_sync = Sync::Full;
    m_complete = false;
    m_saveState = true;
    return false;
}

std::int64_t Imap4MailboxClient::mailboxTotal() {
    if (m_pendingLoad)
        return m_head.totalSize;
    if (m_sync == Sync::Full && m_saveState && m_allowed && !m_complete) {
        // Without a usable state the pass needs every envelope anyway (or a later one will):
        // they come now, with the UIDs and sizes the total is made of.
        m_complete = learnAll();
        if (!m_complete) {
            std::fill(m_messages.begin(), m_messages.end(), std::nullopt);
            if (!m_client->Connected())
                throw TarnError(ErrorKind::NotConnected, "Not connected.");
        }
    }
    if (m_complete) {
        std::int64_t total = 0;
        for (const auto& m : m_messages)
            total += m->size;
        return total;
    }
    return m_client->MailboxTotal();
}

void Imap4MailboxClient::prepareMessages(int first, int last) {
    drainBatches();
    ensureLoaded();
    m_batching = !m_complete && m_allowed && last >= first;
    m_last = last;
    m_sentUpTo = m_readUpTo = first - 1;
    m_batched.clear();
}

IdentityFields Imap4MailboxClient::fieldsOf(const ImapEnvelope& env) {
    const ImapAddress from = env.firstFrom();
    IdentityFields f;
    f.subject = env.subject;
    f.senderName = from.route.empty() ? from.name : from.route;
    f.senderAddress = from.address();
    f.date = env.date;
    f.messageId = env.messageId;
    return f;
}

MessageIdentity Imap4MailboxClient::identityOf(const IdentityFields& fields) {
    return {fields.messageId, fields};
}

void Imap4MailboxClient::forgetFrom(int number) {
    m_batched.erase(m_batched.lower_bound(number), m_batched.end());
}

void Imap4MailboxClient::fillWindow() {
    while (m_batching && m_sentUpTo < m_last && m_inFlight.size() < kMaxBatchesInFlight) {
        std::size_t expected = 0;
        for (const InFlight& b : m_inFlight)
            expected += static_cast<std::size_t>(b.last - b.first + 1);
        if (!m_inFlight.empty() && static_cast<double>(expected + kBatchSize) * m_bytesPerMessage >
                                       static_cast<double>(kMaxAnswerBytesInFlight))
            return;
        InFlight b;
        b.first = m_sentUpTo + 1;
        b.last = std::min(m_last, b.first + kBatchSize - 1);
        // With a state to keep, the UIDs come along.
        const std::string items = m_saveState ? "UID RFC822.SIZE ENVELOPE" : "RFC822.SIZE ENVELOPE";
        b.tag = m_client->SendAhead("FETCH " + std::to_string(b.first) + ":" +
                                    std::to_string(b.last) + " (" + items + ")");
        m_sentUpTo = b.last;
        m_inFlight.push_back(std::move(b));
    }
}

void Imap4MailboxClient::drainBatches() {
    while (!m_inFlight.empty())
        readOldestBatch();
}

void Imap4MailboxClient::fetchBatchFor(int i) {
    if (!m_batching || i <= m_readUpTo || i > m_last) {
        // Another command may follow: no answer may still be due.
        drainBatches();
        return;
    }
    // Whatever came before is of no more use to a pass that walks forward.
    m_batched.erase(m_batched.begin(), m_batched.lower_bound(i));
    fillWindow();
    while (m_readUpTo < i && !m_inFlight.empty()) {
        readOldestBatch();
        fillWindow();
    }
}

void Imap4MailboxClient::readOldestBatch() {
    const InFlight b = m_inFlight.front();
    m_inFlight.pop_front();
    m_readUpTo = b.last;
    const ImapReply* reply = nullptr;
    try {
        reply = &m_client->ReadAnswer(b.tag);
    } catch (const TarnError&) {
        // A lost connection fails message i as its own FETCH would have failed.
        m_inFlight.clear();
        throw;
    }
    measureAnswer(*reply);
    if (reply->status != "OK") {
        // A batch the server refused: each message is asked on its own, and fails as it does
        // then.
        return;
    }
    if (!m_batching)
        return; // numbers no longer hold (an expunge came before)
    const bool learn = m_saveState && m_client->ExpungesSeen() == 0;
    for (std::size_t k = 0; k + 1 < reply->lines.size(); ++k) {
        const std::string& line = reply->lines[k];
        if (const std::optional<int> gone = expungedNumber(line)) {
            // Numbers from here on are the server's new ones, and what was said of the
            // expunged message's number and those behind it is about other messages now.
            forgetFrom(*gone);
            m_batching = false;
            m_saveState = false;
            return;
        }
        std::optional<ImapFetchResponse> f;
        try {
            f = ImapResponseParser::parseFetch(line);
        } catch (const TarnError&) {
            continue; // its message, whichever it is, is asked on its own
        }
        if (!f || f->number < b.first || f->number > b.last)
            continue;
        const ImapValue* env = f->find("ENVELOPE");
        const ImapValue* size = f->find("RFC822.SIZE");
        if (!env && !size)
            continue; // a flag update, say
        Batched& got = m_batched[static_cast<int>(f->number)];
        if (got.repeated || got.answered) {
            // Answered twice: neither answer is trusted.
            got = Batched{};
            got.repeated = true;
            if (f->number <= static_cast<long long>(m_messages.size()))
                m_messages[static_cast<std::size_t>(f->number - 1)].reset();
            continue;
        }
        got.answered = true;
        if (env) {
            try {
                got.envelope = ImapResponseParser::parseEnvelope(*env);
            } catch (const TarnError&) {
                // asked on its own, which fails the same way
            }
        }
        if (size && size->kind == ImapValue::Kind::Atom) {
            if (const std::optional<std::uint64_t> n = parseDecimal(size->text, kMaxSizeValue))
                got.size = static_cast<long long>(*n);
        }
        const ImapValue* uid = f->find("UID");
        if (learn && uid && uid->kind == ImapValue::Kind::Atom && got.envelope && got.size &&
            f->number <= static_cast<long long>(m_messages.size())) {
            if (const std::optional<std::uint64_t> u = parseDecimal(uid->text, kMaxSizeValue)) {
                ImapSyncState::Message m;
                m.uid = static_cast<std::int64_t>(*u);
                m.size = *got.size;
                m.fields = fieldsOf(*got.envelope);
                m_messages[static_cast<std::size_t>(f->number - 1)] = std::move(m);
            }
        }
    }
}

std::optional<std::int64_t> Imap4MailboxClient::knownSize(int i) const {
    if (m_complete && i >= 1 && static_cast<std::size_t>(i) <= m_messages.size())
        return m_messages[static_cast<std::size_t>(i - 1)]->size;
    const auto it = m_batched.find(i);
    if (it == m_batched.end())
        return std::nullopt;
    return it->second.size;
}

MessageIdentity Imap4MailboxClient::messageIdentity(int i) {
    ensureLoaded();
    if (m_complete && i >= 1 && static_cast<std::size_t>(i) <= m_messages.size())
        return identityOf(m_messages[static_cast<std::size_t>(i - 1)]->fields);
    fetchBatchFor(i);
    const auto it = m_batched.find(i);
    if (it != m_batched.end() && it->second.envelope)
        return identityOf(fieldsOf(*it->second.envelope));
    drainBatches();
    return identityOf(fieldsOf(m_client->FetchEnvelope(i)));
}

std::int64_t Imap4MailboxClient::messageSize(int i) {
    ensureLoaded();
    if (const std::optional<std::int64_t> size = knownSize(i))
        return *size;
    drainBatches();
    return m_client->MessageSize(i);
}

std::optional<std::int64_t> Imap4MailboxClient::uidOf(int i) const {
    if (i < 1 || static_cast<std::size_t>(i) > m_messages.size())
        return std::nullopt;
    const auto& m = m_messages[static_cast<std::size_t>(i - 1)];
    if (!m || m->uid < 1)
        return std::nullopt;
    return m->uid;
}

std::optional<RawMessage> Imap4MailboxClient::wholeMessage(int i) {
    drainBatches();
    ensureLoaded();
    ImapFetchedMessage m;
    if (const std::optional<std::int64_t> uid = uidOf(i)) {
        m_client->AddFlagByUid(*uid, "\\Seen");
        m = m_client->FetchMessageByUid(*uid);
    } else {
        m_client->AddFlag(i, "\\Seen");
        m = m_client->FetchMessage(i);
    }
    return RawMessage{std::move(m.headerLines), m.hasBody, std::move(m.bodyLines)};
}

void Imap4MailboxClient::deleteMessage(int i) {
    drainBatches();
    ensureLoaded();
    if (const std::optional<std::int64_t> uid = uidOf(i)) {
        m_deletedUids.push_back(*uid);
        m_client->AddFlagByUid(*uid, "\\Seen");
        m_client->AddFlagByUid(*uid, "\\Deleted");
        return;
    }
    m_deletedByNumber = true;
    m_client->DeleteMessage(i);
}

void Imap4MailboxClient::expungeDeleted() {
    drainBatches();
    const int before = m_client->ExpungesSeen();
    m_client->Expunge();
    followOwnExpunge(before);
}

void Imap4MailboxClient::followOwnExpunge(int expungesBefore) {
    if (m_deletedUids.empty() || m_deletedByNumber || expungesBefore != 0 || m_statePath.empty())
        return;
    // Replay the announcements on the numbering the pass used.
    std::vector<std::int64_t> uids;
    uids.reserve(m_messages.size());
    for (const auto& m : m_messages) {
        if (!m)
            return;
        uids.push_back(m->uid);
    }
    std::vector<std::int64_t> removed;
    const ImapReply& reply = m_client->lastReply();
    for (std::size_t k = 0; k + 1 < reply.lines.size(); ++k) {
        const std::optional<int> gone = expungedNumber(reply.lines[k]);
        if (!gone)
            continue;
        if (static_cast<std::size_t>(*gone) > uids.size())
            return;
        removed.push_back(uids[static_cast<std::size_t>(*gone - 1)]);
        uids.erase(uids.begin() + (*gone - 1));
    }
    std::sort(removed.begin(), removed.end());
    std::vector<std::int64_t> ours = m_deletedUids;
    std::sort(ours.begin(), ours.end());
    ours.erase(std::unique(ours.begin(), ours.end()), ours.end());
    if (removed != ours || static_cast<int>(removed.size()) != m_client->ExpungesSeen())
        return; // someone else's expunge too: the next check lists the mailbox
    std::vector<std::optional<ImapSyncState::Message>> kept;
    kept.reserve(uids.size());
    for (auto& m : m_messages)
        if (!std::binary_search(ours.begin(), ours.end(), m->uid))
            kept.push_back(std::move(m));
    m_messages = std::move(kept);
    m_saveState = true;
}

void Imap4MailboxClient::saveState() {
    if (!m_saveState)
        return;
    m_saveState = false;
    ImapSyncState state;
    state.key = m_stateKey;
    state.uidValidity = m_box.uidValidity;
    state.uidNext = m_box.uidNext;
    state.highestModSeq = m_box.highestModSeq;
    state.messages.reserve(m_messages.size());
    for (auto& m : m_messages) {
        // Only a complete picture is kept; the next check makes a full pass otherwise.
        if (!m || (!state.messages.empty() && m->uid <= state.messages.back().uid) ||
            (m_box.uidNext > 0 && m->uid >= m_box.uidNext))
            return;
        state.messages.push_back(std::move(*m));
    }
    try {
        state.save(m_statePath);
    } catch (const TarnError&) {
        // Only the next check's speed depends on it.
    }
}

void Imap4MailboxClient::closeMailbox() {
    m_batched.clear();
    // LOGOUT's answer comes after those still due.
    try {
        drainBatches();
    } catch (const TarnError&) {
        m_inFlight.clear();
    }
    saveState();
    m_messages.clear();
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
