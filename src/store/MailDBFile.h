#pragma once

#include "store/MailRecord.h"

#include <string>
#include <vector>

namespace tarn {

// The saved mail list: an SQLite database with one table, MailDB, of the fifteen record fields
// in order (absent fields are NULL). Nothing but the current records is kept in the file.
class MailDBFile {
public:
    // The statement that defines the table.
    static const char* tableDefinition();

    // Reads every record in file order. Anything that is not such a database (missing,
    // garbage, truncated, another table layout) raises TarnError.
    static std::vector<MailRecord> read(const std::string& path);

    // Writes the records to a temporary file beside path and renames it over path, so the
    // old file stays whole until the new one is complete. Raises TarnError on failure, after
    // removing the temporary file.
    static void write(const std::string& path, const std::vector<const MailRecord*>& records);

    // The temporary file write() uses for path.
    static std::string temporaryPath(const std::string& path);
};

} // namespace tarn
