#include <gtest/gtest.h>

#include "transfer/TransferNames.h"

namespace tallowdesk {
namespace {

// Guards against a byte limit on folder names, which cut non-ASCII names
// early and could split a character (the service then got a title that is
// not UTF-8): the limit is 128 whole characters.
TEST(TransferNames, UploadFolderNameIsTheLastComponentCutAtOneHundredTwentyEightCharacters) {
    const auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string e = "\xC3\xA9";             // é, 2 bytes
    const std::string grin = "\xF0\x9F\x98\x80";  // 4 bytes
    const struct {
        std::string path, expected;
    } cases[] = {
        {"/home/u/Photos", "Photos"},
        {"/home/u/Photos//", "Photos"},
        {"/x/" + repeat(e, 200), repeat(e, 128)},
        {"/x/a" + repeat(e, 200), "a" + repeat(e, 127)},
        {"/x/ab" + repeat(grin, 200), "ab" + repeat(grin, 126)},
        {"/x/" + repeat(grin, 128), repeat(grin, 128)},
        {"/x/" + std::string(129, 'a'), std::string(128, 'a')},
        {"/x/" + std::string(128, 'a'), std::string(128, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(UploadFolderName(c.path), c.expected) << c.path;
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
