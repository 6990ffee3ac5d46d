// The store's own guarantees, whichever database holds it: each case runs
// against SQLite and, in the PostgreSQL run, against PostgreSQL.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PgDb.h"
#include "ServerTestSupport.h"
#include "SqliteDb.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kOwner = "alice@example.test";

std::string NewFolder(Store& store, const std::string& title) {
    NewEntry n;
    n.kind = "folder";
    n.title = title;
    return store.Create(kOwner, n).id;
}

TEST(StoreSchemaTest, ADatabaseOfANewerVersionIsRefusedAndKept) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    const std::string database = TestDatabase(data);
    {
        Store store(data, 1000, database);
        store.AddAccount(kOwner, "secret", "Alice");
    }
    // What a later version would leave behind.
    if (database.empty()) {
        SqliteDb db(data + "/service.db");
        db.Exec("UPDATE meta SET value = CAST(value AS INTEGER) + 98 WHERE key = 'schema-version'");
    } else {
        PgConnection db(database);
        db.Exec("UPDATE schema_version SET version = version + 98");
    }
    try {
        Store store(data, 1000, database);
        FAIL() << "opened a database of a newer version";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos) << e.what();
    }
    if (database.empty()) {
        SqliteDb db(data + "/service.db");
        db.Exec("UPDATE meta SET value = CAST(value AS INTEGER) - 98 WHERE key = 'schema-version'");
    } else {
        PgConnection db(database);
        db.Exec("UPDATE schema_version SET version = version - 98");
    }
    EXPECT_TRUE(Store(data, 1000, database).AccountExists(kOwner));
}

// Filing checks for loops inside the change itself, so a check a request
// made before (and another request made stale) cannot let one through.
TEST(StoreFolderTest, FilingAFolderIntoItselfOrBelowIsRefusedUnchanged) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    Store store(data, 1000, TestDatabase(data));
    store.AddAccount(kOwner, "secret", "Alice");
    const std::string top = NewFolder(store, "top");
    const std::string middle = NewFolder(store, "middle");
    const std::string bottom = NewFolder(store, "bottom");
    const std::string aside = NewFolder(store, "aside");
    store.AddParent(middle, top);
    store.AddParent(bottom, middle);
    struct Case {
        std::string entry, folder;
        bool refused;
    };
    const std::vector<Case> cases = {
        {top, top, true},    {top, middle, true},    {top, bottom, true},   {middle, bottom, true},
        {top, aside, false}, {bottom, aside, false}, {aside, bottom, true},
    };
    for (const auto& c : cases) {
        const auto before = store.GetEntry(c.entry)->parents.size();
        if (c.refused) {
            EXPECT_THROW(store.AddParent(c.entry, c.folder), WouldCycle) << c.entry;
            EXPECT_EQ(store.GetEntry(c.entry)->parents.size(), before);
        } else {
            EXPECT_EQ(store.AddParent(c.entry, c.folder).parents.size(), before + 1);
        }
    }
    EXPECT_TRUE(store.CheckConsistency().empty());
}

// Two requests file two folders into each other at once, through two
// stores on one database where it can be shared (two service processes):
// one of them must be refused.
TEST(StoreFolderTest, CrossFilingAtOnceLeavesNoLoop) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    const std::string database = TestDatabase(data);
    Store first(data, 1000, database);
    std::unique_ptr<Store> other;
    if (!database.empty()) other = std::make_unique<Store>(data, 1000, database);
    Store& second = other ? *other : first;
    first.AddAccount(kOwner, "secret", "Alice");
    for (int round = 0; round < 20; ++round) {
        const std::string a = NewFolder(first, "a" + std::to_string(round));
        const std::string b = NewFolder(first, "b" + std::to_string(round));
        int filed = 0;
        std::thread one([&] {
            try {
                first.AddParent(a, b);
                ++filed;
            } catch (const WouldCycle&) {
            }
        });
        int filedToo = 0;
        std::thread two([&] {
            try {
                second.AddParent(b, a);
                ++filedToo;
            } catch (const WouldCycle&) {
            }
        });
        one.join();
        two.join();
        EXPECT_EQ(filed + filedToo, 1) << "round " << round;
        EXPECT_FALSE(first.IsSelfOrBelow(a, b) && first.IsSelfOrBelow(b, a)) << "round " << round;
    }
}

NewEntry FileOf(std::size_t bytes, std::int64_t quota) {
    NewEntry n;
    n.kind = "file";
    n.title = "f" + std::to_string(bytes);
    n.content = std::string(bytes, 'x');
    n.quotaBytes = quota;
    return n;
}

TEST(StoreQuotaTest, ContentBeyondTheLimitIsRefusedAndNothingStored) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    Store store(data, 1000, TestDatabase(data));
    store.AddAccount(kOwner, "secret", "Alice");
    store.Create(kOwner, FileOf(40, 100));
    struct Case {
        std::size_t bytes;
        std::int64_t quota;
        bool stored;
    };
    for (const auto& c : std::vector<Case>{
             {61, 100, false}, {60, 99, false}, {60, 100, true}, {1, 100, false}, {0, 100, true}}) {
        const auto used = store.UsageBytes(kOwner);
        if (c.stored) {
            EXPECT_NO_THROW(store.Create(kOwner, FileOf(c.bytes, c.quota))) << c.bytes;
            EXPECT_EQ(store.UsageBytes(kOwner), used + static_cast<std::int64_t>(c.bytes));
        } else {
            EXPECT_THROW(store.Create(kOwner, FileOf(c.bytes, c.quota)), QuotaExceeded) << c.bytes;
            EXPECT_EQ(store.UsageBytes(kOwner), used);
        }
    }
    EXPECT_TRUE(store.CheckConsistency().empty());
}

// Uploads landing at once, through two stores on one database where it
// can be shared (two service processes): together they stay in the limit.
TEST(StoreQuotaTest, FilesLandingAtOnceStayWithinTheLimit) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    const std::string database = TestDatabase(data);
    Store first(data, 1000, database);
    std::unique_ptr<Store> other;
    if (!database.empty()) other = std::make_unique<Store>(data, 1000, database);
    Store& second = other ? *other : first;
    first.AddAccount(kOwner, "secret", "Alice");
    // Each round leaves room for one more file of 60 bytes, not two.
    for (std::int64_t round = 0; round < 10; ++round) {
        const std::int64_t limit = 60 * round + 100;
        const auto land = [&](Store& store) {
            try {
                store.Create(kOwner, FileOf(60, limit));
            } catch (const QuotaExceeded&) {
            }
        };
        std::thread one(land, std::ref(first));
        std::thread two(land, std::ref(second));
        one.join();
        two.join();
        ASSERT_EQ(first.UsageBytes(kOwner), 60 * (round + 1)) << "round " << round;
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
