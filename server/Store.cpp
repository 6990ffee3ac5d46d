#include "Store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "Crypto.h"
#include "PgStore.h"
#include "SqliteStore.h"

namespace tallowdesk::server {

bool IsPostgresDatabase(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0 ||
           database.find('=') != std::string::npos;
}

Store::Store(const std::string& dataDir, int passwordIterations, const std::string& database)
    : m_dataDir(dataDir) {
    if (database.empty()) {
        m_backend = std::make_unique<SqliteStore>(dataDir, passwordIterations);
    } else if (IsPostgresDatabase(database)) {
        m_backend = std::make_unique<PgStore>(dataDir, passwordIterations, database);
    } else {
        throw std::runtime_error(
            "The database must be a PostgreSQL address (postgresql://...) or a "
            "key=value connection string: " +
            database);
    }
}

Store::~Store() = default;

std::int64_t NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string NormalEmail(std::string email) {
    for (char& c : email) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return email;
}

std::string FormatTime(std::int64_t millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis % 1000));
    return buffer;
}

std::string ViewerEtag(std::string_view stored, bool starred, bool someFoldersHidden,
                       const std::vector<ParentRef>& shownFolders) {
    std::string etag(stored);
    if (!starred && !someFoldersHidden) return etag;
    std::string mark = starred ? ".s" : "";
    if (someFoldersHidden) {
        // Which folders are shown, in an order that does not follow titles.
        std::vector<std::string_view> ids;
        for (const auto& folder : shownFolders) ids.push_back(folder.id);
        std::sort(ids.begin(), ids.end());
        std::uint64_t hash = 1469598103934665603ull;
        for (const auto id : ids) {
            for (const unsigned char c : id) hash = (hash ^ c) * 1099511628211ull;
            hash = (hash ^ '\n') * 1099511628211ull;
        }
        char text[24];
        std::snprintf(text, sizeof text, ".p%016llx", static_cast<unsigned long long>(hash));
        mark += text;
    }
    // Inside the closing quote, so that it stays one entity tag.
    if (!etag.empty() && etag.back() == '"') {
        etag.insert(etag.size() - 1, mark);
    } else {
        etag += mark;
    }
    return etag;
}

NewCredentials MakeCredentials(const std::string& rawEmail, std::string_view password,
                               int iterations) {
    std::string email = NormalEmail(rawEmail);
    if (email.empty() || email.find('@') == std::string::npos) {
        throw std::runtime_error("Invalid e-mail address: " + email);
    }
    if (password.empty()) throw std::runtime_error("The password cannot be empty");
    std::vector<unsigned char> salt = RandomBytes(16);
    std::vector<unsigned char> hash = HashPassword(password, salt, iterations);
    return {std::move(email), std::move(salt), std::move(hash)};
}

}  // namespace tallowdesk::server
