#include "store/SqliteStatement.h"

#include "store/SqliteDb.h"

#include <sqlite3.h>

namespace tarn {

SqliteStatement::SqliteStatement(SqliteDb& db, const std::string& sql) : m_db(db) {
    m_db.check(sqlite3_prepare_v2(db.handle(), sql.c_str(), static_cast<int>(sql.size()), &m_stmt,
                                  nullptr),
               "Cannot prepare");
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_stmt);
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    m_db.check(rc, "Statement failed");
    return false;
}

void SqliteStatement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void SqliteStatement::bindNull(int index) {
    m_db.check(sqlite3_bind_null(m_stmt, index), "Bind");
}

void SqliteStatement::bindInt64(int index, long long value) {
    m_db.check(sqlite3_bind_int64(m_stmt, index, value), "Bind");
}

void SqliteStatement::bindDouble(int index, double value) {
    m_db.check(sqlite3_bind_double(m_stmt, index, value), "Bind");
}

void SqliteStatement::bindText(int index, const std::string& value) {
    // The text must live until the statement steps; callers bind from records that do.
    m_db.check(
        sqlite3_bind_text64(m_stmt, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8),
        "Bind");
}

int SqliteStatement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

int SqliteStatement::columnType(int column) const {
    return sqlite3_column_type(m_stmt, column);
}

long long SqliteStatement::columnInt64(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::columnDouble(int column) const {
    return sqlite3_column_double(m_stmt, column);
}

std::string SqliteStatement::columnText(int column) const {
    const void* p = sqlite3_column_blob(m_stmt, column);
    const int n = sqlite3_column_bytes(m_stmt, column);
    return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
}

} // namespace tarn
