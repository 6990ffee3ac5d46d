#include "SqliteStatement.h"

#include <sqlite3.h>

#include <stdexcept>
#include <utility>

#include "SqliteDb.h"

namespace tallowdesk::server {

namespace {
[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}
}  // namespace

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql)
    : m_owner(&db), m_db(db.Handle()), m_stmt(db.TakeStatement(sql)) {}

SqliteStatement::~SqliteStatement() {
    if (m_stmt) m_owner->ReturnStatement(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_owner(other.m_owner), m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        if (m_stmt) m_owner->ReturnStatement(m_stmt);
        m_owner = other.m_owner;
        m_db = other.m_db;
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
    if (sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        Fail(m_db, "Cannot bind text");
    }
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK) Fail(m_db, "Cannot bind integer");
    return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, const std::vector<unsigned char>& blob) {
    if (sqlite3_bind_blob(m_stmt, index, blob.data(), static_cast<int>(blob.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        Fail(m_db, "Cannot bind blob");
    }
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK) Fail(m_db, "Cannot bind null");
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(m_db, "SQL step failed");
}

void SqliteStatement::Run() {
    while (Step()) {
    }
}

void SqliteStatement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

std::optional<std::string> SqliteStatement::OptText(int column) const {
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL) return std::nullopt;
    return Text(column);
}

std::int64_t SqliteStatement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::vector<unsigned char> SqliteStatement::Blob(int column) const {
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (!data || size <= 0) return {};
    return std::vector<unsigned char>(data, data + size);
}

}  // namespace tallowdesk::server
