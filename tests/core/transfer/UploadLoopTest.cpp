#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TransferFakes.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceExceptions.h"
#include "transfer/UploadListRule.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk {
namespace {

using test::TransferTest;
namespace fs = std::filesystem;

struct RecordingObserver : UploadObserver {
    std::vector<NewTreeFolder> treeFolders;
    std::vector<std::string> added;  // titles
    int refreshes = 0;
    void AddFolderToTree(const NewTreeFolder& f) override { treeFolders.push_back(f); }
    void AddUploadedItem(const DocEntryPtr& e) override { added.push_back(e->title.value_or("?")); }
    void RefreshList() override { ++refreshes; }
};

// Local tree: top/{a.txt, empty/, sub/{b.txt, deeper/c.txt}} and single.txt.
class UploadTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        WriteFile(Tmp() / "top" / "a.txt");
        WriteFile(Tmp() / "top" / "sub" / "b.txt");
        WriteFile(Tmp() / "top" / "sub" / "deeper" / "c.txt");
        fs::create_directory(Tmp() / "top" / "empty");
        WriteFile(Tmp() / "single.txt");
    }

    void Run(const std::vector<UploadSource>& sources, const std::string& target) {
        RunUpload(
            sources, target, ops, sink, observer, [this] { return location; }, folders);
    }
    std::vector<std::string> UploadedNames() const {
        std::vector<std::string> names;
        for (const auto& u : ops.uploads) names.push_back(u.path.filename().string());
        return names;
    }

    const std::string target = DocumentListUrl() + "/folder%3Aabc/contents";
    std::string location = "elsewhere";
    RecordingObserver observer;
    FolderList folders;
};

TEST_F(UploadTest, FolderTreeMakesRemoteFoldersAndUploadsEachFileIntoItsOwnFolder) {
    Run({{Tmp() / "top", true}, {Tmp() / "single.txt", false}}, target);

    const std::string top = target + "/top";
    std::vector<std::pair<std::string, std::string>> made;
    for (const auto& f : ops.folders) made.emplace_back(f.title, f.parent);
    EXPECT_EQ(made, (std::vector<std::pair<std::string, std::string>>{
                        {"top", target}, {"empty", top}, {"sub", top}, {"deeper", top + "/sub"}}));
    std::vector<std::pair<fs::path, std::string>> sent;
    for (const auto& u : ops.uploads) sent.emplace_back(u.path, u.target);
    EXPECT_EQ(sent, (std::vector<std::pair<fs::path, std::string>>{
                        {Tmp() / "top" / "a.txt", top},
                        {Tmp() / "top" / "sub" / "b.txt", top + "/sub"},
                        {Tmp() / "top" / "sub" / "deeper" / "c.txt", top + "/sub/deeper"},
                        {Tmp() / "single.txt", target}}));

    // Only the top-level folder reaches the tree, under the target's node.
    ASSERT_EQ(observer.treeFolders.size(), 1u);
    EXPECT_EQ(observer.treeFolders[0].parentUrl, target);
    EXPECT_EQ(observer.treeFolders[0].title, "top");
    EXPECT_EQ(observer.treeFolders[0].contentsUrl, top);
    ASSERT_EQ(folders.Size(), 1u);
    EXPECT_EQ(folders.At(0), observer.treeFolders[0].entry);

    EXPECT_EQ(sink.EventsStartingWith("current"),
              (std::vector<std::string>{"current 1", "current 2", "current 3", "current 4"}));
    EXPECT_EQ(sink.EventsStartingWith("name").back(), "name " + (Tmp() / "single.txt").string());
    EXPECT_TRUE(sink.details.empty());
    EXPECT_TRUE(observer.added.empty() && observer.refreshes == 0) << "list shows another place";
    EXPECT_EQ(sink.finished, 1);
    EXPECT_FALSE(transferBusy);
}

TEST_F(UploadTest, TopLevelTargetPutsFolderUnderTreeRootAndRefreshesTheRootList) {
    location = DocumentListUrl();
    Run({{Tmp() / "top" / "sub", true}, {Tmp() / "single.txt", false}}, DocumentListUrl());

    ASSERT_EQ(observer.treeFolders.size(), 1u);
    EXPECT_EQ(observer.treeFolders[0].parentUrl, "");
    EXPECT_EQ(observer.refreshes, 1);
    EXPECT_EQ(observer.added, std::vector<std::string>{"single.txt"});
}

