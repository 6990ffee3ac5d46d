#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallowdesk::server {
class Store;
}

namespace tallowdesk::server::web {

// The storage limit of an account: kept in the store's settings table so the
// storage page, the upload page and the command that raises it read and
// write the same number.
inline constexpr std::int64_t kDefaultQuotaBytes = 15LL * 1024 * 1024 * 1024;

std::int64_t QuotaBytes(Store& store, const std::string& email);
void SetQuotaBytes(Store& store, const std::string& email, std::int64_t bytes);
// Why `incoming` more bytes do not fit under the account's limit; nothing
// when they do.
std::optional<std::string> QuotaProblem(Store& store, const std::string& email,
                                        std::uint64_t incoming);
// "1073741824", "500MB", "15GB" (binary units: MB is 1024 * 1024 bytes);
// nothing for anything else.
std::optional<std::int64_t> ParseSize(const std::string& text);
// Megabytes with two decimals, as the upload page shows them.
std::string Megabytes(std::int64_t bytes);

}  // namespace tallowdesk::server::web
