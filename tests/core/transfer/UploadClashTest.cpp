#include <gtest/gtest.h>

#include "TransferFakes.h"
#include "model/FeedCatalogue.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk {
namespace {

using test::TransferTest;
namespace fs = std::filesystem;

struct CountingObserver : UploadObserver {
    std::vector<std::string> added;
    int treeFolders = 0;
    int refreshes = 0;
    void AddFolderToTree(const NewTreeFolder&) override { ++treeFolders; }
    void AddUploadedItem(const DocEntryPtr& e) override { added.push_back(e->title.value_or("?")); }
    void RefreshList() override { ++refreshes; }
};

std::string FileEntry(const std::string& title, const std::string& media) {
    return "<entry><title>" + title + "</title><gd:resourceId>file:" + media +
           "</gd:resourceId><link rel='edit-media' href='" + media + "'/></entry>";
}
std::string FolderEntry(const std::string& title, const std::string& contents) {
    return "<entry><title>" + title + "</title><gd:resourceId>folder:" + title +
           "</gd:resourceId><content src='" + contents + "'/></entry>";
}

struct Row {
    const char* name;
    ClashAnswer folderAnswer, fileAnswer;
    std::vector<std::string> questions;  // "F <path>" for a folder, "f <path>" for a file
    std::vector<std::string> made;       // folders created: parent-relative title
    std::vector<std::string> uploads;    // "<target-relative folder>|<name given>"
    std::vector<std::string> replaced;   // edit-media links
    std::vector<std::string> added;      // rows added to the list showing the target
    int refreshes;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// The target already holds a file "single.txt", a "single (2).txt" and a
// folder "top" with a file "a.txt". Uploaded: the local folder top/{a.txt,
// sub/b.txt} and single.txt.
class UploadClash : public TransferTest, public ::testing::WithParamInterface<Row> {};

TEST_P(UploadClash, EachChoiceForFilesAndFolders) {
    const Row& row = GetParam();
    const std::string target = DocumentListUrl() + "/folder%3Aabc/contents";
    WriteFile(Tmp() / "top" / "a.txt", "new a");
    WriteFile(Tmp() / "top" / "sub" / "b.txt", "b");
    WriteFile(Tmp() / "single.txt", "new single");
    ops.pages[target] = "<feed>" + FileEntry("single.txt", "media/single") +
                        FileEntry("single (2).txt", "media/single2") +
                        FolderEntry("top", target + "/top") + "</feed>";
    ops.pages[target + "/top"] = "<feed>" + FileEntry("a.txt", "media/a") + "</feed>";

    std::vector<std::string> questions;
    const ClashAsker asker = [&](const ClashQuestion& q) {
        questions.push_back((q.folder ? "F " : "f ") + q.path.string());
        return q.folder ? row.folderAnswer : row.fileAnswer;
    };
    CountingObserver observer;
    FolderList folders;
    RunUpload(
        {{Tmp() / "top", true}, {Tmp() / "single.txt", false}}, target, ops, sink, observer,
        [&] { return target; }, folders, asker, "Target");

    EXPECT_TRUE(sink.details.empty()) << sink.details.front();
    EXPECT_EQ(questions, row.questions);
    std::vector<std::string> made, uploads, replaced;
    const auto relative = [&](const std::string& url) {
        return url == target ? std::string(".") : url.substr(target.size() + 1);
    };
    for (const auto& f : ops.folders) made.push_back(relative(f.parent) + "/" + f.title);
    for (const auto& u : ops.uploads) uploads.push_back(relative(u.target) + "|" + u.name);
    for (const auto& r : ops.replacements) replaced.push_back(r.editMediaUrl);
    EXPECT_EQ(made, row.made);
    EXPECT_EQ(uploads, row.uploads);
    EXPECT_EQ(replaced, row.replaced);
    EXPECT_EQ(observer.added, row.added);
    EXPECT_EQ(observer.refreshes, row.refreshes);
    // A folder already in the tree is not put there again.
    const bool newTop = !row.made.empty() && row.made.front().rfind("./", 0) == 0;
    EXPECT_EQ(observer.treeFolders, newTop ? 1 : 0);
}

const ClashAnswer kSkip{ClashChoice::Skip, false};
const ClashAnswer kBoth{ClashChoice::KeepBoth, false};
const ClashAnswer kReplace{ClashChoice::Replace, false};
const ClashAnswer kReplaceAll{ClashChoice::Replace, true};

INSTANTIATE_TEST_SUITE_P(
    Choices, UploadClash,
    ::testing::Values(
        Row{"skip", kSkip, kSkip, {"F Target/top", "f Target/single.txt"}, {}, {}, {}, {}, 0},
        // The numbered names skip "single (2).txt", which is taken.
        Row{"keepBoth",
            kBoth,
            kBoth,
            {"F Target/top", "f Target/single.txt"},
            {"./top (2)", "top (2)/sub"},
            {"top (2)|", "top (2)/sub|", ".|single (3).txt"},
            {},
            {"top (2)", "single (3).txt"},
            0},
        // Merged: only what is missing is made; a.txt meets its own question.
        Row{"mergeAndReplace",
            kReplace,
            kReplace,
            {"F Target/top", "f Target/top/a.txt", "f Target/single.txt"},
            {"top/sub"},
            {"top/sub|"},
            {"media/a", "media/single"},
            {},
            2},
        Row{"replaceForAllFilesAsksOnce",
            kReplace,
            kReplaceAll,
            {"F Target/top", "f Target/top/a.txt"},
            {"top/sub"},
            {"top/sub|"},
            {"media/a", "media/single"},
            {},
            2}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The command-line client asks nothing: no folder is read and every source
// makes a new entry beside any of the same name, as it always did.
TEST_F(TransferTest, WithoutAnAskerNothingIsLookedUpAndEverySourceIsNew) {
    const std::string target = DocumentListUrl() + "/folder%3Aabc/contents";
    WriteFile(Tmp() / "single.txt");
    ops.pages[target] = "<feed>" + FileEntry("single.txt", "media/single") + "</feed>";
    CountingObserver observer;
    FolderList folders;
    RunUpload(
        {{Tmp() / "single.txt", false}}, target, ops, sink, observer, [&] { return target; },
        folders);
    EXPECT_TRUE(ops.feedRequests.empty());
    ASSERT_EQ(ops.uploads.size(), 1u);
    EXPECT_EQ(ops.uploads[0].name, "");
    EXPECT_TRUE(ops.replacements.empty());
}

}  // namespace
}  // namespace tallowdesk
