#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace tallowdesk::server {

// One PostgreSQL connection (libpq). Not thread-safe: PgPool hands it to one
// thread at a time.
class PgConnection {
public:
    explicit PgConnection(const std::string& conninfo);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one or more statements without parameters; throws on an error.
    void Exec(const std::string& sql);
    bool Healthy() const;
    pg_conn* Handle() const { return m_conn; }

private:
    pg_conn* m_conn = nullptr;
};

// One statement with its parameters, written with SQLite's ?N placeholders
// so that both stores read alike (turned into $N here). Runs on the first
// Step or Run; values are read from the current row. Parameters travel as
// text; blobs as bytea in hex. Text that is not UTF-8 (or holds a NUL)
// finds no rows in a query and is refused (std::invalid_argument) in a change.
class PgQuery {
public:
    PgQuery(PgConnection& db, std::string_view sql);
    ~PgQuery();
    PgQuery(const PgQuery&) = delete;
    PgQuery& operator=(const PgQuery&) = delete;

    PgQuery& Bind(int index, std::string_view text);
    PgQuery& Bind(int index, std::int64_t value);
    PgQuery& BindBlob(int index, const std::vector<unsigned char>& blob);
    // Runs a statement without rows; throws on an error.
    void Run();
    // Moves to the next row; false after the last.
    bool Step();
    // Rows the statement changed.
    std::int64_t Changes();

    std::string Text(int column) const;
    std::optional<std::string> OptText(int column) const;
    // Integers, and booleans as 1 and 0.
    std::int64_t Int(int column) const;
    std::vector<unsigned char> Blob(int column) const;

    // What a text column can hold: UTF-8 without NUL.
    static bool Storable(std::string_view text);

private:
    void Execute();

    PgConnection& m_db;
    std::string m_sql;
    std::map<int, std::string> m_params;
    pg_result* m_result = nullptr;
    int m_row = -1;
    bool m_unstorable = false;  // a text parameter PostgreSQL cannot hold
    bool m_empty = false;       // a lookup of such a value: no rows
};

// BEGIN on construction, ROLLBACK when destroyed before Commit(). A writing
// transaction first takes the store's write lock, so that changes happen
// one at a time across every process that shares the database, as SQLite's
// single writer does: checks made inside the transaction (folders still
// there, cycles, quota) still hold at its commit. The shared state's
// changes take a lock of their own, so sign-ins do not wait for the store.
class PgTransaction {
public:
    enum class Kind { Write, Read, SharedState };
    explicit PgTransaction(PgConnection& db, Kind kind = Kind::Write);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void Commit();

private:
    PgConnection& m_db;
    bool m_done = false;
};

// Connections to one database, opened as needed; at most kMaxIdle are kept
// between uses, and one that broke is dropped instead of kept.
class PgPool {
public:
    static constexpr std::size_t kMaxIdle = 8;

    // `setup` (a SET statement, say) runs once on each new connection.
    explicit PgPool(std::string conninfo, std::string setup = {});
    ~PgPool();
    PgPool(const PgPool&) = delete;
    PgPool& operator=(const PgPool&) = delete;

    class Lease {
    public:
        Lease(PgPool& owner, std::unique_ptr<PgConnection> db);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        PgConnection& operator*() const { return *m_db; }

    private:
        PgPool& m_owner;
        std::unique_ptr<PgConnection> m_db;
    };
    Lease Take();

private:
    void Give(std::unique_ptr<PgConnection> db);

    std::string m_conninfo;
    std::string m_setup;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
};

}  // namespace tallowdesk::server
