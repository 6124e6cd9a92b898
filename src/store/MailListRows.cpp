#include "store/MailListRows.h"

#include "core/TarnError.h"
#include "store/RecordIcon.h"

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
    m_wide.clear();
    m_text.clear();
}

void MailListRows::swap(MailListRows& other) noexcept {
    m_rows.swap(other.m_rows);
    m_wide.swap(other.m_wide);
    m_text.swap(other.m_text);
}

void MailListRows::append(const MailRecord& r) {
    if (m_text.size() > std::numeric_limits<std::uint32_t>::max() - 3u * 0xFFFFu)
        throw TarnError("mail list too large to show");
    if (m_rows.size() >= std::numeric_limits<std::uint32_t>::max())
        throw TarnError("mail list too large to show");
    Packed row;
    row.text = static_cast<std::uint32_t>(m_text.size());
    row.subjectLen = appendText(m_text, r.Subject);
    row.senderLen = appendText(m_text, r.Sender);
    const std::uint16_t uidLen = appendText(m_text, r.UID);
    const int icon = maillist::rowIcon(r);
    row.bits = static_cast<std::uint8_t>((icon >= 0 && icon <= IconMask ? icon : 0) |
                                         (r.Delete.value_or(false) ? BitDeleting : 0) |
                                         (r.RetrieveMail.value_or(false) ? BitRetrieving : 0));
    const std::int32_t account = r.Account.value_or(0);
    const std::int64_t size = r.Size.value_or(0);
    row.date = r.Date.value_or(0.0);
    if (uidLen <= 0xFF && account >= 0 && account <= 0xFFFF && size >= 0 && size <= 0xFFFFFFFFLL) {
        row.uidLen = static_cast<std::uint8_t>(uidLen);
        row.account = static_cast<std::uint16_t>(account);
        row.size = static_cast<std::uint32_t>(size);
    } else {
        row.bits |= BitWide;
        m_wide.push_back(Wide{static_cast<std::uint32_t>(m_rows.size()), uidLen, account, size});
    }
    m_rows.push_back(row);
}

const MailListRows::Wide* MailListRows::wide(std::size_t i) const {
    if (!(m_rows[i].bits & BitWide))
        return nullptr;
    const auto it = std::lower_bound(m_wide.begin(), m_wide.end(), i,
                                     [](const Wide& w, std::size_t row) { return w.row < row; });
    return it != m_wide.end() && it->row == i ? &*it : nullptr;
}

MailListRows::Row MailListRows::row(std::size_t i) const {
    const Packed& p = m_rows[i];
    Row r;
    r.text = p.text;
    r.subjectLen = p.subjectLen;
    r.senderLen = p.senderLen;
    r.icon = static_cast<std::uint8_t>(p.bits & IconMask);
    r.flags = static_cast<std::uint8_t>(((p.bits & BitDeleting) ? FlagDeleting : 0) |
                                        ((p.bits & BitRetrieving) ? FlagRetrieving : 0));
    r.date = p.date;
    if (const Wide* w = wide(i)) {
        r.uidLen = w->uidLen;
        r.account = w->account;
        r.size = w->size;
    } else {
        r.uidLen = p.uidLen;
        r.account = p.account;
        r.size = p.size;
    }
    return r;
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
    const Packed& r = m_rows[i];
    return std::string_view(m_text).substr(r.text, r.subjectLen);
}

std::string_view MailListRows::sender(std::size_t i) const {
    const Packed& r = m_rows[i];
    return std::string_view(m_text).substr(r.text + r.subjectLen, r.senderLen);
}

std::string_view MailListRows::uid(std::size_t i) const {
    const Packed& r = m_rows[i];
    const Wide* w = wide(i);
    return std::string_view(m_text).substr(std::size_t(r.text) + r.subjectLen + r.senderLen,
                                           w ? w->uidLen : r.uidLen);
}

std::size_t MailListRows::memoryBytes() const {
    return m_rows.capacity() * sizeof(Packed) + m_wide.capacity() * sizeof(Wide) +
           m_text.capacity();
}

} // namespace tarn
