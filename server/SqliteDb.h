#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tallowdesk::server {

// One SQLite connection, opened in WAL mode with full sync so that whatever a
// committed transaction wrote survives a killed process. Keeps the statements
// it prepared for reuse, keyed by their SQL text, so that a request does not
// compile its SQL again. Not thread-safe: the owner serialises access.
// A Reader connection refuses to write (query_only) and leaves the journal
// mode to the writer that made the database. A Transient writer commits
// without waiting for the disk (synchronous=NORMAL): what it committed
// survives a killed process but may be lost with the machine's power. Only
// for facts that matter for minutes and that a client can ask for again
// (upload sessions, challenges, throttle counters).
class SqliteDb {
public:
    enum class Role { Writer, Reader, Transient };
    explicit SqliteDb(const std::string& path, Role role = Role::Writer);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;
    SqliteDb(SqliteDb&& other) noexcept;
    SqliteDb& operator=(SqliteDb&& other) noexcept;

    void Exec(const std::string& sql);
    std::int64_t Changes() const;
    sqlite3* Handle() const { return m_db; }

    // A prepared statement for `sql`: an idle one from the cache, or a new
    // one. Give it back with ReturnStatement; a statement taken twice at
    // once (nested use of the same SQL) is simply prepared twice.
    sqlite3_stmt* TakeStatement(std::string_view sql);
    // Resets the statement, drops its bindings and keeps it for the next
    // TakeStatement of the same SQL (finalises it when the cache is full).
    void ReturnStatement(sqlite3_stmt* statement);
    // Statements prepared so far and statements waiting in the cache.
    std::size_t PreparedCount() const { return m_prepared; }
    std::size_t IdleCount() const { return m_idleCount; }

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    void FinaliseIdle();

    sqlite3* m_db = nullptr;
    std::unordered_map<std::string, std::vector<sqlite3_stmt*>, TextHash, std::equal_to<>> m_idle;
    std::size_t m_idleCount = 0;
    std::size_t m_prepared = 0;
};

}  // namespace tallowdesk::server
