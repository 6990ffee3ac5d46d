#include "SharedState.h"

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "PgSharedState.h"
#include "SqliteSharedState.h"
#include "Store.h"

namespace tallowdesk::server {

std::unique_ptr<SharedState> OpenSharedState(const std::string& dataDir,
                                             const std::string& database,
                                             std::function<std::int64_t()> clock) {
    if (database.empty()) {
        return std::make_unique<SqliteSharedState>(
            (std::filesystem::path(dataDir) / "service.db").string(), std::move(clock));
    }
    if (IsPostgresDatabase(database)) {
        return std::make_unique<PgSharedState>(database, std::move(clock));
    }
    throw std::runtime_error(
        "The database must be a PostgreSQL address (postgresql://...) or a "
        "key=value connection string: " +
        database);
}

}  // namespace tallowdesk::server
