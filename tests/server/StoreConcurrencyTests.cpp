// Reads on their own connections beside the one writer: every change the
// store has acknowledged is visible to every read that starts after it.
#include <atomic>
#include <set>
#include <thread>

#include "ServerTestSupport.h"
#include "SqliteDb.h"
#include "SqliteReaders.h"
#include "SqliteStatement.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kOwner = "alice@example.test";

// A writer creates and renames entries while readers look them up, list
// them and check access. A reader that finds an acknowledged entry missing,
// or an acknowledged title older than it should be, saw an old snapshot.
TEST(StoreConcurrencyTest, ReadersSeeEveryAcknowledgedWriteWhileTheWriterRuns) {
    TempDir dir;
    Store store((dir.Path() / "data").string(), 1000, TestDatabase((dir.Path() / "data").string()));
    store.AddAccount(kOwner, "secret", "Alice");
    constexpr int kWrites = 120;
    constexpr int kReaders = 6;
    constexpr int kReadsEach = 300;
    std::vector<std::string> ids(kWrites);
    std::atomic<int> acknowledged{0};  // ids[0..acknowledged) exist, renamed
    std::atomic<int> failures{0};

    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        try {
            for (int i = 0; i < kWrites; ++i) {
                NewEntry n;
                n.kind = "document";
                n.title = "draft " + std::to_string(i);
                const std::string id = store.Create(kOwner, n).id;
                if (!store.Update(id, kOwner, "final " + std::to_string(i), {}, "*")) ++failures;
                ids[static_cast<std::size_t>(i)] = id;
                acknowledged.store(i + 1, std::memory_order_release);
            }
        } catch (...) {
            ++failures;
        }
        writerDone = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            for (int k = 0; k < kReadsEach; ++k) {
                // Keep pace with the writer, so that the reads are spread
                // over its whole run rather than done before it starts.
                const int due = 1 + k * (kWrites - 1) / kReadsEach;
                while (acknowledged.load(std::memory_order_acquire) < due && !writerDone) {
                    std::this_thread::yield();
                }
                const int known = acknowledged.load(std::memory_order_acquire);
                if (known == 0) break;
                const int pick = (k * 7 + r) % known;
                const std::string& id = ids[static_cast<std::size_t>(pick)];
                switch (k % 3) {
                    case 0: {
                        const auto e = store.GetEntry(id);
                        if (!e || e->title != "final " + std::to_string(pick)) ++failures;
                        break;
                    }
                    case 1:
                        if (store.AccessOf(kOwner, id) != Access::Own) ++failures;
                        break;
                    default: {
                        ListQuery q;
                        q.user = kOwner;
                        q.scope = ListScope::Root;
                        q.limit = 1000;
                        if (store.List(q).entries.size() < static_cast<std::size_t>(known))
                            ++failures;
                    }
                }
            }
        });
    }
    writer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(failures.load(), 0);

    ListQuery q;
    q.user = kOwner;
    q.scope = ListScope::Mine;
    q.limit = 1000;
    const ListResult all = store.List(q);
    std::set<std::string> titles;
    for (const auto& e : all.entries) titles.insert(e.title);
    EXPECT_EQ(titles.size(), static_cast<std::size_t>(kWrites));
    EXPECT_EQ(titles.count("final 0") + titles.count("final 119"), 2u);
    EXPECT_TRUE(store.CheckConsistency().empty());
}

// One lease reads one snapshot; the next lease, on the same connection
// given back, sees what was committed in between; a reader cannot write.
TEST(SqliteReadersTest, LeaseReadsOneSnapshotAndTheNextSeesNewCommits) {
    TempDir dir;
    const std::string path = (dir.Path() / "pool.db").string();
    SqliteDb writer(path);
    writer.Exec("CREATE TABLE t(v INTEGER); INSERT INTO t VALUES (1);");
    SqliteReaders readers(path);
    const auto count = [](SqliteDb& db) {
        SqliteStatement st(db, "SELECT count(*) FROM t");
        return st.Step() ? st.Int(0) : -1;
    };
    {
        const auto lease = readers.Take();
        EXPECT_EQ(count(*lease), 1);
        writer.Exec("INSERT INTO t VALUES (2)");
        EXPECT_EQ(count(*lease), 1);
        EXPECT_THROW((*lease).Exec("INSERT INTO t VALUES (3)"), std::runtime_error);
    }
    {
        const auto lease = readers.Take();
        EXPECT_EQ(count(*lease), 2);
    }
    EXPECT_EQ(readers.OpenedCount(), 1u);
    {
        // Two at once: two connections.
        const auto a = readers.Take();
        const auto b = readers.Take();
        EXPECT_EQ(count(*a) + count(*b), 4);
    }
    EXPECT_EQ(readers.OpenedCount(), 2u);
}

}  // namespace
}  // namespace tallowdesk::server::test
