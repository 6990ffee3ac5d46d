// feed_page_bench: the cost of building feed pages inside the service, without
// the network: a page of a 10-entry folder (the everyday listing) and the
// first and last pages of a large folder reached through the "next" links.
// Prints microseconds per page; under callgrind it collects only the pages
// named by --callgrind (first, last or small), so the instruction counts of
// one page can be compared.
#include <stdlib.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "FeedHandler.h"
#include "HttpMessage.h"
#include "SignInHandler.h"
#include "SqliteDb.h"
#include "SqliteStatement.h"
#include "Store.h"

namespace {

namespace fs = std::filesystem;
using namespace tallowdesk::server;
using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "bench@example.test";
constexpr const char* kFeedPath = "/feeds/default/private/full/";

struct Options {
    long entries = 100000;
    long pageSize = 100;
    long rounds = 200;
    std::string callgrind;  // first, last, small or empty
    bool walk = true;       // off: the last page by its start-index
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--entries") {
            o.entries = std::atol(value.c_str());
        } else if (name == "--page-size") {
            o.pageSize = std::atol(value.c_str());
        } else if (name == "--rounds") {
            o.rounds = std::atol(value.c_str());
        } else if (name == "--walk") {
            o.walk = value != "0";
        } else if (name == "--callgrind") {
            o.callgrind = value;
        } else {
            throw std::runtime_error("unknown option " + name);
        }
    }
    return o;
}

// Entries straight into the database in one transaction: the service's own
// path commits (and syncs) each one, which would take minutes for 100,000.
// Every fourth entry shares its edit time with its neighbours.
void BulkInsert(const fs::path& dataDir, const std::string& folderId, const std::string& prefix,
                long count, std::int64_t base) {
    SqliteDb db((dataDir / "service.db").string());
    db.Exec("BEGIN");
    SqliteStatement entry(db,
                          "INSERT INTO entries(id, kind, title, owner, modified_by, etag, "
                          "published, updated, edited) VALUES(?1, 'document', ?2, ?3, ?3, "
                          "'\"etag-' || ?1 || '\"', ?4, ?4, ?4)");
    SqliteStatement parent(db, "INSERT INTO parents(entry, parent) VALUES(?1, ?2)");
    SqliteStatement acl(db,
                        "INSERT INTO acl(entry, scope_type, scope, role) "
                        "VALUES(?1, 'user', ?2, 'owner')");
    for (long i = 0; i < count; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%s%08ld", prefix.c_str(), i);
        const std::int64_t time = base + i / 4;
        entry.Bind(1, id).Bind(2, "Quarterly report & notes <" + std::to_string(i) + ">");
        entry.Bind(3, kUser).Bind(4, time).Run();
        entry.Reset();
        parent.Bind(1, id).Bind(2, folderId).Run();
        parent.Reset();
        acl.Bind(1, id).Bind(2, kUser).Run();
        acl.Reset();
    }
    db.Exec("COMMIT");
}

HttpRequest FeedRequest(const std::string& target, const std::string& token) {
    HttpRequest r;
    r.method = "GET";
    r.target = target;
    r.secure = true;
    r.headers = {{"Host", "localhost:8443"},
                 {"Authorization", "GoogleLogin auth=" + token},
                 {"GData-Version", "3.0"}};
    return r;
}

// The target (path and query) of the page's "next" link; empty when none.
std::string NextTarget(const std::string& body) {
    const auto rel = body.find("<link rel='next'");
    if (rel == std::string::npos) return {};
    const auto href = body.find("href='", rel);
    const auto end = body.find('\'', href + 6);
    const std::string url = body.substr(href + 6, end - href - 6);
    // Drop the origin and undo the XML escaping of '&'.
    std::string target;
    for (std::size_t i = url.find('/', url.find("://") + 3); i < url.size(); ++i) {
        target += url[i];
        if (url.compare(i, 5, "&amp;") == 0) i += 4;
    }
    return target;
}

