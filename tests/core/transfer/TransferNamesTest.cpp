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

}  // namespace
}  // namespace tallowdesk
