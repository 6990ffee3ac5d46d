#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PgDb.h"
#include "PgSharedState.h"
#include "ServerTestSupport.h"
#include "SqliteDb.h"
#include "SqliteSharedState.h"
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

}  // namespace
}  // namespace tallowdesk::server::test