TEST_F(UploadTest, ListIsToldByTheLocationShownWhenEachSourceEnds) {
    location = target;
    ops.uploadFailures["b.txt"] = [] { throw std::runtime_error("File upload  failed."); };
    ops.afterUpload = [this] {
        if (ops.uploads.size() == 3) location = "elsewhere";
    };
    Run({{Tmp() / "top" / "a.txt", false},
         {Tmp() / "top" / "sub" / "b.txt", false},
         {Tmp() / "top" / "empty", true},
         {Tmp() / "single.txt", false}},
        target);
    // b.txt failed, and the user moved away before single.txt ended.
    EXPECT_EQ(observer.added, (std::vector<std::string>{"a.txt", "empty"}));
}

TEST_F(UploadTest, EachFailureGivesItsOwnLineAndTheNextFileStillRuns) {
    for (const char* name : {"w", "e", "g", "u", "ok"}) WriteFile(Tmp() / name);
    ops.uploadFailures["w"] = [] {
        throw UploadedFileGetInfoException("File information retrieval failed");
    };
    ops.uploadFailures["e"] = [] { throw std::runtime_error("File upload  failed."); };
    ops.uploadFailures["g"] = [] { throw GDocsUnsupportTypeException("Bad type"); };
    ops.uploadFailures["u"] = [] { throw 42; };
    std::vector<UploadSource> sources;
    for (const char* name : {"w", "e", "g", "u", "ok"}) sources.push_back({Tmp() / name, false});
    location = target;
    Run(sources, target);

    const std::string p = Tmp().string() + "/";
    EXPECT_EQ(sink.details,
              (std::vector<std::string>{
                  "Warning: " + p +
                      "w :  File information seems not correct, please check this file to make "
                      "sure that it is uploaded correctly. ",
                  "Error: " + p + "e :  File upload  failed.", "Error: " + p + "g :  Bad type",
                  p + "u  Failed!:  Unknown reason"}));
    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"w", "e", "g", "u", "ok"}));
    EXPECT_EQ(observer.added, std::vector<std::string>{"ok"});
}

TEST_F(UploadTest, FolderThatCannotBeMadeSkipsItsContentsWithOneLine) {
    ops.folderFailures.insert("sub");
    ops.folderReplyKinds["empty"] = "file";  // the service answered with no folder
    Run({{Tmp() / "top", true}}, target);

    EXPECT_EQ(sink.details, (std::vector<std::string>{"empty  Folder creation failed.",
                                                      "sub  Folder creation failed."}));
    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(observer.treeFolders.size(), 1u) << "the top folder itself was made";

    test::RecordingSink second;
    ops.folderFailures.insert("top");
    RunUpload(
        {{Tmp() / "top", true}}, target, ops, second, observer, [] { return ""; }, folders);
    EXPECT_EQ(second.details, std::vector<std::string>{"top  Folder creation failed."});
    EXPECT_EQ(observer.treeFolders.size(), 1u);
    EXPECT_EQ(folders.Size(), 1u);
}

TEST_F(UploadTest, SizeTextSaysMoreThan1GBOnlyAboveOneGiB) {
    const std::vector<std::pair<std::string, std::uintmax_t>> files = {
        {"exact", 1073741824}, {"above", 1073741825}, {"huge", 5368709120}, {"small", 1234}};
    std::vector<UploadSource> sources;
    for (const auto& [name, size] : files) {
        WriteFile(Tmp() / name, "");
        fs::resize_file(Tmp() / name, size);  // sparse: no disk space used
        sources.push_back({Tmp() / name, false});
    }
    Run(sources, target);
    EXPECT_EQ(sink.EventsStartingWith("size"),
              (std::vector<std::string>{"size 1 ,073 ,741 ,824  Byte", "size More than 1GB",
                                        "size More than 1GB", "size 1 ,234  Byte"}));
    EXPECT_EQ(sink.EventsStartingWith("range"),
              (std::vector<std::string>{"range 1073741824", "range 1073741824", "range 1073741824",
                                        "range 1234"}));
}

