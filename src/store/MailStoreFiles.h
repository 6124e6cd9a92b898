#pragma once

#include "store/MailListDB.h"

#include <functional>
#include <set>
#include <string>

namespace tarn {

// What the start-up passes to LoadStore.
struct StoreLoadOptions {
    std::string folder; // the working folder
    bool KeepMailDB = false;
    bool ReleaseChanged = false;
    int ECount = 0;
    // Shows an error box with the given text (error icon, OK).
    std::function<void(const std::string&)> errorBox;
};

// Reading, writing and removing the saved mail list in the working folder.
class MailStoreFiles {
public:
    static constexpr const char* SavedFileName = "MailDB.tdb";
    static constexpr const char* TemplateFileName = "blankMDB.tdb";
    static constexpr const char* LoadErrorText =
        "Error while loading Database Files\r\n\r\nPlease restart Tarnwick.";

    static std::string savedPath(const std::string& folder);
    static std::string templatePath(const std::string& folder);

    // Fills the table at start-up; returns the accounts (1 to ECount) that have records, whose
    // fields the caller then recounts.
    static std::set<int> LoadStore(MailListDB& db, const StoreLoadOptions& options);

    // Writes the whole table over MailDB.tdb when KeepMailDB is on; returns whether it wrote.
    // A failure raises TarnError and leaves the old file as it was.
    static bool SaveStore(MailListDB& db, const std::string& folder, bool KeepMailDB);

    // "Purge Maillist": removes every record and the saved file; returns the accounts that had
    // records. The caller resets their mailbox totals and refreshes the windows.
    static std::set<int> PurgeMaillist(MailListDB& db, const std::string& folder);
};

} // namespace tarn
