#include "SqliteReaders.h"

#include <utility>

#include "SqliteDb.h"
#include "SqliteStatement.h"

namespace tallowdesk::server {

SqliteReaders::SqliteReaders(std::string path) : m_path(std::move(path)) {}

SqliteReaders::~SqliteReaders() = default;

// Everything read through one lease comes from one snapshot: an entry and
// its folders, a page and the folders of its entries, never half of a
// change committed in between.
SqliteReaders::Lease::Lease(SqliteReaders& owner, std::unique_ptr<SqliteDb> db)
    : m_owner(owner), m_db(std::move(db)) {
    SqliteStatement(*m_db, "BEGIN").Run();
}

SqliteReaders::Lease::~Lease() {
    try {
        SqliteStatement(*m_db, "COMMIT").Run();
    } catch (...) {
        // A read transaction that cannot end would pin its snapshot: close.
        m_db.reset();
    }
    m_owner.Give(std::move(m_db));
}

SqliteReaders::Lease SqliteReaders::Take() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<SqliteDb> db = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(*this, std::move(db));
        }
        ++m_opened;
    }
    // Opened outside the lock: opening reads the schema from disk.
    return Lease(*this, std::make_unique<SqliteDb>(m_path, SqliteDb::Role::Reader));
}

void SqliteReaders::Give(std::unique_ptr<SqliteDb> db) {
    if (!db) return;
    std::lock_guard lock(m_mutex);
    // Called from Lease's destructor: a connection that cannot be kept is
    // simply closed.
    if (m_idle.size() < kMaxIdle) {
        try {
            m_idle.push_back(std::move(db));
        } catch (...) {
        }
    }
}

std::size_t SqliteReaders::OpenedCount() const {
    std::lock_guard lock(m_mutex);
    return m_opened;
}

}  // namespace tallowdesk::server
