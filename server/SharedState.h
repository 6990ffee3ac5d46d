#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallowdesk::server {

// Short-lived facts every service process on one data folder must agree on:
// open upload sessions, CAPTCHA challenges, sign-in form tokens, failure
// counters per source address. Each item has a kind ("upload", "captcha",
// ...), a key unique within its kind, a value, an optional group (the owner
// of an upload session, say) and a moment (Unix milliseconds) after which it
// is gone. Implementations keep them where every process sees them (the
// database) and are thread-safe; every call that changes something is
// committed before it returns.
class SharedState {
public:
    virtual ~SharedState() = default;

    // Stores or replaces an item. When its kind already holds `keepAtMost`
    // live items, those closest to expiry make room, so that nobody can grow
    // the table without bound by asking for challenges.
    virtual void Put(std::string_view kind, std::string_view key, std::string_view value,
                     std::int64_t expiresAt, std::string_view group = {},
                     std::size_t keepAtMost = 10000) = 0;
    // Stores a new item unless its group already holds `maxInGroup` live
    // items of the kind; counted and stored at once, so two processes cannot
    // both take the last place. Returns whether it was stored.
    virtual bool PutIfGroupHasRoom(std::string_view kind, std::string_view key,
                                   std::string_view value, std::int64_t expiresAt,
                                   std::string_view group, std::size_t maxInGroup) = 0;
    // The value of a live item.
    virtual std::optional<std::string> Get(std::string_view kind, std::string_view key) = 0;
    // Removes a live item and gives its value: of two processes taking the
    // same item at once, exactly one gets it.
    virtual std::optional<std::string> Take(std::string_view kind, std::string_view key) = 0;
    // Adds one to a counter and returns the new count; a counter that is
    // absent or expired starts again at 1 and lives until `expiresAt`.
    virtual std::int64_t Increment(std::string_view kind, std::string_view key,
                                   std::int64_t expiresAt) = 0;
    // Live items of a kind in one group.
    virtual std::size_t CountGroup(std::string_view kind, std::string_view group) = 0;
};

// The shared state beside the store that `database` selects (as Store does):
// service.db in the data folder, or the PostgreSQL database. Items expire by
// `clock` (Unix milliseconds), the system's when unset.
std::unique_ptr<SharedState> OpenSharedState(const std::string& dataDir,
                                             const std::string& database,
                                             std::function<std::int64_t()> clock = {});

}  // namespace tallowdesk::server
