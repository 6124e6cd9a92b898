#include "store/MailDBFile.h"

#include "core/PrivateFile.h"
#include "core/TarnError.h"
#include "store/SqliteDb.h"
#include "store/SqliteStatement.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

enum class Kind { Integer, Text, Boolean, Date };

struct Column {
    const char* name;
    const char* type;
    Kind kind;
};

constexpr std::array<Column, 15> kColumns{{
    {"Count", "INTEGER", Kind::Integer},
    {"Subject", "VARCHAR(128)", Kind::Text},
    {"Sender", "VARCHAR(128)", Kind::Text},
    {"Size", "INTEGER", Kind::Integer},
    {"Account", "INTEGER", Kind::Integer},
    {"Delete", "BOOLEAN", Kind::Boolean},
    {"Header", "TEXT", Kind::Text},
    {"Body", "TEXT", Kind::Text},
    {"UID", "VARCHAR(128)", Kind::Text},
    {"Date", "DATETIME", Kind::Date},
    {"Ignore", "BOOLEAN", Kind::Boolean},
    {"Soundfile", "VARCHAR(256)", Kind::Text},
    {"RetrieveMail", "BOOLEAN", Kind::Boolean},
    {"icon", "INTEGER", Kind::Integer},
    {"New", "BOOLEAN", Kind::Boolean},
}};

std::string columnList() {
    std::string s;
    for (const Column& c : kColumns) {
        if (!s.empty()) {
            s += ", ";
        }
        s += '"';
        s += c.name;
        s += '"';
    }
    return s;
}

std::string buildDefinition() {
    std::string s = "CREATE TABLE MailDB (";
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        s += i == 0 ? "" : ", ";
        s += '"';
        s += kColumns[i].name;
        s += "\" ";
        s += kColumns[i].type;
    }
    return s + ")";
}

[[noreturn]] void unreadable(const std::string& path, const std::string& why) {
    throw TarnError("Unreadable mail list file " + path + ": " + why);
}

void checkLayout(SqliteDb& db, const std::string& path) {
    SqliteStatement info(db, "SELECT name, type FROM pragma_table_info('MailDB')");
    std::size_t i = 0;
    while (info.step()) {
        if (i >= kColumns.size()) {
            unreadable(path, "too many fields");
        }
        const std::string name = info.columnText(0);
        const std::string type = info.columnText(1);
        if (strcasecmp(name.c_str(), kColumns[i].name) != 0 ||
            strcasecmp(type.c_str(), kColumns[i].type) != 0) {
            unreadable(path, "field " + std::to_string(i + 1) + " is " + name + " " + type);
        }
        ++i;
    }
    if (i != kColumns.size()) {
        unreadable(path, i == 0 ? "no MailDB table" : "too few fields");
    }
}

void syncPath(const std::string& path, bool directory) {
    const int fd = open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        throw TarnError("Cannot open " + path + " to flush it: " + std::strerror(errno));
    }
    const int rc = fsync(fd);
    const int err = errno;
    close(fd);
    if (rc != 0 && !directory) {
        throw TarnError("Cannot flush " + path + ": " + std::strerror(err));
    }
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

const char* MailDBFile::tableDefinition() {
    static const std::string def = buildDefinition();
    return def.c_str();
}

std::string MailDBFile::temporaryPath(const std::string& path) {
    return path + ".saving";
}

