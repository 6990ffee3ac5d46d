#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PgDb.h"
#include "PgSharedState.h"
#include "ServerTestSupport.h"
#include "SqliteDb.h"
#include "SqliteSharedState.h"
#include "Store.h"
#include "TempDir.h"

namespace tallowdesk::server::test {
namespace {

using tallowdesk::test::TempDir;

// The shared state of the data folder `dir`: service.db in it, or the
// test's PostgreSQL schema for it.
std::unique_ptr<SharedState> OpenState(const std::filesystem::path& dir,
                                       SqliteSharedState::Clock clock = {}) {
    const std::string database = TestDatabase(dir);
    if (database.empty()) {
        return std::make_unique<SqliteSharedState>((dir / "service.db").string(), std::move(clock));
    }
    return std::make_unique<PgSharedState>(database, std::move(clock));
}

// Two connections on one database stand for two service processes; the
// clock is the test's.
class SharedStateTest : public ::testing::Test {
protected:
    SharedStateTest()
        : m_onePtr(OpenState(m_dir.Path(), [this] { return m_now.load(); })),
          m_twoPtr(OpenState(m_dir.Path(), [this] { return m_now.load(); })) {}

    TempDir m_dir;
    std::atomic<std::int64_t> m_now{1'000'000};
    std::unique_ptr<SharedState> m_onePtr;
    std::unique_ptr<SharedState> m_twoPtr;
    SharedState& m_one = *m_onePtr;
    SharedState& m_two = *m_twoPtr;
};

TEST_F(SharedStateTest, WhatOneProcessStoresTheOtherSeesUntilItExpires) {
    m_one.Put("captcha", "t1", "ANSWER\nalice@example.test", m_now + 1000);
    m_one.Put("upload", "u1", "{}", m_now + 1000, "alice");
    m_one.Put("upload", "u2", "{}", m_now + 2000, "alice");
    m_one.Put("upload", "u3", "{}", m_now + 1000, "bob");
    struct Step {
        std::int64_t advance;
        std::optional<std::string> captcha;
        std::size_t aliceUploads;
    };
    const std::vector<Step> steps = {
        {0, "ANSWER\nalice@example.test", 2},
        {999, "ANSWER\nalice@example.test", 2},
        {1, std::nullopt, 1},     // at its moment an item is gone
        {1000, std::nullopt, 0},  // and so is the later one
    };
    for (const auto& step : steps) {
        m_now += step.advance;
        SCOPED_TRACE(m_now.load());
        EXPECT_EQ(m_two.Get("captcha", "t1"), step.captcha);
        EXPECT_EQ(m_two.CountGroup("upload", "alice"), step.aliceUploads);
    }
    EXPECT_EQ(m_two.Get("upload", "nothing"), std::nullopt);
}

// A challenge or an upload session is used once, whichever process the two
// attempts reach at the same time.
TEST_F(SharedStateTest, ExactlyOneTakerGetsAnItem) {
    for (int round = 0; round < 20; ++round) {
        const std::string key = "k" + std::to_string(round);
        m_one.Put("upload", key, "v", m_now + 1000);
        std::atomic<int> taken{0};
        std::thread other([&] { taken += m_two.Take("upload", key).has_value(); });
        taken += m_one.Take("upload", key).has_value();
        other.join();
        EXPECT_EQ(taken.load(), 1) << key;
    }
    m_one.Put("upload", "late", "v", m_now + 10);
    m_now += 10;
    EXPECT_EQ(m_two.Take("upload", "late"), std::nullopt);  // expired: nothing to take
}

TEST_F(SharedStateTest, CountersAddUpAcrossProcessesAndStartAgainAfterTheirWindow) {
    std::vector<std::int64_t> counts;
    for (int i = 0; i < 4; ++i) {
        counts.push_back(
            (i % 2 ? m_two : m_one).Increment("address-failures", "10.0.0.7", m_now + 500));
    }
    EXPECT_EQ(counts, (std::vector<std::int64_t>{1, 2, 3, 4}));
    // Later increments do not stretch the window.
    m_now += 500;
    EXPECT_EQ(m_one.Get("address-failures", "10.0.0.7"), std::nullopt);
    EXPECT_EQ(m_two.Increment("address-failures", "10.0.0.7", m_now + 500), 1);
    EXPECT_EQ(m_one.Increment("address-failures", "10.0.0.8", m_now + 500), 1);
    EXPECT_EQ(m_one.Get("address-failures", "10.0.0.7"), "1");
}

// Nobody grows a kind without bound: the items closest to expiry make room.
TEST_F(SharedStateTest, AKindHoldsAtMostItsBound) {
    for (int i = 0; i < 5; ++i) {
        m_one.Put("sign-in-form", "g" + std::to_string(i), "", m_now + 100 + i, {}, 3);
    }
    std::vector<std::string> live;
    for (int i = 0; i < 5; ++i) {
        if (m_two.Get("sign-in-form", "g" + std::to_string(i)))
            live.push_back("g" + std::to_string(i));
    }
    EXPECT_EQ(live, (std::vector<std::string>{"g2", "g3", "g4"}));
    m_one.Put("sign-in-form", "g4", "again", m_now + 1, {}, 3);  // replacing makes no room
    EXPECT_EQ(m_two.Get("sign-in-form", "g2"), "");
    EXPECT_EQ(m_two.Get("sign-in-form", "g4"), "again");
}

// Two processes opening upload sessions for one account at once: together
// they stop exactly at the bound, and another account is not held back.
TEST_F(SharedStateTest, AGroupBoundHoldsAcrossProcesses) {
    std::atomic<int> stored{0};
    auto open = [&](SharedState& state, const std::string& prefix) {
        for (int i = 0; i < 30; ++i) {
            stored += state.PutIfGroupHasRoom("upload", prefix + std::to_string(i), "{}",
                                              m_now + 1000, "alice", 25);
        }
    };
    std::thread other([&] { open(m_two, "b"); });
    open(m_one, "a");
    other.join();
    EXPECT_EQ(stored.load(), 25);
    EXPECT_EQ(m_two.CountGroup("upload", "alice"), 25u);
    EXPECT_TRUE(m_one.PutIfGroupHasRoom("upload", "bob1", "{}", m_now + 1000, "bob", 25));
    m_now += 1000;  // expired sessions make room again
    EXPECT_TRUE(m_two.PutIfGroupHasRoom("upload", "later", "{}", m_now + 1000, "alice", 25));
}

// What a client sent may be any bytes: a challenge keeps the address typed
// into the form whatever it is, and a token that cannot name an item finds
// nothing, on either database.
TEST_F(SharedStateTest, AnyBytesAreKeptAndAnyKeyIsLookedUp) {
    const std::string odd = std::string("ANSWER\n\xff\xfe", 9) + std::string(1, '\0') + "x";
    m_one.Put("captcha", "t1", odd, m_now + 1000);
    EXPECT_EQ(m_two.Get("captcha", "t1"), odd);
    EXPECT_EQ(m_two.Take("captcha", "t1"), odd);
    const std::vector<std::string> strangers = {"\xff\xfe", std::string("a\0b", 3), "\xc0\xaf"};
    for (const auto& key : strangers) {
        EXPECT_EQ(m_one.Get("captcha", key), std::nullopt);
        EXPECT_EQ(m_one.Take("captcha", key), std::nullopt);
    }
}

TEST(SharedStateSchemaTest, OpensItsOwnTableAgainAndRefusesANewerOne) {
    TempDir dir;
    {
        const auto first = OpenState(dir.Path());
        first->Put("captcha", "t", "kept", std::numeric_limits<std::int64_t>::max());
    }
    EXPECT_EQ(OpenState(dir.Path())->Get("captcha", "t"), "kept");
    const std::string database = TestDatabase(dir.Path());
    const std::string bump = "UPDATE shared_state_schema SET version = version + 1";
    if (database.empty()) {
        SqliteDb((dir.Path() / "service.db").string()).Exec(bump);
    } else {
        PgConnection(database).Exec(bump);
    }
    EXPECT_THROW(OpenState(dir.Path()), std::runtime_error);
}

// Every SQLite file opened while one of these lives counts the syncs asked
// of it: a shim over the default file system, made the default.
class SyncCounter {
public:
    SyncCounter() {
        s_base = sqlite3_vfs_find(nullptr);
        m_vfs = *s_base;
        m_vfs.zName = "sync-counter";
        m_vfs.szOsFile = static_cast<int>(sizeof(File)) + s_base->szOsFile;
        m_vfs.xOpen = Open;
        sqlite3_vfs_register(&m_vfs, 1);
        s_syncs = 0;
    }
    ~SyncCounter() {
        sqlite3_vfs_unregister(&m_vfs);
        sqlite3_vfs_register(s_base, 1);
    }
    SyncCounter(const SyncCounter&) = delete;
    SyncCounter& operator=(const SyncCounter&) = delete;
    static int Syncs() { return s_syncs.load(); }

private:
    // Our part first, the real file behind it.
    struct File {
        sqlite3_file base;
        sqlite3_io_methods methods;
        sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };
    static File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
    static int Sync(sqlite3_file* f, int flags) {
        ++s_syncs;
        sqlite3_file* real = Of(f)->Real();
        return real->pMethods->xSync(real, flags);
    }
    static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
        File* file = Of(f);
        sqlite3_file* real = file->Real();
        const int rc = s_base->xOpen(s_base, name, real, flags, out);
        if (!real->pMethods) {
            file->base.pMethods = nullptr;
            return rc;
        }
        // Each method passes straight to the real file, but for xSync.
        file->methods = *real->pMethods;
        file->methods.xClose = [](sqlite3_file* g) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xClose(r);
        };
        file->methods.xRead = [](sqlite3_file* g, void* b, int n, sqlite3_int64 o) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xRead(r, b, n, o);
        };
        file->methods.xWrite = [](sqlite3_file* g, const void* b, int n, sqlite3_int64 o) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xWrite(r, b, n, o);
        };
        file->methods.xTruncate = [](sqlite3_file* g, sqlite3_int64 n) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xTruncate(r, n);
        };
        file->methods.xSync = Sync;
        file->methods.xFileSize = [](sqlite3_file* g, sqlite3_int64* n) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xFileSize(r, n);
        };
        file->methods.xLock = [](sqlite3_file* g, int l) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xLock(r, l);
        };
        file->methods.xUnlock = [](sqlite3_file* g, int l) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xUnlock(r, l);
        };
        file->methods.xCheckReservedLock = [](sqlite3_file* g, int* o) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xCheckReservedLock(r, o);
        };
        file->methods.xFileControl = [](sqlite3_file* g, int op, void* a) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xFileControl(r, op, a);
        };
        file->methods.xSectorSize = [](sqlite3_file* g) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xSectorSize(r);
        };
        file->methods.xDeviceCharacteristics = [](sqlite3_file* g) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xDeviceCharacteristics(r);
        };
        file->methods.xShmMap = [](sqlite3_file* g, int i, int n, int e, void volatile** p) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xShmMap(r, i, n, e, p);
        };
        file->methods.xShmLock = [](sqlite3_file* g, int o, int n, int fl) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xShmLock(r, o, n, fl);
        };
        file->methods.xShmBarrier = [](sqlite3_file* g) {
            sqlite3_file* r = Of(g)->Real();
            r->pMethods->xShmBarrier(r);
        };
        file->methods.xShmUnmap = [](sqlite3_file* g, int d) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xShmUnmap(r, d);
        };
        file->methods.xFetch = [](sqlite3_file* g, sqlite3_int64 o, int n, void** p) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xFetch(r, o, n, p);
        };
        file->methods.xUnfetch = [](sqlite3_file* g, sqlite3_int64 o, void* p) {
            sqlite3_file* r = Of(g)->Real();
            return r->pMethods->xUnfetch(r, o, p);
        };
        file->base.pMethods = &file->methods;
        return rc;
    }

    static inline sqlite3_vfs* s_base = nullptr;
    static inline std::atomic<int> s_syncs{0};
    sqlite3_vfs m_vfs{};
};

