#include "PgSharedState.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "Store.h"

namespace tallowdesk::server {

namespace {

// Each step once, in order; the number of steps done is kept in the
// database, so a newer program finds where an older one stopped. Values
// are bytes: a challenge holds the address typed into a form, which may be
// any bytes, as in the SQLite table.
const char* const kMigrations[] = {
    "CREATE TABLE shared_state ("
    "  kind TEXT NOT NULL, key TEXT NOT NULL, value BYTEA NOT NULL,"
    "  grp TEXT NOT NULL DEFAULT '', expires BIGINT NOT NULL,"
    "  PRIMARY KEY (kind, key));"
    "CREATE INDEX shared_state_expiry ON shared_state (kind, expires);"
    "CREATE INDEX shared_state_group ON shared_state (kind, grp, expires);",
};

std::vector<unsigned char> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::string Text(const std::vector<unsigned char>& bytes) {
    return {bytes.begin(), bytes.end()};
}

void DropExpired(PgConnection& db, std::string_view kind, std::int64_t now) {
    PgQuery drop(db, "DELETE FROM shared_state WHERE kind = ?1 AND expires <= ?2::bigint");
    drop.Bind(1, kind).Bind(2, now).Run();
}

void Upsert(PgConnection& db, std::string_view kind, std::string_view key, std::string_view value,
            std::string_view group, std::int64_t expiresAt) {
    PgQuery put(db,
                "INSERT INTO shared_state (kind, key, value, grp, expires)"
                " VALUES (?1, ?2, ?3, ?4, ?5::bigint)"
                " ON CONFLICT (kind, key) DO UPDATE SET value = excluded.value,"
                " grp = excluded.grp, expires = excluded.expires");
    put.Bind(1, kind).Bind(2, key).BindBlob(3, Bytes(value)).Bind(4, group).Bind(5, expiresAt);
    put.Run();
}

}  // namespace

// Commits return before PostgreSQL has flushed its log: these facts
// matter for minutes and a client can ask for them again, and the
// store's own commits (synchronous) flush the log with everything
// written before them. A crash of the database server may lose the
// last few; it never leaves them half written.
PgSharedState::PgSharedState(const std::string& conninfo, Clock clock)
    : m_pool(conninfo, "SET synchronous_commit = off"), m_clock(std::move(clock)) {
    if (!m_clock) m_clock = NowMillis;
    Migrate();
}

PgSharedState::~PgSharedState() = default;

// Under the shared state's lock, so processes starting at once migrate once.
void PgSharedState::Migrate() {
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::SharedState);
    (*db).Exec("CREATE TABLE IF NOT EXISTS shared_state_schema (version INTEGER NOT NULL)");
    std::int64_t version = 0;
    {
        PgQuery st(*db, "SELECT version FROM shared_state_schema");
        if (st.Step()) {
            version = st.Int(0);
        } else {
            PgQuery insert(*db, "INSERT INTO shared_state_schema (version) VALUES (0)");
            insert.Run();
        }
    }
    const auto known = static_cast<std::int64_t>(std::size(kMigrations));
    if (version > known) {
        throw std::runtime_error("The database was made by a newer version of the service");
    }
    for (; version < known; ++version) (*db).Exec(kMigrations[version]);
    PgQuery update(*db, "UPDATE shared_state_schema SET version = ?1::integer");
    update.Bind(1, version).Run();
    tx.Commit();
}

void PgSharedState::Put(std::string_view kind, std::string_view key, std::string_view value,
                        std::int64_t expiresAt, std::string_view group, std::size_t keepAtMost) {
    const std::int64_t now = m_clock();
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::SharedState);
    DropExpired(*db, kind, now);
    {
        // Room for the new item among the others of its kind.
        PgQuery trim(*db,
                     "DELETE FROM shared_state WHERE kind = ?1 AND key IN ("
                     "  SELECT key FROM shared_state WHERE kind = ?1 AND key <> ?2"
                     "  ORDER BY expires LIMIT greatest(0, (SELECT count(*) FROM shared_state"
                     "    WHERE kind = ?1 AND key <> ?2) - ?3::bigint + 1))");
        const auto room = static_cast<std::int64_t>(
            std::min<std::size_t>(keepAtMost, std::numeric_limits<std::int64_t>::max()));
        trim.Bind(1, kind).Bind(2, key).Bind(3, room).Run();
    }
    Upsert(*db, kind, key, value, group, expiresAt);
    tx.Commit();
}

