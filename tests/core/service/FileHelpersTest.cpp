#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "Failure.h"
#include "TempDir.h"
#include "service/FileHelpers.h"
#include "service/ResponseBuffer.h"
#include "service/TransportSecurity.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
    ReplaceAll(text, from, to);
    return text;
}

TEST(ReplaceAll, InsertedTextIsNotSearchedAgain) {
    EXPECT_EQ(Replaced("a&&b", "&", "&amp;"), "a&amp;&amp;b");
    EXPECT_EQ(Replaced("&", "&", "&amp;"), "&amp;");
    EXPECT_EQ(Replaced("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(Replaced("abab", "ab", ""), "");
    EXPECT_EQ(Replaced("none", "&", "&amp;"), "none");
    EXPECT_EQ(Replaced("keep", "", "x"), "keep");
}

using test::Failure;

TEST(NameHelpers, FileNameExtensionAndTrailingDot) {
    EXPECT_EQ(FileNameFromPath("/home/u/docs/report.txt"), "report.txt");
    EXPECT_EQ(FileNameFromPath("/home/u/docs/"), "docs");
    EXPECT_EQ(FileNameFromPath("report.txt"), "report.txt");
    // A backslash is part of a Linux file name.
    EXPECT_EQ(FileNameFromPath("/tmp/a\\b"), "a\\b");
    EXPECT_EQ(Failure([] { FileNameFromPath(""); }), "the filePath can not be empty");

    EXPECT_EQ(FileExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(FileExtension("README"), "");
    EXPECT_EQ(FileExtension("name."), "");
    EXPECT_EQ(Failure([] { FileExtension(""); }), "the file name can not be empty");

    EXPECT_EQ(StripTrailingDot("name."), "name");
    EXPECT_EQ(StripTrailingDot("a.b"), "a.b");
    EXPECT_EQ(StripTrailingDot("x.."), "x.");
    EXPECT_EQ(StripTrailingDot(""), "");
}

class FileSystemHelpers : public ::testing::Test {
protected:
    test::TempDir m_temp;
    const fs::path m_dir = m_temp.Path();
};

TEST_F(FileSystemHelpers, SizeOfFilesOnly) {
    const fs::path file = m_dir / "data.bin";
    std::ofstream(file, std::ios::binary) << std::string(12345, 'z');
    EXPECT_EQ(FileSizeOf(file.string()), 12345u);
    std::ofstream(m_dir / "empty");
    EXPECT_EQ(FileSizeOf((m_dir / "empty").string()), 0u);
    EXPECT_EQ(Failure([&] { FileSizeOf((m_dir / "missing").string()); }), "create file failed. ");
    EXPECT_EQ(Failure([&] { FileSizeOf(m_dir.string()); }), "create file failed. ");
}

// Regression: opening a FIFO without a writer blocked the upload worker.
TEST_F(FileSystemHelpers, AFifoIsRefusedWithoutWaitingForAWriter) {
    const fs::path pipe = m_dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto size =
        std::async(std::launch::async, [&] { return Failure([&] { FileSizeOf(pipe.string()); }); });
    if (size.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the blocked open return so the test can end.
        const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        size.wait();
        ::close(writer);
        FAIL() << "FileSizeOf waited for a writer";
    }
    EXPECT_EQ(size.get(), "create file failed. ");
}

TEST_F(FileSystemHelpers, DirectoriesAndTreeRemoval) {
    const fs::path tree = m_dir / "tree";
    fs::create_directories(tree / "a" / "b");
    std::ofstream(tree / "a" / "b" / "f.txt") << "x";
    std::ofstream(m_dir / "plain.txt") << "x";

    EXPECT_TRUE(IsDirectory(tree.string()));
    EXPECT_FALSE(IsDirectory((m_dir / "plain.txt").string()));
    EXPECT_FALSE(IsDirectory((m_dir / "missing").string()));
    EXPECT_FALSE(IsDirectory(""));

    EXPECT_TRUE(DeleteFolderTree(tree.string()));
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(DeleteFolderTree((m_dir / "missing").string()));
    // A file is not a folder tree: it is left alone.
    EXPECT_TRUE(DeleteFolderTree((m_dir / "plain.txt").string()));
    EXPECT_TRUE(fs::exists(m_dir / "plain.txt"));
}

TEST_F(FileSystemHelpers, CaBundleKeepsSystemCasAndAddsExtraOne) {
    const fs::path system = m_dir / "system.pem";
    const fs::path extra = m_dir / "extra.pem";
    std::ofstream(system) << "SYSTEM";
    std::ofstream(extra) << "EXTRA\n";
    EXPECT_EQ(BuildCaBundle(system.string(), extra.string()), "SYSTEM\nEXTRA\n");
    // No usable extra file: libcurl's own defaults apply.
    EXPECT_EQ(BuildCaBundle(system.string(), ""), "");
    EXPECT_EQ(BuildCaBundle(system.string(), (m_dir / "missing.pem").string()), "");
    EXPECT_EQ(BuildCaBundle((m_dir / "missing.pem").string(), extra.string()), "EXTRA\n");
}

TEST(NowMilliseconds, IsWallClockInMilliseconds) {
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const auto now = NowMilliseconds();
    EXPECT_GE(now, before);
    EXPECT_GT(now, 1'500'000'000'000);  // after 2017: not seconds, not a monotonic clock
}

TEST(ResponseBuffer, AppendsAndReportsBytesTaken) {
    ResponseBuffer buffer;
    char first[] = "abc";
    char second[] = "defgh";
    EXPECT_EQ(ResponseBuffer::Append(first, 1, 3, &buffer), 3u);
    EXPECT_EQ(ResponseBuffer::Append(second, 5, 1, &buffer), 5u);
    EXPECT_EQ(ResponseBuffer::Append(second, 1, 0, &buffer), 0u);
    EXPECT_EQ(buffer.Text(), "abcdefgh");
    // A size that cannot be represented must fail the transfer, not wrap around.
    EXPECT_EQ(ResponseBuffer::Append(first, SIZE_MAX / 2, 3, &buffer), 0u);
    EXPECT_EQ(buffer.Text(), "abcdefgh");
}

}  // namespace
}  // namespace tallowdesk
