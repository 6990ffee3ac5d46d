#include <gtest/gtest.h>

#include "transfer/TransferNames.h"

namespace tallowdesk {
namespace {

// Guards against a cut in the middle of a multi-byte character, which would
// send the service a title that is not UTF-8.
TEST(TransferNames, UploadFolderNameIsTheLastComponentCutAtACharacterBoundary) {
    const std::string e = "\xC3\xA9";             // é, 2 bytes
    const std::string grin = "\xF0\x9F\x98\x80";  // 4 bytes
    std::string twoByte, oddStart = "a", fourByte = "ab";
    for (int i = 0; i < 100; ++i) twoByte += e, oddStart += e;
    for (int i = 0; i < 40; ++i) fourByte += grin;

    EXPECT_EQ(UploadFolderName("/home/u/Photos"), "Photos");
    EXPECT_EQ(UploadFolderName("/home/u/Photos//"), "Photos");
    EXPECT_EQ(UploadFolderName("/home/u/" + twoByte), twoByte.substr(0, 128));
    EXPECT_EQ(UploadFolderName("/x/" + oddStart), oddStart.substr(0, 127));
    EXPECT_EQ(UploadFolderName("/x/" + fourByte), fourByte.substr(0, 126));
    EXPECT_EQ(UploadFolderName("/x/" + std::string(129, 'a')), std::string(128, 'a'));
    EXPECT_EQ(UploadFolderName("/x/" + std::string(128, 'a')), std::string(128, 'a'));
}

// Regression: a title longer than the file system takes was downloaded in full
// and only failed at the final rename.
TEST(TransferNames, LocalNamesTooLongAreCutKeepingTheExtension) {
    const std::string e = "\xC3\xA9";  // é, 2 bytes
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += e;
    const struct {
        std::string name, expected;
    } cases[] = {
        {std::string(255, 'a'), std::string(255, 'a')},
        {std::string(300, 'a') + ".pdf", std::string(251, 'a') + ".pdf"},
        {"a" + accents + ".txt", "a" + accents.substr(0, 250) + ".txt"},
        {"a" + accents, "a" + accents.substr(0, 254)},
        // Not an extension: too long, or the name's leading dot.
        {std::string(300, 'a') + "." + std::string(40, 'b'), std::string(255, 'a')},
        {"." + std::string(300, 'a'), "." + std::string(254, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(FitLocalName(c.name), c.expected) << c.name.size();
    EXPECT_EQ(DownloadPath("/d", std::string(300, 'r'), "document"),
              "/d/" + std::string(251, 'r') + ".doc");
    EXPECT_EQ(ExportPath("/d", std::string(300, 'r'), "pdf"),
              "/d/" + std::string(251, 'r') + ".pdf");
}

}  // namespace
}  // namespace tallowdesk
