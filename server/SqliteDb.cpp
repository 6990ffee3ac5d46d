#include "SqliteDb.h"

#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tallowdesk::server {

namespace {
// Idle statements kept at most. The service's SQL texts are a few dozen
// fixed ones plus the shapes of the listing queries; a flood of unusual
// searches must not make the cache grow without end.
constexpr std::size_t kMaxIdleStatements = 256;

// SQLite's own wait for a lock another connection holds sleeps 1, 2, 5,
// 10 ms... while a write transaction here lasts well under a millisecond,
// so a writer that finds the lock taken slept far longer than it had to.
// Short naps instead, still giving up after about five seconds.
int WaitForLock(void*, int attempt) {
    constexpr int kAttempts = 5200;
    if (attempt >= kAttempts) return 0;
    const auto nap =
        attempt < 4 ? std::chrono::microseconds(50 << attempt) : std::chrono::microseconds(1000);
    std::this_thread::sleep_for(nap);
    return 1;
}

// SQLite's memory statistics count every allocation under one process-wide
// mutex, so the I/O threads, each reading through its own connection, queue
// on it for every row they step through. Nothing here reads the statistics.
// Has to happen before SQLite's first use; a later call is refused and
// changes nothing, which is harmless.
void ConfigureSqliteOnce() {
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}
}  // namespace

SqliteDb::SqliteDb(const std::string& path, Role role) {
    ConfigureSqliteOnce();
    // No mutex of SQLite's own per connection: one connection is only ever
    // used by one thread at a time (the owner serialises, see the header),
    // and taking it on every column read of every row costs without guarding
    // anything.
    const int rc =
        sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = "Cannot open database " + path;
        if (m_db) {
            message += std::string(": ") + sqlite3_errmsg(m_db);
            sqlite3_close(m_db);
            m_db = nullptr;
        }
        throw std::runtime_error(message);
    }
    sqlite3_busy_handler(m_db, WaitForLock, nullptr);
    if (role == Role::Reader) {
        Exec("PRAGMA query_only=1");
        Exec("PRAGMA foreign_keys=ON");
        return;
    }
    Exec("PRAGMA journal_mode=WAL");
    // In WAL mode NORMAL still keeps the database whole after a crash; a
    // later FULL commit of the store syncs the log and with it every
    // transient change written before.
    Exec(role == Role::Transient ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL");
    Exec("PRAGMA foreign_keys=ON");
}

SqliteDb::~SqliteDb() {
    FinaliseIdle();
    if (m_db) sqlite3_close(m_db);
}

SqliteDb::SqliteDb(SqliteDb&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)),
      m_idle(std::move(other.m_idle)),
      m_idleCount(std::exchange(other.m_idleCount, 0)),
      m_prepared(std::exchange(other.m_prepared, 0)) {
    other.m_idle.clear();
}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
    if (this != &other) {
        FinaliseIdle();
        if (m_db) sqlite3_close(m_db);
        m_db = std::exchange(other.m_db, nullptr);
        m_idle = std::move(other.m_idle);
        other.m_idle.clear();
        m_idleCount = std::exchange(other.m_idleCount, 0);
        m_prepared = std::exchange(other.m_prepared, 0);
    }
    return *this;
}

void SqliteDb::FinaliseIdle() {
    for (auto& [sql, statements] : m_idle) {
        for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
    }
    m_idle.clear();
    m_idleCount = 0;
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

sqlite3_stmt* SqliteDb::TakeStatement(std::string_view sql) {
    if (const auto it = m_idle.find(sql); it != m_idle.end() && !it->second.empty()) {
        sqlite3_stmt* statement = it->second.back();
        it->second.pop_back();
        --m_idleCount;
        return statement;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        throw std::runtime_error(std::string("Cannot prepare statement: ") +
                                 (m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    }
    ++m_prepared;
    return statement;
}

void SqliteDb::ReturnStatement(sqlite3_stmt* statement) {
    if (!statement) return;
    // A reset also ends the read the statement may still hold open, so the
    // cache never keeps an old snapshot of the database alive.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    const char* text = sqlite3_sql(statement);
    if (!text) {
        sqlite3_finalize(statement);
        return;
    }
    // Full: start over rather than pick victims; the common statements
    // come back with their next use.
    if (m_idleCount >= kMaxIdleStatements || m_idle.size() >= 2 * kMaxIdleStatements) {
        FinaliseIdle();
    }
    const std::string_view sql(text);
    auto it = m_idle.find(sql);
    if (it == m_idle.end())
        it = m_idle.emplace(std::string(sql), std::vector<sqlite3_stmt*>{}).first;
    it->second.push_back(statement);
    ++m_idleCount;
}

}  // namespace tallowdesk::server
