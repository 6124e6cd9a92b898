// The saved mail list loaded at start from any file, then saved and read again.
#include "platform/NamedMutex.h"
#include "store/MailDBFile.h"
#include "store/MailListDB.h"
#include "store/MailStoreFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarn;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "store round trip: %s\n", what);
        std::abort();
    }
}

// One private working folder for the whole run, in memory where the machine has such a folder:
// saving flushes every file to the disk, which would make each run take a second.
class Folder {
public:
    Folder() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string tmpl = (base / "tarnfuzz-store.XXXXXX").string();
        require(::mkdtemp(tmpl.data()) != nullptr, "no temporary folder");
        m_path = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

const std::string& folder() {
    static const Folder f;
    return f.path();
}

// The MailDB lock of this run, removed from the system when the run ends.
struct Lock {
    NamedMutex mutex{"TarnFuzzStore_" + std::to_string(::getpid())};
    ~Lock() { NamedMutex::removeSystemObject(mutex.name()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Lock lock;
    const std::string saved = MailStoreFiles::savedPath(folder());
    {
        std::ofstream out(saved, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    MailListDB db(lock.mutex);
    StoreLoadOptions options;
    options.folder = folder();
    options.KeepMailDB = true;
    options.ECount = 3;
    options.errorBox = [](const std::string&) {};
    MailStoreFiles::LoadStore(db, options);

    for (int account = 0; account <= 3; ++account) {
        db.CountShownMessages(account);
        db.CountNewShown(account);
        db.FirstMarkedForDeletion(account);
    }
    db.setSortOrder("DateIndexRev");
    db.setSortOrder("SubjectIndex");

    // What was loaded is saved whole and reads back as it was.
    MailStoreFiles::SaveStore(db, folder(), true);
    const std::vector<MailRecord> back = MailDBFile::read(saved);
    const std::vector<const MailRecord*> stored = db.storedRecords();
    require(back.size() == stored.size(), "record count differs");
    for (std::size_t i = 0; i < back.size(); ++i)
        require(back[i] == *stored[i], "record differs");
    ::unlink(saved.c_str());
    return 0;
}
