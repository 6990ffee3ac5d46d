#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

#include "TestData.h"
#include "model/ListingWorker.h"

namespace tallowdesk {
namespace {

// A page of n entries titled prefix0..prefix(n-1), with an optional next link.
std::string Page(const std::string& prefix, int n, const std::string& next = "") {
    std::string xml = "<feed>";
    if (!next.empty()) xml += "<link rel='next' href='" + next + "'/>";
    for (int i = 0; i < n; ++i)
        xml += "<entry><title>" + prefix + std::to_string(i) +
               "</title><gd:resourceId>file:" + prefix + std::to_string(i) +
               "</gd:resourceId></entry>";
    return xml + "</feed>";
}

// Serves scripted pages by URL, records what was asked, and can run a hook
// after a given request (to simulate the user acting mid-listing).
struct ScriptedFeeds {
    std::map<std::string, std::string> pages;
    std::vector<std::string> requested;
    std::map<std::string, std::function<void()>> after;

    FeedFetcher Fetcher() {
        return [this](const std::string& url, tinyxml2::XMLDocument& doc) {
            requested.push_back(url);
            const auto it = pages.find(url);
            if (it == pages.end()) throw std::runtime_error("Get entry list failed");
            test::ParseXml(doc, it->second);
            if (auto hook = after.find(url); hook != after.end()) hook->second();
        };
    }
};

struct RecordingSink : ListingSink {
    int resets = 0;
    std::vector<std::pair<std::uint64_t, std::size_t>> added;
    std::optional<CurrentLocation> finished;
    std::function<void()> onAdded;
    void ResetList() override { ++resets; }
    void EntriesAdded(std::uint64_t g, std::size_t first) override {
        added.emplace_back(g, first);
        if (onAdded) std::exchange(onAdded, nullptr)();
    }
    void ListingFinished(const CurrentLocation& loc) override { finished = loc; }
    std::vector<std::string> failures;
    void ListingFailed(const std::string& reason) override {
        EXPECT_FALSE(finished) << "a failure comes before the end";
        failures.push_back(reason);
    }
};

struct Listing {
    ScriptedFeeds feeds;
    ListingControl control;
    EntryList entries;
    RecordingSink sink;

