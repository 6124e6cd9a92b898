#include "store/MailStoreFiles.h"

#include "core/TarnError.h"
#include "store/MailDBFile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

std::string join(const std::string& folder, const char* name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool tryRead(const std::string& path, std::vector<MailRecord>& out) {
    try {
        out = MailDBFile::read(path);
        return true;
    } catch (const TarnError&) {
        return false;
    }
}

} // namespace

std::string MailStoreFiles::savedPath(const std::string& folder) {
    return join(folder, SavedFileName);
}

std::string MailStoreFiles::templatePath(const std::string& folder) {
    return join(folder, TemplateFileName);
}

std::set<int> MailStoreFiles::LoadStore(MailListDB& db, const StoreLoadOptions& options) {
    std::set<int> marked;
    if (!options.KeepMailDB && !options.ReleaseChanged) {
        return marked;
    }
    NamedLock lock(db.mutex());
    const std::string saved = savedPath(options.folder);
    const std::string blank = templatePath(options.folder);

    if (!exists(blank)) {
        try {
            MailDBFile::write(blank, {});
        } catch (const TarnError&) {
            // Without a template the load below falls back to an empty table.
        }
    }

    const bool useTemplate = options.ReleaseChanged || !exists(saved);
    std::vector<MailRecord> records;
    const bool readSaved = !useTemplate && tryRead(saved, records);
    if (!(useTemplate ? tryRead(blank, records) : readSaved)) {
        records.clear();
        if (exists(blank) && tryRead(blank, records)) {
            unlink(saved.c_str());
        } else {
            // The saved file is kept: a fresh template at the next start may read it again.
            records.clear();
            unlink(blank.c_str());
            if (options.errorBox) {
                options.errorBox(LoadErrorText);
            }
        }
    }
    db.replaceAll(std::move(records));
    if (readSaved)
        db.markSaved(); // the table is what the file holds

    for (int account = 1; account <= options.ECount; ++account) {
        if (db.AccountHasMessages(account)) {
            marked.insert(account);
        }
    }
    return marked;
}

bool MailStoreFiles::SaveStore(MailListDB& db, const std::string& folder, bool KeepMailDB) {
    if (!KeepMailDB) {
        return false;
    }
    NamedLock lock(db.mutex());
    MailDBFile::write(savedPath(folder), db.storedRecords());
    db.markSaved();
    return true;
}

std::set<int> MailStoreFiles::PurgeMaillist(MailListDB& db, const std::string& folder) {
    std::set<int> accounts = db.PurgeAll();
    unlink(savedPath(folder).c_str());
    return accounts;
}

} // namespace tarn
