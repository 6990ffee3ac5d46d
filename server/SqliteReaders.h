#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tallowdesk::server {

class SqliteDb;

// Connections that only read, for the store's read-only calls, so that
// readers run side by side (WAL gives each its own snapshot) instead of
// queuing behind one connection and the writer. A reader sees every
// transaction committed before it began. Thread-safe: Take hands each
// connection to one thread at a time; connections are opened when all are
// busy and at most kMaxIdle are kept between uses.
class SqliteReaders {
public:
    static constexpr std::size_t kMaxIdle = 8;

    explicit SqliteReaders(std::string path);
    ~SqliteReaders();
    SqliteReaders(const SqliteReaders&) = delete;
    SqliteReaders& operator=(const SqliteReaders&) = delete;

    // One connection, reading one snapshot (a read transaction) for the
    // lifetime of the lease; given back on destruction. Statements made on
    // it must end before the lease does.
    class Lease {
    public:
        Lease(SqliteReaders& owner, std::unique_ptr<SqliteDb> db);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        SqliteDb& operator*() const { return *m_db; }

    private:
        SqliteReaders& m_owner;
        std::unique_ptr<SqliteDb> m_db;
    };
    Lease Take();

    // Connections opened so far (tests of the pool).
    std::size_t OpenedCount() const;

private:
    void Give(std::unique_ptr<SqliteDb> db);

    std::string m_path;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<SqliteDb>> m_idle;
    std::size_t m_opened = 0;
};

}  // namespace tallowdesk::server
