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

    const Row& row(std::size_t i) const { return m_rows[i]; }
    std::string_view subject(std::size_t i) const;
    std::string_view sender(std::size_t i) const;
    std::string_view uid(std::size_t i) const;
    bool deleting(std::size_t i) const { return (m_rows[i].flags & FlagDeleting) != 0; }
    bool retrieving(std::size_t i) const { return (m_rows[i].flags & FlagRetrieving) != 0; }

    // Bytes held for the rows (capacities included).
    std::size_t memoryBytes() const;

private:
    std::vector<Row> m_rows;
    std::string m_text;
};

} // namespace tarn
