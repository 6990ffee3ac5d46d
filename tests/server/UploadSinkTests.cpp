#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "BackgroundSync.h"
#include "ServerTestSupport.h"
#include "UploadSink.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kBoundary = "----sinkBoundaryXYZ";

// File bytes that hold near misses of the delimiter ("\r\n--" and most of the
// boundary), so a search that stops early or skips a split one shows.
std::string TrickyBytes(std::size_t size) {
    const std::string nearMiss = std::string("\r\n--") + kBoundary;
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < size; ++i) {
        bytes += static_cast<char>((i * 37) % 251);
        if (i % 997 == 0) bytes += nearMiss.substr(0, 4 + i % (nearMiss.size() - 4));
    }
    bytes.resize(size);
    return bytes;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Regression: the file part of a form is stored exactly, whatever sizes the
// pieces arrive in, including a delimiter split across two pieces and pieces
// larger and smaller than the sink's own write size.
TEST(UploadSinkTest, StoresTheFilePartWhateverThePieceSizes) {
    TempDir dir;
    const std::string file = TrickyBytes(700 * 1024 + 13);
    const std::string form = std::string("--") + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"Filedata\"; "
                             "filename=\"a.bin\"\r\n\r\n" +
                             file + "\r\n--" + kBoundary + "--\r\n";
    const std::size_t delimiter = std::string("\r\n--").size() + std::string(kBoundary).size();
    const std::size_t pieces[] = {1,
                                  3,
                                  delimiter - 1,
                                  delimiter,
                                  delimiter + 1,
                                  4096,
                                  256 * 1024 - 1,
                                  256 * 1024 + 5,
                                  form.size()};
    for (const std::size_t piece : pieces) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        UploadSink sink(dir.Path().string(), kBoundary, 1ull << 30);
        for (std::size_t at = 0; at < form.size(); at += piece) {
            ASSERT_TRUE(sink.Put(std::string_view(form).substr(at, piece)));
        }
        ASSERT_TRUE(sink.Finish()) << sink.Reason();
        EXPECT_EQ(sink.Size(), file.size());
        EXPECT_EQ(sink.PartHeaders(),
                  "Content-Disposition: form-data; name=\"Filedata\"; filename=\"a.bin\"\r\n");
        const std::string stored = Contents(sink.TempPath());
        ASSERT_EQ(stored.size(), file.size());
        EXPECT_TRUE(stored == file);
    }
    // Every cut around the closing delimiter, alone or with a tiny piece after it.
    const std::size_t end = form.size();
    const std::size_t closing = form.find(std::string("\r\n--") + kBoundary + "--");
    ASSERT_LT(closing, end);
    for (std::size_t cut = closing - delimiter - 2; cut <= closing + delimiter; ++cut) {
        for (std::size_t middle = 0; middle <= 3; ++middle) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + ", then " + std::to_string(middle));
            UploadSink sink(dir.Path().string(), kBoundary, 1ull << 30);
            const std::string_view all(form);
            ASSERT_TRUE(sink.Put(all.substr(0, cut)));
            ASSERT_TRUE(sink.Put(all.substr(cut, middle)));
            ASSERT_TRUE(sink.Put(all.substr(cut + middle)));
            ASSERT_TRUE(sink.Finish()) << sink.Reason();
            ASSERT_EQ(sink.Size(), file.size());
        }
    }
}

TEST(UploadSinkTest, RawBodyIsStoredAndLimitHolds) {
    TempDir dir;
    const std::string body = TrickyBytes(300 * 1024);
    {
        UploadSink sink(dir.Path().string(), "", 1ull << 30);
        for (std::size_t at = 0; at < body.size(); at += 1000) {
            ASSERT_TRUE(sink.Put(std::string_view(body).substr(at, 1000)));
        }
        ASSERT_TRUE(sink.Finish());
        EXPECT_TRUE(Contents(sink.TempPath()) == body);
    }
    UploadSink small(dir.Path().string(), "", 1000);
    EXPECT_TRUE(small.Put(std::string_view(body).substr(0, 999)));
    EXPECT_FALSE(small.Put(std::string_view(body).substr(999, 1)));
    EXPECT_EQ(small.Status(), 413);
    EXPECT_FALSE(small.Finish());
}

// Answers the background syncs from a script and lets the test wait for them.
class ScriptedSyncs {
public:
    explicit ScriptedSyncs(std::vector<int> results) : m_results(std::move(results)) {}
    BackgroundSync::SyncFunction Function() {
        return [this](int) {
            std::lock_guard lock(m_mutex);
            const int result = m_calls < m_results.size() ? m_results[m_calls] : 0;
            ++m_calls;
            m_called.notify_all();
            return result;
        };
    }
    bool WaitFor(std::size_t calls) {
        std::unique_lock lock(m_mutex);
        return m_called.wait_for(lock, std::chrono::seconds(10), [&] { return m_calls >= calls; });
    }
    std::size_t Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    std::vector<int> m_results;
    std::mutex m_mutex;
    std::condition_variable m_called;
    std::size_t m_calls = 0;
};

TEST(UploadSinkSyncTest, TheFileIsSyncedWhileItGrowsAndAFailedSyncIsNotForgotten) {
    constexpr std::uint64_t kStep = BackgroundSync::kStep;
    struct Case {
        const char* what;
        std::vector<int> results;          // of the syncs in turn
        std::vector<std::uint64_t> sizes;  // reported one after another
        std::size_t syncsBeforeStop;
        bool ok;
    };
    const Case cases[] = {
        {"a small file is never synced before its end", {}, {1, kStep - 1}, 0, true},
        {"each step is synced while the file still grows", {0, 0}, {kStep, 2 * kStep + 5}, 2, true},
        // The kernel reports a write-back error once: the sync at the end
        // may succeed although an earlier one lost data.
        {"a failed sync fails the file though later ones succeed",
         {-1, 0},
         {kStep, 2 * kStep},
         2,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSyncs syncs(c.results);
        BackgroundSync sync(-1, syncs.Function());
        std::size_t expected = 0;
        for (const std::uint64_t size : c.sizes) {
            sync.Written(size);
            if (size / kStep > expected) {
                ++expected;
                ASSERT_TRUE(syncs.WaitFor(expected)) << "no sync after " << size << " bytes";
            }
        }
        EXPECT_EQ(syncs.Calls(), c.syncsBeforeStop);
        EXPECT_EQ(sync.Stop(), c.ok);
    }
}

// The sync thread works on the sink's file: a sink finished or dropped while
// it runs must neither crash nor keep the temporary file.
TEST(UploadSinkSyncTest, ALargeBodyIsStoredWholeAndADroppedOneLeavesNothing) {
    TempDir dir;
    const std::string piece = TrickyBytes(1024 * 1024);
    const std::uint64_t pieces = BackgroundSync::kStep / piece.size() * 2 + 3;
    std::string dropped;
    {
        UploadSink sink(dir.Path().string(), "", 1ull << 30);
        for (std::uint64_t i = 0; i < pieces; ++i) ASSERT_TRUE(sink.Put(piece));
        dropped = sink.TempPath();
    }
    EXPECT_FALSE(std::filesystem::exists(dropped));
    UploadSink sink(dir.Path().string(), "", 1ull << 30);
    for (std::uint64_t i = 0; i < pieces; ++i) ASSERT_TRUE(sink.Put(piece));
    ASSERT_TRUE(sink.Finish()) << sink.Reason();
    EXPECT_EQ(std::filesystem::file_size(sink.TempPath()), pieces * piece.size());
}

}  // namespace
}  // namespace tallowdesk::server::test
