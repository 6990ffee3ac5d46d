#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "SharedState.h"

namespace tallowdesk::server {

class SqliteDb;

// SharedState in a table of the service's own SQLite database, through a
// connection of its own (WAL lets several processes on one local disk use
// the file at once). Creates or updates its table when opened. Thread-safe:
// one mutex around the connection; the clock is injectable for tests.
class SqliteSharedState : public SharedState {
public:
    using Clock = std::function<std::int64_t()>;  // Unix milliseconds
    explicit SqliteSharedState(const std::string& databasePath, Clock clock = {});
    ~SqliteSharedState() override;

    void Put(std::string_view kind, std::string_view key, std::string_view value,
             std::int64_t expiresAt, std::string_view group = {},
             std::size_t keepAtMost = 10000) override;
    bool PutIfGroupHasRoom(std::string_view kind, std::string_view key, std::string_view value,
                           std::int64_t expiresAt, std::string_view group,
                           std::size_t maxInGroup) override;
    std::optional<std::string> Get(std::string_view kind, std::string_view key) override;
    std::optional<std::string> Take(std::string_view kind, std::string_view key) override;
    std::int64_t Increment(std::string_view kind, std::string_view key,
                           std::int64_t expiresAt) override;
    std::size_t CountGroup(std::string_view kind, std::string_view group) override;

private:
    std::mutex m_mutex;
    std::unique_ptr<SqliteDb> m_db;
    Clock m_clock;
};

}  // namespace tallowdesk::server