// Upload sessions, challenges and counters live for minutes and a client
// asks again for one that is lost: their changes must not wait for the
// disk, or each small upload waits for three syncs instead of one. What
// the store acknowledges (an account, an entry) still does.
TEST(SharedStateSyncTest, ShortLivedChangesDoNotWaitForTheDiskButTheStoresDo) {
    TempDir dir;
    if (!TestDatabase(dir.Path()).empty()) GTEST_SKIP() << "counts SQLite's syncs";
    const SyncCounter counter;
    Store store(dir.Path().string(), 1000);
    SqliteSharedState state((dir.Path() / "service.db").string());
    const std::int64_t later = NowMillis() + 60'000;
    struct Case {
        const char* what;
        std::function<void()> change;
        bool syncs;
    };
    int n = 0;
    const std::vector<Case> cases = {
        {"a session opened", [&] { state.PutIfGroupHasRoom("upload", "u1", "{}", later, "a", 25); },
         false},
        {"a session used", [&] { state.Take("upload", "u1"); }, false},
        {"a challenge", [&] { state.Put("captcha", "c" + std::to_string(++n), "x", later); },
         false},
        {"a failure counted", [&] { state.Increment("address-failures", "10.0.0.1", later); },
         false},
        {"an account made",
         [&] { store.CreateAccount("a" + std::to_string(++n) + "@x.test", "pw", "A"); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (int round = 0; round < 3; ++round) {
            const int before = SyncCounter::Syncs();
            c.change();
            EXPECT_EQ(SyncCounter::Syncs() > before, c.syncs) << "round " << round;
        }
    }
}

// The shared state's connections commit without waiting for the log flush
// (see PgSharedState); the setting has to hold on every connection of the
// pool, the ones opened while another is out as well as a reused one.
TEST(PgPoolTest, EveryConnectionRunsTheSetup) {
    TempDir dir;
    const std::string database = TestDatabase(dir.Path());
    if (database.empty()) GTEST_SKIP() << "needs PostgreSQL";
    auto setting = [](PgConnection& db) {
        PgQuery st(db, "SHOW synchronous_commit");
        return st.Step() ? st.Text(0) : std::string("none");
    };
    PgPool plain(database);
    PgPool quick(database, "SET synchronous_commit = off");
    {
        const auto first = quick.Take();
        const auto second = quick.Take();
        const auto other = plain.Take();
        EXPECT_EQ(setting(*first), "off");
        EXPECT_EQ(setting(*second), "off");
        EXPECT_EQ(setting(*other), "on");
    }
    const auto again = quick.Take();
    EXPECT_EQ(setting(*again), "off");
}

}  // namespace
}  // namespace tallowdesk::server::test
