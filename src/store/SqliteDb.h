#pragma once

#include <string>

struct sqlite3;

namespace tarn {

// An open SQLite database, closed when the object goes. Every failure raises TarnError.
class SqliteDb {
public:
    // flags are SQLITE_OPEN_* values.
    SqliteDb(const std::string& path, int flags);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    void exec(const std::string& sql);
    sqlite3* handle() const { return m_db; }
    const std::string& path() const { return m_path; }
    // Raises TarnError with the database's last error message when rc is not an OK code.
    void check(int rc, const std::string& what) const;
    // Closes now and reports a failure to close (the destructor cannot).
    void close();

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
};

} // namespace tarn