bool PgSharedState::PutIfGroupHasRoom(std::string_view kind, std::string_view key,
                                      std::string_view value, std::int64_t expiresAt,
                                      std::string_view group, std::size_t maxInGroup) {
    const std::int64_t now = m_clock();
    const auto db = m_pool.Take();
    // The count and the insert under one lock, across processes.
    PgTransaction tx(*db, PgTransaction::Kind::SharedState);
    DropExpired(*db, kind, now);
    PgQuery count(*db, "SELECT count(*) FROM shared_state WHERE kind = ?1 AND grp = ?2");
    count.Bind(1, kind).Bind(2, group);
    if (count.Step() && static_cast<std::uint64_t>(count.Int(0)) >= maxInGroup) return false;
    Upsert(*db, kind, key, value, group, expiresAt);
    tx.Commit();
    return true;
}

std::optional<std::string> PgSharedState::Get(std::string_view kind, std::string_view key) {
    const auto db = m_pool.Take();
    PgQuery st(*db,
               "SELECT value FROM shared_state WHERE kind = ?1 AND key = ?2"
               " AND expires > ?3::bigint");
    st.Bind(1, kind).Bind(2, key).Bind(3, m_clock());
    if (!st.Step()) return std::nullopt;
    return Text(st.Blob(0));
}

std::optional<std::string> PgSharedState::Take(std::string_view kind, std::string_view key) {
    // A key a text column cannot hold (any bytes a client sent) names no
    // item; there is nothing to take.
    if (!PgQuery::Storable(kind) || !PgQuery::Storable(key)) return std::nullopt;
    const auto db = m_pool.Take();
    // One statement: of two takers at once, the second finds the row gone.
    PgQuery st(*db,
               "DELETE FROM shared_state WHERE kind = ?1 AND key = ?2"
               " RETURNING value, expires");
    st.Bind(1, kind).Bind(2, key);
    if (!st.Step() || st.Int(1) <= m_clock()) return std::nullopt;
    return Text(st.Blob(0));
}

std::int64_t PgSharedState::Increment(std::string_view kind, std::string_view key,
                                      std::int64_t expiresAt) {
    const auto db = m_pool.Take();
    // One statement; the row lock of the upsert orders increments from
    // several processes.
    PgQuery st(*db,
               "INSERT INTO shared_state AS s (kind, key, value, expires)"
               " VALUES (?1, ?2, '\\x31'::bytea, ?3::bigint)"
               " ON CONFLICT (kind, key) DO UPDATE SET"
               "  value = CASE WHEN s.expires > ?4::bigint"
               "          THEN convert_to((convert_from(s.value, 'UTF8')::bigint + 1)::text,"
               "                          'UTF8')"
               "          ELSE '\\x31'::bytea END,"
               "  expires = CASE WHEN s.expires > ?4::bigint THEN s.expires"
               "            ELSE excluded.expires END"
               " RETURNING convert_from(value, 'UTF8')::bigint");
    st.Bind(1, kind).Bind(2, key).Bind(3, expiresAt).Bind(4, m_clock());
    return st.Step() ? st.Int(0) : 0;
}

std::size_t PgSharedState::CountGroup(std::string_view kind, std::string_view group) {
    const auto db = m_pool.Take();
    PgQuery st(*db,
               "SELECT count(*) FROM shared_state WHERE kind = ?1 AND grp = ?2"
               " AND expires > ?3::bigint");
    st.Bind(1, kind).Bind(2, group).Bind(3, m_clock());
    return st.Step() ? static_cast<std::size_t>(st.Int(0)) : 0;
}

}  // namespace tallowdesk::server
