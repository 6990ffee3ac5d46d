#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "TransferFakes.h"
#include "transfer/DownloadLoop.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk {
namespace {

using test::FakeOps;
using test::RecordingSink;
using test::TransferTest;
namespace fs = std::filesystem;

// The scripted service, called from several threads: one call at a time into
// the fake, and downloads held back until another has finished (by URL), so
// that transfers end in another order than they started.
struct ConcurrentOps : TransferOps {
    FakeOps fake;
    std::map<std::string, std::string> finishAfter;  // URL -> URL that must finish first
    std::mutex mutex;
    std::condition_variable changed;
    // URL -> URLs whose start it waits for, half a second at most each.
    std::multimap<std::string, std::string> endAfterStartOf;
    std::set<std::string> started, finished;
    std::set<fs::path> writing;
    int running = 0, most = 0;
    bool samePathAtOnce = false;
    bool uploadBeforeItsFolder = false;

    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override {
        std::lock_guard lock(mutex);
        fake.GetFeed(url, doc);
    }
    void DownloadEntry(const std::string& url, const std::string& kind, const fs::path& path,
                       const std::optional<std::string>& format,
                       TransferProgressSink& sink) override {
        std::unique_lock lock(mutex);
        most = std::max(most, ++running);
        samePathAtOnce = samePathAtOnce || !writing.insert(path).second;
        started.insert(url);
        changed.notify_all();
        const auto [first, last] = endAfterStartOf.equal_range(url);
        for (auto other = first; other != last; ++other)
            changed.wait_for(lock, std::chrono::milliseconds(500),
                             [&] { return started.count(other->second) > 0; });
        if (const auto after = finishAfter.find(url); after != finishAfter.end())
            changed.wait_for(lock, std::chrono::seconds(10),
                             [&] { return finished.count(after->second) > 0; });
        const struct End {
            ConcurrentOps& ops;
            const std::string& url;
            const fs::path& path;
            ~End() {
                --ops.running;
                ops.writing.erase(path);
                ops.finished.insert(url);
                ops.changed.notify_all();
            }
        } end{*this, url, path};
        fake.DownloadEntry(url, kind, path, format, sink);
    }
    void UploadFile(const fs::path& path, const std::string& target, const std::string& name,
                    tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override {
        std::lock_guard lock(mutex);
        uploadBeforeItsFolder =
            uploadBeforeItsFolder ||
            (target != "root" &&
             std::none_of(fake.folders.begin(), fake.folders.end(), [&](const FakeOps::Folder& f) {
                 return f.parent + "/" + f.title == target;
             }));
        fake.UploadFile(path, target, name, reply, sink);
    }
    void ReplaceContent(const fs::path& path, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override {
        std::lock_guard lock(mutex);
        fake.ReplaceContent(path, editMediaUrl, reply, sink);
    }
    void CreateFolder(const std::string& title, const std::string& parent,
                      tinyxml2::XMLDocument& reply) override {
        std::lock_guard lock(mutex);
        fake.CreateFolder(title, parent, reply);
    }
};

std::string Entry(const std::string& title) {
    return "<entry><title>" + title + "</title><gd:resourceId>file:" + title +
           "</gd:resourceId><content src='dl/" + title + "'/></entry>";
}

using TransferRunnerTest = TransferTest;

// Whatever order the transfers end in, the sink hears one after another.
TEST_F(TransferRunnerTest, DownloadsEndingOutOfOrderReportInItemOrder) {
    struct Case {
        unsigned transfers;
        int most;  // transfers seen running at once
    };
    std::vector<std::string> events, details;
    for (const Case& c : {Case{1, 1}, Case{3, 3}, Case{8, 3}}) {
        SCOPED_TRACE(c.transfers);
        ConcurrentOps ops;
        ops.fake.pages = {{"sub", "<feed>" + Entry("d0") + Entry("d1") + Entry("d2") + "</feed>"}};
        ops.fake.downloadFailures["dl/b"] = [] { throw std::runtime_error("broken"); };
        ops.fake.downloadFailures["dl/d1"] = [] { throw std::runtime_error("gone"); };
        // The first two wait for the third: they end last. The third waits
        // for both to have started, or it could be over before the second
        // began and never three run at once.
        if (c.transfers > 1) {
            ops.finishAfter = {{"dl/a", "dl/b"}, {"dl/b", "dl/c"}};
            ops.endAfterStartOf = {{"dl/c", "dl/a"}, {"dl/c", "dl/b"}};
        }
        RecordingSink sink;
        const fs::path to = Tmp() / std::to_string(c.transfers);
        fs::create_directory(to);
        RunDownload({{"dl/a", "a", "file", 3},
                     {"dl/b", "b", "file", 3},
                     {"dl/c", "c", "file", 0},
                     {"sub", "Sub", "folder", 0},
                     {"dl/e", "e", "file", 3}},
                    to, ops, sink, {}, c.transfers);

        EXPECT_GE(ops.most, c.most);
        EXPECT_LE(ops.most, static_cast<int>(c.transfers));
        EXPECT_EQ(sink.finished, 1);
        EXPECT_EQ(sink.details,
                  (std::vector<std::string>{"b  Failed!:    broken", "d1  Failed!:    gone"}));
        for (const char* name : {"a", "c", "Sub/d0", "Sub/d2", "e"})
            EXPECT_EQ(test::ReadAll(to / name), "dl/" + fs::path(name).filename().string());
        if (events.empty()) {
            events = sink.events;
            details = sink.details;
        } else {
            EXPECT_EQ(sink.events, events);
            EXPECT_EQ(sink.details, details);
        }
    }
}

// Two items of one name: the second replaces the first once it is complete,
// as one after another, instead of both writing the same file at once.
TEST_F(TransferRunnerTest, ASecondItemOfTheSameNameWaitsForTheFirst) {
    ConcurrentOps ops;
    // "y" ends first and frees a thread for the second "x"; the first "x"
    // would wait for that one to start.
    ops.finishAfter = {{"dl/x1", "dl/y"}};
    ops.endAfterStartOf = {{"dl/x1", "dl/x2"}};
    RunDownload({{"dl/x1", "x", "file", 5}, {"dl/y", "y", "file", 4}, {"dl/x2", "x", "file", 5}},
                Tmp(), ops, sink, {}, 2);
    EXPECT_FALSE(ops.samePathAtOnce);
    EXPECT_EQ(test::ReadAll(Tmp() / "x"), "dl/x2");
    EXPECT_TRUE(sink.details.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(Tmp()), fs::directory_iterator()), 2);
}

struct CountingObserver : UploadObserver {
    std::mutex mutex;
    std::vector<std::string> added;
    void AddFolderToTree(const NewTreeFolder&) override {}
    void AddUploadedItem(const DocEntryPtr& e) override {
        std::lock_guard lock(mutex);
        added.push_back(e->title.value_or(""));
    }
    void RefreshList() override {}
};

// Folders are made before their files, and the sink hears the same as one
// after another.
TEST_F(TransferRunnerTest, UploadsMakeEachFolderBeforeItsFilesAndReportInOrder) {
    WriteFile(Tmp() / "top" / "a.txt");
    WriteFile(Tmp() / "top" / "sub" / "b.txt");
    WriteFile(Tmp() / "top" / "sub" / "c.txt");
    WriteFile(Tmp() / "one.txt");
    WriteFile(Tmp() / "two.txt");
    std::vector<std::string> events, details, added;
    for (const unsigned transfers : {1u, 4u}) {
        SCOPED_TRACE(transfers);
        ConcurrentOps ops;
        ops.fake.uploadFailures["c.txt"] = [] { throw std::runtime_error("refused"); };
        RecordingSink sink;
        CountingObserver observer;
        FolderList folders;
        RunUpload(
            {{Tmp() / "one.txt", false}, {Tmp() / "top", true}, {Tmp() / "two.txt", false}}, "root",
            ops, sink, observer, [] { return std::string("root"); }, folders, {}, {}, transfers);

        EXPECT_FALSE(ops.uploadBeforeItsFolder);
        EXPECT_EQ(ops.fake.uploads.size(), 5u);
        EXPECT_EQ(sink.details,
                  std::vector<std::string>{"Error: " + (Tmp() / "top" / "sub" / "c.txt").string() +
                                           " :  refused"});
        std::sort(observer.added.begin(), observer.added.end());
        if (events.empty()) {
            events = sink.events;
            details = sink.details;
            added = observer.added;
        } else {
            EXPECT_EQ(sink.events, events);
            EXPECT_EQ(sink.details, details);
            EXPECT_EQ(observer.added, added);
        }
    }
}

}  // namespace
}  // namespace tallowdesk
