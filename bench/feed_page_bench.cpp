// feed_page_bench: the cost of building feed pages inside the service, without
// the network: a page of a 10-entry folder (the everyday listing) and the
// first and last pages of a large folder, of the root folder and of
// shared-with-me, each reached through the "next" links. Prints microseconds
// per page; under callgrind it collects only the pages named by --callgrind
// (small, first, last, root-first, root-last, shared-first, shared-last), so
// the instruction counts of one page can be compared.
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
#include "SqliteSharedState.h"
#include "SqliteStatement.h"
#include "Store.h"

namespace {

namespace fs = std::filesystem;
using namespace tallowdesk::server;
using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "bench@example.test";
// Reads what kUser shares with it.
constexpr const char* kReader = "reader@example.test";
constexpr const char* kFeedPath = "/feeds/default/private/full/";

struct Options {
    long entries = 100000;
    long pageSize = 100;
    long rounds = 200;
    // Pages to collect, separated by commas: small, first, last, root-first,
    // root-last, shared-first, shared-last; each is dumped under its name.
    std::string callgrind;
    bool walk = true;  // off: the last page by its start-index
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
// Every fourth entry shares its edit time with its neighbours. An empty
// `folderId` leaves the entries in the root folder; `sharedWith` gives each
// a reader rule for that account.
void BulkInsert(const fs::path& dataDir, const std::string& folderId, const std::string& prefix,
                long count, std::int64_t base, const std::string& sharedWith = {}) {
    SqliteDb db((dataDir / "service.db").string());
    db.Exec("BEGIN");
    SqliteStatement entry(db,
                          "INSERT INTO entries(id, kind, title, owner, modified_by, etag, "
                          "published, updated, edited) VALUES(?1, 'document', ?2, ?3, ?3, "
                          "'\"etag-' || ?1 || '\"', ?4, ?4, ?4)");
    SqliteStatement parent(db, "INSERT INTO parents(entry, parent) VALUES(?1, ?2)");
    SqliteStatement acl(db,
                        "INSERT INTO acl(entry, scope_type, scope, role) "
                        "VALUES(?1, 'user', ?2, ?3)");
    for (long i = 0; i < count; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%s%08ld", prefix.c_str(), i);
        const std::int64_t time = base + i / 4;
        entry.Bind(1, id).Bind(2, "Quarterly report & notes <" + std::to_string(i) + ">");
        entry.Bind(3, kUser).Bind(4, time).Run();
        entry.Reset();
        if (!folderId.empty()) {
            parent.Bind(1, id).Bind(2, folderId).Run();
            parent.Reset();
        }
        acl.Bind(1, id).Bind(2, kUser).Bind(3, "owner").Run();
        acl.Reset();
        if (!sharedWith.empty()) {
            acl.Bind(1, id).Bind(2, sharedWith).Bind(3, "reader").Run();
            acl.Reset();
        }
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

double MicrosPerPage(FeedHandler& feeds, const HttpRequest& request, long rounds, const Options& o,
                     const std::string& name, std::size_t& bytes) {
    const bool collect = ("," + o.callgrind + ",").find("," + name + ",") != std::string::npos;
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
        CALLGRIND_DUMP_STATS_AT(name.c_str());
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
        // Older than everything in the folders, so that a listing which steps
        // over filed entries (root) or other people's (shared-with-me)
        // shows it on its first page.
        BulkInsert(dir, "", "root", o.entries - 2, 1600000000000, kReader);
        std::printf("seeded %ld entries in %.1f s\n", 2 * o.entries + 8,
                    std::chrono::duration<double>(Clock::now() - seedStart).count());

        Store store(dir.string(), 1000);
        store.AddAccount(kReader, "secret", "Reader");
        token = store.IssueToken(kUser, "writely");
        const std::string readerToken = store.IssueToken(kReader, "writely");
        SqliteSharedState shared((dir / "service.db").string());
        SignInHandler signIn(store, shared);
        FeedHandler feeds(store, signIn, static_cast<std::size_t>(o.pageSize));

        const std::string small = std::string(kFeedPath) + "folder%3A" + smallFolder + "/contents";
        std::size_t bytes = 0;
        const double smallMicros =
            MicrosPerPage(feeds, FeedRequest(small, token), o.rounds * 10, o, "small", bytes);
        std::printf("10-entry folder: %.1f us per page (%.0f pages/s), %zu bytes\n", smallMicros,
                    1e6 / smallMicros, bytes);

        struct Listing {
            const char* name;    // in the output
            const char* prefix;  // of --callgrind: "" for the large folder
            std::string first;
            std::string token;
            long entries;
        };
        const std::vector<Listing> listings = {
            {"large folder", "", std::string(kFeedPath) + "folder%3A" + bigFolder + "/contents",
             token, o.entries},
            // The two folders sit in the root folder beside its entries.
            {"root folder", "root-", std::string(kFeedPath) + "folder%3Aroot/contents", token,
             o.entries},
            {"shared with me", "shared-", std::string(kFeedPath) + "-/-mine", readerToken,
             o.entries - 2},
        };
        for (const Listing& l : listings) {
            const std::string prefix = l.prefix;
            const double firstMicros = MicrosPerPage(feeds, FeedRequest(l.first, l.token), o.rounds,
                                                     o, prefix + "first", bytes);
            std::printf("%s, first page: %.1f us per page, %zu bytes\n", l.name, firstMicros,
                        bytes);

            // Walk the whole listing through the next links, as the client
            // does, or jump to the last page by its index.
            std::string target = o.walk ? l.first : std::string();
            std::string last = l.first + "?start-index=" +
                               std::to_string((l.entries - 1) / o.pageSize * o.pageSize + 1);
            long pages = 0, seen = 0;
            const auto walkStart = Clock::now();
            while (!target.empty()) {
                const HttpResponse r = feeds.DocumentList(FeedRequest(target, l.token));
                if (r.status != 200)
                    throw std::runtime_error("walk: status " + std::to_string(r.status));
                for (std::size_t at = 0; (at = r.body.find("<entry ", at)) != std::string::npos;
                     ++at) {
                    ++seen;
                }
                ++pages;
                last = target;
                target = NextTarget(r.body);
            }
            const double walkSeconds =
                std::chrono::duration<double>(Clock::now() - walkStart).count();
            if (o.walk) {
                std::printf("%s, walk: %ld pages, %ld entries in %.2f s (%.1f us per page)\n",
                            l.name, pages, seen, walkSeconds,
                            walkSeconds * 1e6 / static_cast<double>(pages));
                if (seen != l.entries)
                    throw std::runtime_error(std::string(l.name) +
                                             ": the walk missed or repeated entries");
            }
            const double lastMicros = MicrosPerPage(feeds, FeedRequest(last, l.token), o.rounds, o,
                                                    prefix + "last", bytes);
            std::printf("%s, last page: %.1f us per page, %zu bytes\n", l.name, lastMicros, bytes);
            std::printf("%s, last / first: %.2f; first / 10-entry folder: %.2f\n", l.name,
                        lastMicros / firstMicros, firstMicros / smallMicros);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "feed_page_bench: %s\n", e.what());
        return 1;
    }
}
