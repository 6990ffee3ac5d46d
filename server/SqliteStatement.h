#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tallowdesk::server {

class SqliteDb;

// A prepared statement taken from the connection's cache for as long as it
// lives and given back reset; Bind* take 1-based indexes, columns are
// 0-based. Must not outlive the SqliteDb it came from.
class SqliteStatement {
public:
    SqliteStatement(SqliteDb& db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;

    SqliteStatement& Bind(int index, std::string_view text);
    SqliteStatement& Bind(int index, std::int64_t value);
    SqliteStatement& BindBlob(int index, const std::vector<unsigned char>& blob);
    SqliteStatement& BindNull(int index);

    // True while a row is available; false once the statement is done.
    bool Step();
    void Run();  // steps to completion
    void Reset();

    std::string Text(int column) const;
    std::optional<std::string> OptText(int column) const;
    std::int64_t Int(int column) const;
    std::vector<unsigned char> Blob(int column) const;

private:
    SqliteDb* m_owner = nullptr;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace tallowdesk::server
