#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

}  // namespace
}  // namespace tallowdesk::server::test