TEST_F(UploadTest, CancelStopsBeforeTheNextFileFolderOrSource) {
    ops.afterUpload = [this] {
        EXPECT_TRUE(transferBusy);
        transferCancel = true;
    };
    Run({{Tmp() / "top", true}, {Tmp() / "single.txt", false}}, target);

    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(ops.folders.size(), 1u);
    EXPECT_EQ(observer.treeFolders.size(), 1u) << "the folder exists remotely";
    EXPECT_EQ(sink.finished, 1);
    EXPECT_FALSE(transferBusy);
}

// Guards against endless walks through link cycles and against blocking on a
// pipe; what is left out is said in a line.
TEST_F(UploadTest, LinksToFoldersAndSpecialFilesAreNeitherCountedNorUploaded) {
    const fs::path dir = Tmp() / "links";
    WriteFile(dir / "real.txt");
    fs::create_symlink(dir / "real.txt", dir / "link.txt");
    fs::create_directory_symlink(dir, dir / "loop");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

    EXPECT_EQ(CountUploadFiles({{dir, true}}, sink), 2u);
    Run({{dir, true}}, target);
    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"link.txt", "real.txt"}));
    EXPECT_EQ(sink.details,
              (std::vector<std::string>{"Warning: " + (dir / "loop").string() +
                                            " :  Skipped, neither a regular file nor a folder.",
                                        "Warning: " + (dir / "pipe").string() +
                                            " :  Skipped, neither a regular file nor a folder."}));
}

// Regression: a FIFO given as a source went to the upload, whose open waited
// for a writer for good, and the busy flag refused every later transfer.
TEST_F(UploadTest, ASpecialFileGivenAsSourceIsRefusedWithALine) {
    ASSERT_EQ(mkfifo((Tmp() / "pipe").c_str(), 0600), 0);
    Run({{Tmp() / "pipe", false}, {Tmp() / "single.txt", false}}, target);
    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"single.txt"});
    EXPECT_EQ(sink.details, std::vector<std::string>{"Warning: " + (Tmp() / "pipe").string() +
                                                     " :  Skipped, neither a regular file nor a "
                                                     "folder."});
    EXPECT_FALSE(transferBusy);
}

TEST_F(UploadTest, CountingShowsTheRunningTotalAfterEachSource) {
    EXPECT_EQ(CountUploadFiles({{Tmp() / "top", true},
                                {Tmp() / "single.txt", false},
                                {Tmp() / "gone.txt", false},
                                {Tmp() / "top" / "empty", true}},
                               sink),
              5u);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"total 3", "total 4", "total 5", "total 5"}));
    EXPECT_FALSE(transferBusy);
}

TEST(UploadListRule, DecidesByLocationTargetSourceAndReplyKind) {
    const std::string list = DocumentListUrl();
    const std::string folder = list + "/folder%3Aabc/contents";
    const std::optional<std::string> none;
    const auto A = ListUpdate::AddItem, R = ListUpdate::Refresh, N = ListUpdate::None;
    struct Row {
        std::string current, target;
        bool isFolder;
        std::optional<std::string> kind;
        ListUpdate expected;
    };
    const std::vector<Row> rows = {
        {folder, folder, false, "file", A},
        {folder, folder, true, "folder", A},
        {folder, list, false, "file", N},
        {list, list, false, "file", A},
        {list, list, true, "folder", R},
        {list + "?showfolders=true", list, false, none, A},
        {list + "?showfolders=true", list, true, "folder", R},
        {list + "/-/mine", list, true, "folder", R},
        {list + "/-/mine", list, false, "document", A},
        {list + "/-/document", list, false, "document", A},
        {list + "/-/document", list, false, "file", N},
        {list + "/-/document", list, false, none, N},
        {list + "/-/presentation", list, false, "presentation", A},
        {list + "/-/spreadsheet", list, false, "spreadsheet", A},
        {list + "/-/spreadsheet", list, false, "document", N},
        {list + "/-/drawing", list, false, "drawing", A},
        {list + "/-/starred", list, false, "file", N},
        {list + "/-/trashed?showfolders=true", list, true, "folder", N},
        {list + "/-/-mine?showfolders=true", list, false, "file", N},
        // Another host's root feed is no category: only an equal target counts.
        {"https://other.example/feeds/default/private/full", list, false, "file", N},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ListUpdateAfterUpload(r.current, r.target, r.isFolder, r.kind), r.expected)
            << r.current << " <- " << r.target << (r.isFolder ? " (folder)" : " (file)");
}

}  // namespace
}  // namespace tallowdesk
