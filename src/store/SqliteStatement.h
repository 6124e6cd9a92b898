#pragma once

#include <string>

struct sqlite3_stmt;

namespace tarn {

class SqliteDb;

// A prepared statement of a SqliteDb, finalized when the object goes.
class SqliteStatement {
public:
    SqliteStatement(SqliteDb& db, const std::string& sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // True when a row is ready, false when the statement has finished.
    bool step();
    void reset();

    void bindNull(int index);
    void bindInt64(int index, long long value);
    void bindDouble(int index, double value);
    void bindText(int index, const std::string& value);

    int columnCount() const;
    int columnType(int column) const; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, ...
    long long columnInt64(int column) const;
    double columnDouble(int column) const;
    std::string columnText(int column) const; // bytes as stored, text or blob

private:
    SqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace tarn
