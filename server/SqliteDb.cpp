#include "SqliteDb.h"

#include <sqlite3.h>

#include <stdexcept>
#include <utility>

namespace tallowdesk::server {

SqliteDb::SqliteDb(const std::string& path) {
    const int rc = sqlite3_open_v2(
        path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "Cannot open database " + path;
        if (m_db) {
            message += std::string(": ") + sqlite3_errmsg(m_db);
            sqlite3_close(m_db);
            m_db = nullptr;
        }
        throw std::runtime_error(message);
    }
    sqlite3_busy_timeout(m_db, 5000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    Exec("PRAGMA foreign_keys=ON");
}

SqliteDb::~SqliteDb() {
    if (m_db) sqlite3_close(m_db);
}

SqliteDb::SqliteDb(SqliteDb&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
    if (this != &other) {
        if (m_db) sqlite3_close(m_db);
        m_db = std::exchange(other.m_db, nullptr);
    }
    return *this;
}

void SqliteDb::Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("SQL failed: " + message);
    }
}

std::int64_t SqliteDb::Changes() const {
    return sqlite3_changes(m_db);
}

}  // namespace tallowdesk::server
