#include "store/SqliteDb.h"

#include "core/TarnError.h"

#include <sqlite3.h>

namespace tarn {

SqliteDb::SqliteDb(const std::string& path, int flags) : m_path(path) {
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw TarnError("Cannot open " + path + ": " + msg);
    }
    sqlite3_extended_result_codes(m_db, 1);
}

SqliteDb::~SqliteDb() {
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
    }
}

void SqliteDb::check(int rc, const std::string& what) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        throw TarnError(what + " (" + m_path + "): " + sqlite3_errmsg(m_db));
    }
}

void SqliteDb::exec(const std::string& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const std::string msg = err != nullptr ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        throw TarnError("SQL failed (" + m_path + "): " + msg);
    }
}

void SqliteDb::close() {
    if (m_db == nullptr) {
        return;
    }
    const int rc = sqlite3_close(m_db);
    if (rc != SQLITE_OK) {
        check(rc, "Cannot close");
    }
    m_db = nullptr;
}

} // namespace tarn