    void Run(CurrentLocation loc) {
        ASSERT_TRUE(control.Request(std::move(loc)));
        RunListing(control, entries, feeds.Fetcher(), sink);
        EXPECT_FALSE(control.Busy());
    }
    std::vector<std::string> Titles() const {
        std::vector<std::string> t;
        for (const auto& e : entries.Snapshot()) t.push_back(e->title.value_or("?"));
        return t;
    }
};

TEST(RunListing, FollowsNextLinksOfFullPages) {
    Listing l;
    l.feeds.pages = {{"u1", Page("a", 10, "u2")},
                     {"u2", Page("b", 12, "u3")},
                     {"u3", Page("c", 3, "u4")},
                     {"u4", Page("d", 1)}};
    l.Run({"u1", "Folder", false, true});
    // A page of fewer than 10 entries ends the listing despite its next link.
    EXPECT_EQ(l.feeds.requested, (std::vector<std::string>{"u1", "u2", "u3"}));
    EXPECT_EQ(l.entries.Size(), 25u);
    ASSERT_EQ(l.sink.added.size(), 3u);
    EXPECT_EQ(l.sink.added[1].second, 10u);
    EXPECT_EQ(l.sink.added[2].second, 22u);
    ASSERT_TRUE(l.sink.finished);
    EXPECT_EQ(l.sink.finished->url, "u1");
}

TEST(RunListing, PageRules) {
    {
        Listing l;  // exactly 10 without a next link: one request
        l.feeds.pages = {{"u", Page("a", 10)}};
        l.Run({"u", "", false, false});
        EXPECT_EQ(l.feeds.requested.size(), 1u);
    }
    {
        Listing l;  // 9 entries: the next link is not looked at
        l.feeds.pages = {{"u", Page("a", 9, "n")}, {"n", Page("b", 5)}};
        l.Run({"u", "", false, false});
        EXPECT_EQ(l.feeds.requested.size(), 1u);
    }
    {
        Listing l;  // "Latest 100 items" lists its first page only
        l.feeds.pages = {{"u", Page("a", 100, "n")}, {"n", Page("b", 5)}};
        l.Run({"u", " Latest 100 items", true, false});
        EXPECT_EQ(l.feeds.requested.size(), 1u);
        EXPECT_EQ(l.entries.Size(), 100u);
    }
}

TEST(RunListing, FailureKeepsEarlierPages) {
    Listing l;
    l.feeds.pages = {{"p1", Page("a", 10, "p2")}, {"p2", Page("b", 10, "p3")}};
    l.Run({"p1", "", false, true});  // p3 fails
    EXPECT_EQ(l.feeds.requested.size(), 3u);
    EXPECT_EQ(l.entries.Size(), 20u);
    EXPECT_EQ(l.sink.resets, 0);
    EXPECT_TRUE(l.sink.finished);
    // The window is told why the list is short, once.
    EXPECT_EQ(l.sink.failures, std::vector<std::string>{"Get entry list failed"});
}

TEST(RunListing, ACompleteListingReportsNoFailure) {
    Listing l;
    l.feeds.pages = {{"p1", Page("a", 10, "p2")}, {"p2", Page("b", 3)}};
    l.Run({"p1", "", false, true});
    EXPECT_TRUE(l.sink.failures.empty());
}

TEST(RunListing, RestartListsOnlyTheNewLocation) {
    Listing l;
    l.feeds.pages = {
        {"old1", Page("old", 10, "old2")}, {"old2", Page("old2-", 10)}, {"new", Page("new", 2)}};
    // The user picks another node while the second page is on its way.
    l.feeds.after["old2"] = [&] { EXPECT_FALSE(l.control.Request({"new", "New", false, true})); };
    const std::uint64_t before = l.entries.Generation();
    l.Run({"old1", "Old", false, true});
    EXPECT_EQ(l.feeds.requested, (std::vector<std::string>{"old1", "old2", "new"}));
    EXPECT_EQ(l.Titles(), (std::vector<std::string>{"new0", "new1"}));
    EXPECT_EQ(l.sink.resets, 1);
    EXPECT_EQ(l.sink.finished->url, "new");
    // Notifications of the old listing name a generation that is gone.
    const auto [oldGeneration, oldFirst] = l.sink.added.front();
    EXPECT_TRUE(l.entries.Snapshot(oldGeneration, oldFirst).empty());
    EXPECT_GT(l.entries.Generation(), before);
    const auto [newGeneration, newFirst] = l.sink.added.back();
    EXPECT_EQ(l.entries.Snapshot(newGeneration, newFirst).size(), 2u);
}

TEST(ListingControl, RequestDuringLastPageIsNotLost) {
    // A request arriving after the worker's last check must still be listed.
    Listing l;
    l.feeds.pages = {{"a", Page("a", 3)}, {"b", Page("b", 1)}};
    // Arrives after the restart check of the last (short) page.
    l.sink.onAdded = [&] { EXPECT_FALSE(l.control.Request({"b", "", false, true})); };
    l.Run({"a", "", false, true});
    EXPECT_EQ(l.Titles(), (std::vector<std::string>{"b0"}));
}

TEST(EntryList, ConcurrentAppendsAndReads) {
    FolderList folders;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&folders] {
            for (int i = 0; i < 500; ++i) folders.Append(std::make_shared<const DocEntry>());
        });
    std::size_t seen = 0;
    for (int i = 0; i < 200; ++i) seen = std::max(seen, folders.Snapshot().size());
    for (auto& w : writers) w.join();
    EXPECT_EQ(folders.Size(), 2000u);
    EXPECT_LE(seen, 2000u);
}

TEST(EntryList, RecordsOutliveClear) {
    EntryList list;
    auto e = std::make_shared<DocEntry>();
    e->title = "kept";
    list.Append(e);
    const DocEntryPtr held = list.At(0);
    list.Clear();
    EXPECT_EQ(held->title, "kept");
    EXPECT_EQ(list.At(0), nullptr);
}

// A new upload goes in front while a listing appends: the listing's records
// keep their append positions, so none is announced twice or skipped.
TEST(EntryList, FrontInsertKeepsAppendPositions) {
    EntryList list;
    const auto make = [](const char* title) {
        auto e = std::make_shared<DocEntry>();
        e->title = title;
        return DocEntryPtr(e);
    };
    const std::uint64_t generation = list.Generation();
    list.Append({make("a0"), make("a1")});
    list.InsertFront(make("new"));
    list.Append(make("a2"));
    EXPECT_EQ(list.At(0)->title, "new");
    const auto since = list.AppendedSince(generation, 2);
    ASSERT_EQ(since.size(), 1u);
    EXPECT_EQ(since[0]->title, "a2");
    EXPECT_EQ(list.AppendedSince(generation, 0).size(), 3u);
    list.Clear();
    EXPECT_TRUE(list.AppendedSince(generation, 0).empty());  // an older generation
    list.Append(make("b0"));
    EXPECT_EQ(list.AppendedSince(list.Generation(), 0).size(), 1u);
}

}  // namespace
}  // namespace tallowdesk