std::vector<MailRecord> MailDBFile::read(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        unreadable(path, "no such file");
    }
    std::vector<MailRecord> out;
    try {
        SqliteDb db(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
        db.exec("PRAGMA mmap_size=1073741824");
        checkLayout(db, path);
        SqliteStatement select(db, "SELECT " + columnList() + " FROM MailDB");
        while (select.step()) {
            MailRecord r;
            for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
                const int type = select.columnType(i);
                if (type == SQLITE_NULL) {
                    continue;
                }
                const Kind kind = kColumns[i].kind;
                const bool ok = kind == Kind::Text ? (type == SQLITE_TEXT || type == SQLITE_BLOB)
                                : kind == Kind::Date
                                    ? (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
                                    : type == SQLITE_INTEGER;
                if (!ok) {
                    unreadable(path, std::string("wrong value type in ") + kColumns[i].name);
                }
                switch (i) {
                case 0:
                    r.Count = select.columnInt64(i);
                    break;
                case 1:
                    r.Subject = select.columnText(i);
                    break;
                case 2:
                    r.Sender = select.columnText(i);
                    break;
                case 3:
                    r.Size = select.columnInt64(i);
                    break;
                case 4:
                    r.Account = static_cast<int>(select.columnInt64(i));
                    break;
                case 5:
                    r.Delete = select.columnInt64(i) != 0;
                    break;
                case 6:
                    r.Header = select.columnText(i);
                    break;
                case 7:
                    r.Body = select.columnText(i);
                    break;
                case 8:
                    r.UID = select.columnText(i);
                    break;
                case 9:
                    r.Date = select.columnDouble(i);
                    break;
                case 10:
                    r.Ignore = select.columnInt64(i) != 0;
                    break;
                case 11:
                    r.Soundfile = select.columnText(i);
                    break;
                case 12:
                    r.RetrieveMail = select.columnInt64(i) != 0;
                    break;
                case 13:
                    r.icon = static_cast<int>(select.columnInt64(i));
                    break;
                case 14:
                    r.New = select.columnInt64(i) != 0;
                    break;
                }
            }
            out.push_back(std::move(r));
        }
    } catch (const TarnError& e) {
        unreadable(path, e.what());
    }
    return out;
}

void MailDBFile::write(const std::string& path, const std::vector<const MailRecord*>& records) {
    const std::string tmp = temporaryPath(path);
    // A leftover of an interrupted save is worthless: the saved file is only ever replaced
    // by a complete one.
    if (unlink(tmp.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        throw TarnError("Cannot remove " + tmp + ": " + std::strerror(errno));
    }
    try {
        // SQLite creates files by the umask; the mail list is the user's alone, and a journal
        // takes the mode of its database file.
        const int fd =
            ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
        if (fd < 0) {
            throw TarnError("Cannot create " + tmp + ": " + std::strerror(errno));
        }
        ::fchmod(fd, kPrivateFileMode);
        ::close(fd);
        {
            SqliteDb db(tmp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
            // No journal: the file is new and is thrown away if anything fails.
            db.exec("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                    "PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-16384");
            db.exec("BEGIN");
            db.exec(tableDefinition());
            std::string insert = "INSERT INTO MailDB (" + columnList() + ") VALUES (?";
            for (std::size_t i = 1; i < kColumns.size(); ++i) {
                insert += ",?";
            }
            insert += ")";
            SqliteStatement st(db, insert);
            for (const MailRecord* r : records) {
                auto bindInt = [&](int i, const auto& v) {
                    v ? st.bindInt64(i, static_cast<long long>(*v)) : st.bindNull(i);
                };
                auto bindText = [&](int i, const std::optional<std::string>& v) {
                    v ? st.bindText(i, *v) : st.bindNull(i);
                };
                bindInt(1, r->Count);
                bindText(2, r->Subject);
                bindText(3, r->Sender);
                bindInt(4, r->Size);
                bindInt(5, r->Account);
                bindInt(6, r->Delete);
                bindText(7, r->Header);
                bindText(8, r->Body);
                bindText(9, r->UID);
                r->Date ? st.bindDouble(10, *r->Date) : st.bindNull(10);
                bindInt(11, r->Ignore);
                bindText(12, r->Soundfile);
                bindInt(13, r->RetrieveMail);
                bindInt(14, r->icon);
                bindInt(15, r->New);
                st.step();
                st.reset();
            }
            db.exec("COMMIT");
        }
        syncPath(tmp, false);
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            throw TarnError("Cannot replace " + path + ": it is a folder");
        }
        const bool wasWider = stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0;
        if (rename(tmp.c_str(), path.c_str()) != 0) {
            throw TarnError("Cannot replace " + path + ": " + std::strerror(errno));
        }
        syncPath(folderOf(path), true);
        if (wasWider) {
            reportPrivacyNotice(narrowedNotice(path, st.st_mode & 07777, kPrivateFileMode));
        }
    } catch (...) {
        unlink(tmp.c_str());
        throw;
    }
}

} // namespace tarn
