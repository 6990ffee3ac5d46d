// A request sent again on a fresh connection (the kept one was closed by the
// service under it) must send the whole body again from its first byte.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "service/TransferProgress.h"

namespace tallowdesk {
namespace {

TEST(UploadRewind, SeekStartsTheBodyOverAndRefusesWhatItCannotDo) {
    // In the test's own temporary folder, not the machine's /tmp.
    std::string name =
        (std::filesystem::temp_directory_path() / "tallowdesk-rewind-XXXXXX").string();
    const int fd = ::mkstemp(name.data());
    ASSERT_GE(fd, 0);
    const std::string body = "0123456789abcdefghij";
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
    ::lseek(fd, 0, SEEK_SET);

    TransferProgress upload{fd, 0, nullptr, 0, body.size()};
    char buffer[64];
    ASSERT_EQ(ReadFromFileWithProgress(buffer, 1, 12, &upload), 12u);

    struct Row {
        std::int64_t offset;
        int origin;
        int result;
        std::string rest;  // what the next reads deliver
    };
    const Row table[] = {
        {0, SEEK_SET, CURL_SEEKFUNC_OK, body},
        {7, SEEK_SET, CURL_SEEKFUNC_OK, body.substr(7)},
        {0, SEEK_CUR, CURL_SEEKFUNC_CANTSEEK, ""},
        {-1, SEEK_SET, CURL_SEEKFUNC_CANTSEEK, ""},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::to_string(row.offset) + "/" + std::to_string(row.origin));
        EXPECT_EQ(SeekFileWithProgress(&upload, row.offset, row.origin), row.result);
        if (row.result != CURL_SEEKFUNC_OK) continue;
        EXPECT_EQ(upload.bytesDone, static_cast<std::uint64_t>(row.offset));
        std::string sent;
        while (const std::size_t n = ReadFromFileWithProgress(buffer, 1, 8, &upload)) {
            ASSERT_NE(n, kReadAbort);
            sent.append(buffer, n);
        }
        EXPECT_EQ(sent, row.rest);
    }
    // A descriptor that cannot seek any more fails the retry instead of
    // sending from the wrong place.
    ::close(fd);
    EXPECT_EQ(SeekFileWithProgress(&upload, 0, SEEK_SET), CURL_SEEKFUNC_FAIL);
    std::filesystem::remove(name);
}

}  // namespace
}  // namespace tallowdesk
