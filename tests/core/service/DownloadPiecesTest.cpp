// Download URLs, the export table, temporary names and the streaming callbacks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "service/Download.h"
#include "service/TransferProgress.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk {
namespace {

TEST(DownloadRequest, ExportFormatByKind) {
    const std::string url = "https://h/feeds/download/documents/Export?docID=d1";
    EXPECT_EQ(DownloadRequestUrl(url, "document", std::nullopt), url + "&exportFormat=doc");
    EXPECT_EQ(DownloadRequestUrl(url, "document", ""), url + "&exportFormat=doc");
    EXPECT_EQ(DownloadRequestUrl(url, "presentation", std::nullopt), url + "&exportFormat=ppt");
    EXPECT_EQ(DownloadRequestUrl(url, "spreadsheet", "csv"), url + "&exportFormat=csv");
    EXPECT_EQ(DownloadRequestUrl(url, "drawing", std::nullopt), url + "&exportFormat=jpeg");
    EXPECT_EQ(DownloadRequestUrl(url, "form", std::nullopt), url + "&exportFormat=html");
    EXPECT_EQ(DownloadRequestUrl(url, "pdf", "doc"), url);
    EXPECT_EQ(DownloadRequestUrl(url, "file", std::nullopt), url);
    EXPECT_EQ(DownloadRequestUrl("https://h/e", "document", "pdf"), "https://h/e?exportFormat=pdf");
}

TEST(ExportTable, MenusPerKindInOrder) {
    std::map<std::string, std::string> values;
    for (const char* kind : {"document", "presentation", "spreadsheet", "drawing", "file"}) {
        for (const ExportFormat& format : ExportFormatsForKind(kind)) {
            values[kind] += std::string(format.value) + " ";
        }
    }
    EXPECT_EQ(values["document"], "doc html jpeg odt pdf png rtf txt zip ");
    EXPECT_EQ(values["presentation"], "pdf png ppt swf txt ");
    EXPECT_EQ(values["spreadsheet"], "xls csv pdf ods tsv html ");
    EXPECT_EQ(values["drawing"], "jpeg pdf png svg ");
    EXPECT_EQ(values["file"], "");
    const ExportFormat flash = ExportFormatsForKind("presentation")[3];
    EXPECT_EQ(std::string(flash.menu) + "/" + std::string(flash.label) + "/" +
                  std::to_string(flash.commandId),
              "DOWNLOADPPT/Flash Format/40073");
    // Temporary names stay within the file-system limit beside the target.
    const auto temp = DownloadTempPath("/d/" + std::string(255, 'x'), 3);
    EXPECT_EQ(temp.parent_path(), "/d");
    EXPECT_LE(temp.filename().string().size(), 255u);
}

class CancelAfterSecond : public TransferProgressListener {
public:
    void OnProgress(std::uint64_t done, std::uint64_t) override {
        seen.push_back(done);
        if (seen.size() == 2) transferCancel = true;
    }
    std::vector<std::uint64_t> seen;
};

TEST(StreamingCallbacks, CountPast4GiBStopAtAnnouncedLengthAndOnCancel) {
    transferCancel = false;
    char name[] = "/tmp/tallowdesk-stream-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    CancelAfterSecond listener;
    // Regression: a 32-bit counter wrapped after 4 GiB.
    TransferProgress download{fd, 0xFFFFFFF0ULL, &listener, 0};
    char chunk[] = "0123456789abcdef";
    EXPECT_EQ(WriteToFileWithProgress(chunk, 1, 16, &download), 16u);
    EXPECT_EQ(WriteToFileWithProgress(chunk, 2, 4, &download), 8u);
    EXPECT_EQ(listener.seen, (std::vector<std::uint64_t>{0x100000000ULL, 0x100000008ULL}));
    EXPECT_EQ(WriteToFileWithProgress(chunk, 1, 16, &download), 0u) << "cancelled";
    transferCancel = false;

    // A file shorter than announced fails instead of sending a short body.
    ::lseek(fd, 0, SEEK_SET);
    char buffer[64];
    TransferProgress upload{fd, 0, nullptr, 0, 10};
    EXPECT_EQ(ReadFromFileWithProgress(buffer, 1, 64, &upload), 10u) << "stops at the length";
    EXPECT_EQ(ReadFromFileWithProgress(buffer, 1, 64, &upload), 0u);
    TransferProgress longer{fd, 0, nullptr, 0, 40};
    ::lseek(fd, 0, SEEK_SET);
    EXPECT_EQ(ReadFromFileWithProgress(buffer, 1, 64, &longer), 24u);
    EXPECT_EQ(ReadFromFileWithProgress(buffer, 1, 64, &longer), kReadAbort);
    transferCancel = true;
    EXPECT_EQ(ReadFromFileWithProgress(buffer, 1, 64, &upload), kReadAbort);
    transferCancel = false;
    ::close(fd);
    std::filesystem::remove(name);
    EXPECT_EQ(RatePerMs(1000, 50, 50), 0u);
    EXPECT_EQ(RatePerMs(1000, 50, 60), 100u);
}

}  // namespace
}  // namespace tallowdesk
