#include "SqliteTransaction.h"

#include "SqliteDb.h"

namespace tallowdesk::server {

SqliteTransaction::SqliteTransaction(SqliteDb& db) : m_db(db) {
    m_db.Exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
    if (!m_done) {
        try {
            m_db.Exec("ROLLBACK");
        } catch (...) {
            // A failed rollback leaves SQLite to roll back on the next open.
        }
    }
}

void SqliteTransaction::Commit() {
    m_db.Exec("COMMIT");
    m_done = true;
}

}  // namespace tallowdesk::server
