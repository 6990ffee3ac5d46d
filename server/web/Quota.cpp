#include "Quota.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "Store.h"

namespace tallowdesk::server::web {

namespace {
std::string Key(const std::string& email) {
    return "quota:" + NormalEmail(email);
}
}  // namespace

std::int64_t QuotaBytes(Store& store, const std::string& email) {
    const auto text = store.Meta(Key(email));
    if (!text) return kDefaultQuotaBytes;
    const auto bytes = ParseSize(*text);
    return bytes ? *bytes : kDefaultQuotaBytes;
}

void SetQuotaBytes(Store& store, const std::string& email, std::int64_t bytes) {
    if (!store.AccountExists(NormalEmail(email))) {
        throw std::runtime_error("No account " + email);
    }
    if (bytes <= 0) throw std::runtime_error("The storage limit must be more than 0 bytes");
    store.SetMeta(Key(email), std::to_string(bytes));
}

std::optional<std::string> QuotaProblem(Store& store, const std::string& email,
                                        std::uint64_t incoming) {
    const std::int64_t limit = QuotaBytes(store, email);
    const std::int64_t used = store.UsageBytes(NormalEmail(email));
    const std::int64_t free = std::max<std::int64_t>(0, limit - used);
    if (incoming <= static_cast<std::uint64_t>(free)) return std::nullopt;
    return "The file needs " +
           Megabytes(static_cast<std::int64_t>(
               std::min<std::uint64_t>(incoming, std::numeric_limits<std::int64_t>::max()))) +
           " MB, but only " + Megabytes(free) + " MB of your storage limit of " + Megabytes(limit) +
           " MB are free.";
}

std::optional<std::int64_t> ParseSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + digits, value);
    if (ec != std::errc() || ptr != text.data() + digits) return std::nullopt;
    std::string unit;
    for (char c : text.substr(digits))
        unit += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::int64_t factor = 1;
    if (unit.empty() || unit == "B") {
        factor = 1;
    } else if (unit == "K" || unit == "KB") {
        factor = 1024;
    } else if (unit == "M" || unit == "MB") {
        factor = 1024 * 1024;
    } else if (unit == "G" || unit == "GB") {
        factor = 1024LL * 1024 * 1024;
    } else if (unit == "T" || unit == "TB") {
        factor = 1024LL * 1024 * 1024 * 1024;
    } else {
        return std::nullopt;
    }
    if (value > std::numeric_limits<std::int64_t>::max() / factor) return std::nullopt;
    return value * factor;
}

std::string Megabytes(std::int64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace tallowdesk::server::web
