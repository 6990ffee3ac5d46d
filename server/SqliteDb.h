#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace tallowdesk::server {

// One SQLite connection, opened in WAL mode with full sync so that whatever a
// committed transaction wrote survives a killed process. Not thread-safe: the
// owner serialises access.
class SqliteDb {
public:
    explicit SqliteDb(const std::string& path);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;
    SqliteDb(SqliteDb&& other) noexcept;
    SqliteDb& operator=(SqliteDb&& other) noexcept;

    void Exec(const std::string& sql);
    std::int64_t Changes() const;
    sqlite3* Handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace tallowdesk::server
