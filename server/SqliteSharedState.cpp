#include "SqliteSharedState.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "SqliteDb.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"
#include "Store.h"

namespace tallowdesk::server {

namespace {

// Each step once, in order; the number of steps done is kept in the
// database, so a newer program finds where an older one stopped.
constexpr const char* kMigrations[] = {
    "CREATE TABLE shared_state ("
    "  kind TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL,"
    "  grp TEXT NOT NULL DEFAULT '', expires INTEGER NOT NULL,"
    "  PRIMARY KEY (kind, key)) WITHOUT ROWID;"
    "CREATE INDEX shared_state_expiry ON shared_state (kind, expires);"
    "CREATE INDEX shared_state_group ON shared_state (kind, grp, expires);",
};

void Migrate(SqliteDb& db) {
    SqliteTransaction tx(db);
    db.Exec("CREATE TABLE IF NOT EXISTS shared_state_schema (version INTEGER NOT NULL)");
    std::int64_t version = 0;
    {
        SqliteStatement st(db, "SELECT version FROM shared_state_schema");
        if (st.Step()) {
            version = st.Int(0);
        } else {
            SqliteStatement insert(db, "INSERT INTO shared_state_schema (version) VALUES (0)");
            insert.Run();
        }
    }
    const auto known = static_cast<std::int64_t>(std::size(kMigrations));
    if (version > known) {
        throw std::runtime_error("The database was made by a newer version of the service");
    }
    for (; version < known; ++version) db.Exec(kMigrations[version]);
    SqliteStatement update(db, "UPDATE shared_state_schema SET version = ?1");
    update.Bind(1, version).Run();
    tx.Commit();
}

}  // namespace

SqliteSharedState::SqliteSharedState(const std::string& databasePath, Clock clock)
    : m_db(std::make_unique<SqliteDb>(databasePath, SqliteDb::Role::Transient)),
      m_clock(std::move(clock)) {
    if (!m_clock) m_clock = NowMillis;
    Migrate(*m_db);
}

SqliteSharedState::~SqliteSharedState() = default;

void SqliteSharedState::Put(std::string_view kind, std::string_view key, std::string_view value,
                            std::int64_t expiresAt, std::string_view group,
                            std::size_t keepAtMost) {
    std::lock_guard lock(m_mutex);
    const std::int64_t now = m_clock();
    SqliteTransaction tx(*m_db);
    {
        SqliteStatement drop(*m_db, "DELETE FROM shared_state WHERE kind = ?1 AND expires <= ?2");
        drop.Bind(1, kind).Bind(2, now).Run();
    }
    {
        // Room for the new item among the others of its kind.
        SqliteStatement trim(*m_db,
                             "DELETE FROM shared_state WHERE kind = ?1 AND key IN ("
                             "  SELECT key FROM shared_state WHERE kind = ?1 AND key <> ?2"
                             "  ORDER BY expires LIMIT max(0, (SELECT count(*) FROM shared_state"
                             "    WHERE kind = ?1 AND key <> ?2) - ?3 + 1))");
        const auto room = static_cast<std::int64_t>(
            std::min<std::size_t>(keepAtMost, std::numeric_limits<std::int64_t>::max()));
        trim.Bind(1, kind).Bind(2, key).Bind(3, room).Run();
    }
    SqliteStatement put(*m_db,
                        "INSERT OR REPLACE INTO shared_state (kind, key, value, grp, expires)"
                        " VALUES (?1, ?2, ?3, ?4, ?5)");
    put.Bind(1, kind).Bind(2, key).Bind(3, value).Bind(4, group).Bind(5, expiresAt).Run();
    tx.Commit();
}

bool SqliteSharedState::PutIfGroupHasRoom(std::string_view kind, std::string_view key,
                                          std::string_view value, std::int64_t expiresAt,
                                          std::string_view group, std::size_t maxInGroup) {
    std::lock_guard lock(m_mutex);
    const std::int64_t now = m_clock();
    // BEGIN IMMEDIATE: the count and the insert under one write lock of the file.
    SqliteTransaction tx(*m_db);
    {
        SqliteStatement drop(*m_db, "DELETE FROM shared_state WHERE kind = ?1 AND expires <= ?2");
        drop.Bind(1, kind).Bind(2, now).Run();
    }
    SqliteStatement count(*m_db, "SELECT count(*) FROM shared_state WHERE kind = ?1 AND grp = ?2");
    count.Bind(1, kind).Bind(2, group);
    if (count.Step() && static_cast<std::uint64_t>(count.Int(0)) >= maxInGroup) return false;
    SqliteStatement put(*m_db,
                        "INSERT OR REPLACE INTO shared_state (kind, key, value, grp, expires)"
                        " VALUES (?1, ?2, ?3, ?4, ?5)");
    put.Bind(1, kind).Bind(2, key).Bind(3, value).Bind(4, group).Bind(5, expiresAt).Run();
    tx.Commit();
    return true;
}

std::optional<std::string> SqliteSharedState::Get(std::string_view kind, std::string_view key) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "SELECT value FROM shared_state WHERE kind = ?1 AND key = ?2"
                       " AND expires > ?3");
    st.Bind(1, kind).Bind(2, key).Bind(3, m_clock());
    if (!st.Step()) return std::nullopt;
    return st.Text(0);
}

std::optional<std::string> SqliteSharedState::Take(std::string_view kind, std::string_view key) {
    std::lock_guard lock(m_mutex);
    // One statement, so the row is read and removed under one write lock.
    SqliteStatement st(*m_db,
                       "DELETE FROM shared_state WHERE kind = ?1 AND key = ?2"
                       " RETURNING value, expires");
    st.Bind(1, kind).Bind(2, key);
    std::optional<std::string> value;
    if (st.Step() && st.Int(1) > m_clock()) value = st.Text(0);
    while (st.Step()) {
    }
    return value;
}

std::int64_t SqliteSharedState::Increment(std::string_view kind, std::string_view key,
                                          std::int64_t expiresAt) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "INSERT INTO shared_state (kind, key, value, expires)"
                       " VALUES (?1, ?2, '1', ?3)"
                       " ON CONFLICT (kind, key) DO UPDATE SET"
                       "  value = CASE WHEN expires > ?4 THEN CAST(value AS INTEGER) + 1"
                       "          ELSE 1 END,"
                       "  expires = CASE WHEN expires > ?4 THEN expires ELSE excluded.expires END"
                       " RETURNING CAST(value AS INTEGER)");
    st.Bind(1, kind).Bind(2, key).Bind(3, expiresAt).Bind(4, m_clock());
    const std::int64_t count = st.Step() ? st.Int(0) : 0;
    while (st.Step()) {
    }
    return count;
}

std::size_t SqliteSharedState::CountGroup(std::string_view kind, std::string_view group) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "SELECT count(*) FROM shared_state WHERE kind = ?1 AND grp = ?2"
                       " AND expires > ?3");
    st.Bind(1, kind).Bind(2, group).Bind(3, m_clock());
    return st.Step() ? static_cast<std::size_t>(st.Int(0)) : 0;
}

}  // namespace tallowdesk::server
