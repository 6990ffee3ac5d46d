#pragma once

namespace tallowdesk::server {

class SqliteDb;

// Commits on Commit(), rolls back if destroyed before that.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDb& db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void Commit();

private:
    SqliteDb& m_db;
    bool m_done = false;
};

}  // namespace tallowdesk::server