double MicrosPerPage(FeedHandler& feeds, const HttpRequest& request, long rounds, bool collect,
                     std::size_t& bytes) {
    if (collect) {
        CALLGRIND_ZERO_STATS;
        CALLGRIND_START_INSTRUMENTATION;
    }
    const auto start = Clock::now();
    for (long i = 0; i < rounds; ++i) {
        const HttpResponse r = feeds.DocumentList(request);
        if (r.status != 200) throw std::runtime_error("status " + std::to_string(r.status));
        bytes = r.body.size();
    }
    const double micros =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    if (collect) {
        CALLGRIND_STOP_INSTRUMENTATION;
        CALLGRIND_DUMP_STATS_AT("pages");
    }
    return micros;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        const Options o = ParseOptions(argc, argv);
        char pattern[] = "/tmp/feed-bench-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
        const fs::path dir = pattern;
        struct Cleanup {
            fs::path path;
            ~Cleanup() {
                std::error_code ignored;
                fs::remove_all(path, ignored);
            }
        } cleanup{dir};

        std::string bigFolder, smallFolder, token;
        {
            Store store(dir.string(), 1000);
            store.AddAccount(kUser, "secret", "Bench");
            NewEntry folder;
            folder.kind = "folder";
            folder.title = "Large";
            bigFolder = store.Create(kUser, folder).id;
            folder.title = "Small";
            smallFolder = store.Create(kUser, folder).id;
        }
        const auto seedStart = Clock::now();
        BulkInsert(dir, bigFolder, "big", o.entries, 1700000000000);
        BulkInsert(dir, smallFolder, "small", 10, 1700000000000);
        std::printf("seeded %ld entries in %.1f s\n", o.entries,
                    std::chrono::duration<double>(Clock::now() - seedStart).count());

        Store store(dir.string(), 1000);
        token = store.IssueToken(kUser, "writely");
        SignInHandler signIn(store);
        FeedHandler feeds(store, signIn, static_cast<std::size_t>(o.pageSize));

        const std::string small = std::string(kFeedPath) + "folder%3A" + smallFolder + "/contents";
        const std::string first = std::string(kFeedPath) + "folder%3A" + bigFolder + "/contents";

        std::size_t bytes = 0;
        const double smallMicros = MicrosPerPage(feeds, FeedRequest(small, token), o.rounds * 10,
                                                 o.callgrind == "small", bytes);
        std::printf("10-entry folder: %.1f us per page (%.0f pages/s), %zu bytes\n", smallMicros,
                    1e6 / smallMicros, bytes);

        const double firstMicros = MicrosPerPage(feeds, FeedRequest(first, token), o.rounds,
                                                 o.callgrind == "first", bytes);
        std::printf("large folder, first page: %.1f us per page, %zu bytes\n", firstMicros, bytes);

        // Walk the whole folder through the next links, as the client does,
        // or jump to the last page by its index.
        std::string target = o.walk ? first : std::string();
        std::string last =
            first + "?start-index=" + std::to_string((o.entries - 1) / o.pageSize * o.pageSize + 1);
        long pages = 0, seen = 0;
        const auto walkStart = Clock::now();
        while (!target.empty()) {
            const HttpResponse r = feeds.DocumentList(FeedRequest(target, token));
            if (r.status != 200)
                throw std::runtime_error("walk: status " + std::to_string(r.status));
            for (std::size_t at = 0; (at = r.body.find("<entry ", at)) != std::string::npos; ++at) {
                ++seen;
            }
            ++pages;
            last = target;
            target = NextTarget(r.body);
        }
        const double walkSeconds = std::chrono::duration<double>(Clock::now() - walkStart).count();
        if (o.walk) {
            std::printf("walk: %ld pages, %ld entries in %.2f s (%.1f us per page)\n", pages, seen,
                        walkSeconds, walkSeconds * 1e6 / static_cast<double>(pages));
            if (seen != o.entries) throw std::runtime_error("the walk missed or repeated entries");
        }

        const double lastMicros =
            MicrosPerPage(feeds, FeedRequest(last, token), o.rounds, o.callgrind == "last", bytes);
        std::printf("large folder, last page: %.1f us per page, %zu bytes\n", lastMicros, bytes);
        std::printf("last / first: %.2f\n", lastMicros / firstMicros);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "feed_page_bench: %s\n", e.what());
        return 1;
    }
}
