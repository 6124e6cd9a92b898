#include "store/MailListRows.h"

#include "core/TarnError.h"
#include "store/MailListRules.h"

#include <algorithm>
#include <limits>

namespace tarn {

namespace {

std::uint16_t appendText(std::string& buffer, const std::optional<std::string>& text) {
    if (!text)
        return 0;
    // Stored texts are cut to their widths; anything longer is cut here, never carried.
    const std::size_t n =
        std::min<std::size_t>(text->size(), std::numeric_limits<std::uint16_t>::max());
    buffer.append(*text, 0, n);
    return static_cast<std::uint16_t>(n);
}

} // namespace

void MailListRows::clear() {
    m_rows.clear();
    m_text.clear();
}

void MailListRows::swap(MailListRows& other) noexcept {
    m_rows.swap(other.m_rows);
    m_text.swap(other.m_text);
}

void MailListRows::append(const MailRecord& r) {
    if (m_text.size() > std::numeric_limits<std::uint32_t>::max() - 3u * 0xFFFFu)
        throw TarnError("mail list too large to show");
    Row row;
    row.text = static_cast<std::uint32_t>(m_text.size());
    row.subjectLen = appendText(m_text, r.Subject);
    row.senderLen = appendText(m_text, r.Sender);
    row.uidLen = appendText(m_text, r.UID);
    row.icon = static_cast<std::uint8_t>(maillist::rowIcon(r));
    row.flags = static_cast<std::uint8_t>((r.Delete.value_or(false) ? FlagDeleting : 0) |
                                          (r.RetrieveMail.value_or(false) ? FlagRetrieving : 0));
    row.account = r.Account.value_or(0);
    row.size = r.Size.value_or(0);
    row.date = r.Date.value_or(0.0);
    m_rows.push_back(row);
}

bool MailListRows::fill(const MailListDB& db, int account) {
    clear();
    try {
        NamedLock lock(db.mutex());
        const long long shown = account == MailListDB::AllAccounts ? db.CountAllShownMessages()
                                                                   : db.CountShownMessages(account);
        m_rows.reserve(static_cast<std::size_t>(std::max(0LL, shown)));
        // Room for typical texts; what is left over goes again below.
        m_text.reserve(m_rows.capacity() * 96);
        db.walk(account, [this](const MailRecord& r) {
            if (!r.Ignore.value_or(false))
                append(r);
            return true;
        });
    } catch (const std::exception&) {
        m_text.shrink_to_fit();
        return false;
    }
    // The buffer grew by doubling; the list keeps only what it holds.
    m_text.shrink_to_fit();
    return true;
}

std::string_view MailListRows::subject(std::size_t i) const {
    const Row& r = m_rows[i];
    return std::string_view(m_text).substr(r.text, r.subjectLen);
}

std::string_view MailListRows::sender(std::size_t i) const {
    const Row& r = m_rows[i];
    return std::string_view(m_text).substr(r.text + r.subjectLen, r.senderLen);
}

std::string_view MailListRows::uid(std::size_t i) const {
    const Row& r = m_rows[i];
    return std::string_view(m_text).substr(std::size_t(r.text) + r.subjectLen + r.senderLen,
                                           r.uidLen);
}

std::size_t MailListRows::memoryBytes() const {
    return m_rows.capacity() * sizeof(Row) + m_text.capacity();
}

} // namespace tarn
