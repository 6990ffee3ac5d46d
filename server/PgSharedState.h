#pragma once

#include <functional>
#include <string>

#include "PgDb.h"
#include "SharedState.h"

namespace tallowdesk::server {

// SharedState in a table of the PostgreSQL database the store uses (the
// first schema of the connection's search_path), so every service process
// on that database sees the same items. Creates or updates its table when
// opened. Changes that read before they write take a lock of their own
// across processes; the clock is injectable for tests.
class PgSharedState : public SharedState {
public:
    using Clock = std::function<std::int64_t()>;  // Unix milliseconds
    explicit PgSharedState(const std::string& conninfo, Clock clock = {});
    ~PgSharedState() override;

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
    void Migrate();

    PgPool m_pool;
    Clock m_clock;
};

}  // namespace tallowdesk::server
