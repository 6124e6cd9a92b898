#pragma once

#include "store/MailListDB.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The rows the mail list shows, copied out of MailListDB so that the lock is held only while
// they are read. Kept compact because the list may hold a hundred thousand messages: the
// texts of all rows share one buffer, and everything the columns show besides subject, sender
// and UID is derived from a few numbers when a row is painted.
class MailListRows {
public:
    // One row's numbers as the list reads them.
    struct Row {
        std::uint32_t text = 0; // offset of subject, then sender, then UID in the text buffer
        std::uint16_t subjectLen = 0;
        std::uint16_t senderLen = 0;
        std::uint16_t uidLen = 0;
        std::uint8_t icon = 0;
        std::uint8_t flags = 0;
        std::int32_t account = 0;
        std::int64_t size = 0;
        double date = 0;
    };
    static constexpr std::uint8_t FlagDeleting = 1;
    static constexpr std::uint8_t FlagRetrieving = 2;

    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }
    void clear();
    void swap(MailListRows& other) noexcept;

    // Adds the row of one record (hidden or not; the caller decides).
    void append(const MailRecord& record);

    // Replaces the rows with the shown records of an account (0 = all) in the table's order,
    // holding the MailDB lock only for the walk. A failure ends the filling and keeps the rows
    // read so far; it returns false then.
    bool fill(const MailListDB& db, int account);

    Row row(std::size_t i) const;
    std::string_view subject(std::size_t i) const;
    std::string_view sender(std::size_t i) const;
    std::string_view uid(std::size_t i) const;
    int icon(std::size_t i) const { return m_rows[i].bits & IconMask; }
    bool deleting(std::size_t i) const { return (m_rows[i].bits & BitDeleting) != 0; }
    bool retrieving(std::size_t i) const { return (m_rows[i].bits & BitRetrieving) != 0; }

    // Bytes held for the rows (capacities included).
    std::size_t memoryBytes() const;

private:
    // 24 bytes a row: the list may hold a hundred thousand. Values that do not fit (a size of
    // 4 GB or more or below 0, an account number past 65535, a UID longer than 255 bytes)
    // are kept whole in m_wide, which real mailboxes leave empty.
    struct Packed {
        double date = 0;
        std::uint32_t text = 0;
        std::uint32_t size = 0;
        std::uint16_t subjectLen = 0;
        std::uint16_t senderLen = 0;
        std::uint16_t account = 0;
        std::uint8_t uidLen = 0;
        std::uint8_t bits = 0; // icon, the two flags, and whether m_wide holds the row
    };
    static_assert(sizeof(Packed) == 24);
    static constexpr std::uint8_t IconMask = 0x1F;
    static constexpr std::uint8_t BitDeleting = 0x20;
    static constexpr std::uint8_t BitRetrieving = 0x40;
    static constexpr std::uint8_t BitWide = 0x80;
    struct Wide {
        std::uint32_t row = 0;
        std::uint16_t uidLen = 0;
        std::int32_t account = 0;
        std::int64_t size = 0;
    };
    const Wide* wide(std::size_t i) const;

    std::vector<Packed> m_rows;
    std::vector<Wide> m_wide; // by row, ascending
    std::string m_text;
};

} // namespace tarn
