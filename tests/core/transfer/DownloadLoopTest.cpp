#include <gtest/gtest.h>

#include <algorithm>

#include "TransferFakes.h"
#include "transfer/DownloadLoop.h"
#include "transfer/ExportLoop.h"

namespace tallowdesk {
namespace {

using test::FakeOps;
using test::TransferTest;
namespace fs = std::filesystem;

// A feed page of n plain files titled prefix0..prefix(n-1) (content src
// "dl/<title>"), with an optional next link.
std::string Page(const std::string& prefix, int n, const std::string& next = "") {
    std::string xml = "<feed>";
    if (!next.empty()) xml += "<link rel='next' href='" + next + "'/>";
    for (int i = 0; i < n; ++i) {
        const std::string title = prefix + std::to_string(i);
        xml += "<entry><title>" + title + "</title><gd:resourceId>file:" + title +
               "</gd:resourceId><content src='dl/" + title + "'/></entry>";
    }
    return xml + "</feed>";
}

std::string Entry(const std::string& kind, const std::string& title, const std::string& src) {
    return "<entry><title>" + title + "</title><gd:resourceId>" + kind + ":" + title +
           "</gd:resourceId><content src='" + src + "'/></entry>";
}

using DownloadTest = TransferTest;

TEST_F(DownloadTest, FolderOfPagesTenTenFiveGetsAllTwentyFiveWithoutAFourthRequest) {
    ops.pages = {{"p1", Page("a", 10, "p2")},
                 {"p2", Page("b", 10, "p3")},
                 {"p3", Page("c", 5, "p4")},
                 {"p4", Page("d", 1)}};
    RunDownload({{"p1", "Docs", "folder", 0}}, Tmp(), ops, sink);

    EXPECT_EQ(ops.feedRequests, (std::vector<std::string>{"p1", "p2", "p3"}));
    EXPECT_EQ(ops.downloads.size(), 25u);
    EXPECT_EQ(std::distance(fs::directory_iterator(Tmp() / "Docs"), fs::directory_iterator()), 25);
    EXPECT_TRUE(fs::exists(Tmp() / "Docs" / "c4"));
    // The folder's own count gives way to its items.
    EXPECT_EQ(sink.current, 25u);
    EXPECT_EQ(sink.total, 25u);
    EXPECT_TRUE(sink.details.empty());
    EXPECT_EQ(sink.finished, 1);
}

TEST_F(DownloadTest, NamesFilesByKindAndFillsNestedFolders) {
    ops.pages = {{"sub", "<feed>" + Entry("folder", "Deeper", "deeper") +
                             Entry("document", "Inner", "dl/inner") + "</feed>"},
                 {"deeper", "<feed>" + Entry("drawing", "Sketch", "dl/sketch") + "</feed>"}};
    RunDownload({{"dl/report", "Report", "document", 10},
                 {"dl/notes", "notes.txt", "file", 10},
                 {"dl/paper", "paper.pdf", "pdf", 10},
                 {"dl/budget", "Budget", "spreadsheet", 10},
                 {"dl/deck", "Deck", "presentation", 10},
                 {"sub", "Sub", "folder", 0}},
                Tmp(), ops, sink);

    std::vector<fs::path> paths;
    for (const auto& d : ops.downloads) {
        paths.push_back(d.path);
        EXPECT_FALSE(d.format) << "plain downloads ask for no export format";
    }
    EXPECT_EQ(paths, (std::vector<fs::path>{
                         Tmp() / "Report.doc", Tmp() / "notes.txt", Tmp() / "paper.pdf",
                         Tmp() / "Budget.xls", Tmp() / "Deck.ppt",
                         Tmp() / "Sub" / "Deeper" / "Sketch.jpeg", Tmp() / "Sub" / "Inner.doc"}));
    EXPECT_EQ(ops.downloads[0].kind, "document");
    EXPECT_EQ(sink.total, 7u);
    EXPECT_TRUE(sink.details.empty());
}

// Guards against titles from the service writing outside the chosen folder.
TEST_F(DownloadTest, UnsafeTitlesStayInsideTheChosenFolder) {
    const fs::path dest = Tmp() / "dest";
    fs::create_directory(dest);
    ops.pages = {{"up", "<feed>" + Entry("file", "../../evil", "dl/evil") + "</feed>"}};
    RunDownload({{"dl/1", "../x", "file", 1},
                 {"dl/2", "a/b", "document", 1},
                 {"dl/3", "..", "file", 1},
                 {"dl/4", ".", "file", 1},
                 {"dl/5", "", "file", 1},
                 {"up", "../up", "folder", 0}},
                dest, ops, sink);

    EXPECT_TRUE(sink.details.empty());
    for (const char* name : {".._x", "a_b.doc", "__", "_", "untitled", ".._up/.._.._evil"})
        EXPECT_TRUE(fs::is_regular_file(dest / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(Tmp()), fs::directory_iterator()), 1)
        << "nothing may appear beside the chosen folder";
}

TEST_F(DownloadTest, ExistingOrUnreachableLocalFolderIsReportedAndSkipped) {
    fs::create_directory(Tmp() / "Docs");
    ops.pages = {{"docs", Page("a", 3)}};
    RunDownload({{"docs", "Docs", "folder", 0}, {"dl/after", "after", "file", 1}}, Tmp(), ops,
                sink);
    EXPECT_EQ(sink.details, std::vector<std::string>{"Folder already exists."});
    EXPECT_TRUE(ops.feedRequests.empty());
    EXPECT_TRUE(fs::exists(Tmp() / "after"));

    test::RecordingSink missing;
    RunDownload({{"docs", "Docs", "folder", 0}, {"dl/after", "after", "file", 1}}, Tmp() / "gone",
                ops, missing);
    EXPECT_EQ(missing.details, (std::vector<std::string>{"Folder creation failed.",
                                                         "after  Failed!:    create file failed"}));
    EXPECT_TRUE(ops.feedRequests.empty());
}

TEST_F(DownloadTest, FailuresBecomeDetailLinesAndTheNextItemStillRuns) {
    ops.downloadFailures["dl/a"] = [] {
        throw std::runtime_error("File Downloading/Exporting Failed.");
    };
    ops.downloadFailures["dl/b"] = [] { throw 42; };
    RunDownload({{"dl/a", "A", "file", 1},
                 {"dl/b", "B", "document", 1},
                 {"no-such-page", "Quiet", "folder", 0},
                 {"dl/c", "C", "file", 1}},
                Tmp(), ops, sink);

    EXPECT_EQ(sink.details,
              (std::vector<std::string>{"A  Failed!:    File Downloading/Exporting Failed.",
                                        "B  Failed!:  Unknown reason"}));
    EXPECT_TRUE(fs::exists(Tmp() / "C"));
    EXPECT_EQ(sink.finished, 1);
    EXPECT_FALSE(transferBusy);
}

TEST_F(DownloadTest, CancelStopsBeforeTheNextItemInsideAndOutsideFolders) {
    ops.pages = {{"f", Page("a", 10, "f2")}, {"f2", Page("b", 1)}};
    ops.afterDownload = [this] {
        EXPECT_TRUE(transferBusy) << "busy for the whole span of the loop";
        if (ops.downloads.size() == 2) transferCancel = true;
    };
    RunDownload({{"f", "F", "folder", 0}, {"dl/z", "Z", "file", 1}}, Tmp(), ops, sink);

    EXPECT_EQ(ops.downloads.size(), 2u);
    EXPECT_EQ(ops.feedRequests, std::vector<std::string>{"f"});
    EXPECT_EQ(sink.finished, 1);
    EXPECT_FALSE(transferBusy);
    EXPECT_TRUE(transferCancel) << "resetting the flag is the caller's business";
}

TEST_F(DownloadTest, ShowsSizeAndBarPerFileWithoutWrappingPastFourGiB) {
    RunDownload(
        {{"dl/a", "A", "file", 0}, {"dl/b", "B", "file", 1234}, {"dl/c", "C", "file", 5368709120}},
        Tmp(), ops, sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{
                               "current 1", "total 3", "name A", "size unknown", "marquee on",  //
                               "current 2", "total 3", "name B", "size 1 ,234  Byte", "marquee off",
                               "range 1234",  //
                               "current 3", "total 3", "name C", "size 5 ,368 ,709 ,120  Byte",
                               "marquee off", "range 5368709120"}));
}

// Regression: a folder planted inside its own subfolder was walked until the
// path limit, then on without end.
TEST_F(DownloadTest, AFolderCycleIsWalkedOnceWithADetailLine) {
    ops.pages = {
        {"a", "<feed>" + Entry("folder", "B", "b") + "</feed>"},
        {"b", "<feed>" + Entry("folder", "A", "a") + Entry("file", "f", "dl/f") + "</feed>"}};
    ops.afterDownload = [this] {
        if (ops.downloads.size() > 20) transferCancel = true;  // ends the walk if the guard fails
    };
    RunDownload({{"a", "A", "folder", 0}}, Tmp(), ops, sink);

    EXPECT_EQ(ops.feedRequests, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ops.downloads.size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(Tmp() / "A" / "B" / "f"));
    EXPECT_FALSE(fs::exists(Tmp() / "A" / "B" / "A"));
    EXPECT_EQ(sink.details,
              std::vector<std::string>{"A  Skipped:    the folder is inside itself."});
    EXPECT_EQ(sink.current, 1u);
    EXPECT_EQ(sink.total, 1u);
}

// Regression: the cycle guard skipped every folder reached a second time, so a
// folder filed in two parents, or selected together with its own parent, lost
// a copy and got a "Skipped" line.
TEST_F(DownloadTest, AFolderReachedTwiceWithoutACycleIsDownloadedAtEachPlace) {
    const std::string shared = Entry("folder", "S", "s");
    ops.pages = {{"p", "<feed>" + shared + "</feed>"},
                 {"q", "<feed>" + shared + "</feed>"},
                 {"s", "<feed>" + Entry("file", "f", "dl/f") + "</feed>"}};
    const struct {
        const char* name;
        std::vector<FolderItem> selection;
        std::vector<fs::path> files;
    } cases[] = {
        {"filed in two parents",
         {{"p", "P", "folder", 0}, {"q", "Q", "folder", 0}},
         {"P/S/f", "Q/S/f"}},
        {"selected beside its own parent",
         {{"p", "P", "folder", 0}, {"s", "S", "folder", 0}},
         {"P/S/f", "S/f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Tmp() / "P"), fs::remove_all(Tmp() / "Q"), fs::remove_all(Tmp() / "S");
        sink = {};
        RunDownload(c.selection, Tmp(), ops, sink);
        for (const fs::path& f : c.files) EXPECT_TRUE(fs::is_regular_file(Tmp() / f)) << f;
        EXPECT_TRUE(sink.details.empty()) << sink.details.front();
    }
}

// Regression: a folder whose local path grew too long was not reported and the
// walk went on below it, every child failing after it.
TEST_F(DownloadTest, ALocalErrorStopsTheDescentWithOneLine) {
    const std::string title(250, 't');
    for (int i = 0; i < 40; ++i)  // URLs differ at each level: no cycle to see
        ops.pages["f" + std::to_string(i)] =
            "<feed>" + Entry("folder", title, "f" + std::to_string(i + 1)) + "</feed>";
    RunDownload({{"f0", "top", "folder", 0}}, Tmp(), ops, sink);

    ASSERT_EQ(sink.details.size(), 1u);
    EXPECT_EQ(sink.details[0], title + "  Failed!:    Folder creation failed: File name too long");
    EXPECT_LT(ops.feedRequests.size(), 20u) << "a 4 KiB path holds about 16 such levels";
}

TEST_F(DownloadTest, ATitleTooLongForTheFileSystemIsShortened) {
    const std::string folder(300, 'F');
    const std::string file = std::string(300, 'x') + ".txt";
    ops.pages = {{"long", "<feed>" + Entry("file", file, "dl/x") + "</feed>"}};
    RunDownload({{"long", folder, "folder", 0}, {"dl/r", std::string(300, 'r'), "document", 1}},
                Tmp(), ops, sink);

    EXPECT_TRUE(sink.details.empty()) << sink.details.front();
    EXPECT_TRUE(
        fs::is_regular_file(Tmp() / std::string(255, 'F') / (std::string(251, 'x') + ".txt")));
    EXPECT_TRUE(fs::is_regular_file(Tmp() / (std::string(251, 'r') + ".doc")));
}

using ExportTest = TransferTest;

TEST_F(ExportTest, SavesTitleDotFormatAndReportsAnyFailureInOneLine) {
    transferBusy = true;  // a download may be running beside the export
    EXPECT_TRUE(RunExport({"dl/r?id=1", "Report", "document", "pdf", Tmp()}, ops, sink));
    ASSERT_EQ(ops.downloads.size(), 1u);
    EXPECT_EQ(ops.downloads[0].path, Tmp() / "Report.pdf");
    EXPECT_EQ(ops.downloads[0].format, "pdf");
    EXPECT_EQ(ops.downloads[0].kind, "document");
    EXPECT_TRUE(sink.details.empty());
    EXPECT_EQ(sink.finished, 1);
    EXPECT_TRUE(transferBusy) << "exports leave the busy flag alone";

    ops.downloadFailures["dl/s"] = [] { throw std::runtime_error("create file failed"); };
    test::RecordingSink failed;
    // A destination ending in "/" gets no second one.
    EXPECT_FALSE(
        RunExport({"dl/s", "a/b", "spreadsheet", "csv", Tmp().string() + "/"}, ops, failed));
    EXPECT_EQ(ops.downloads.back().path.native(), Tmp().native() + "/a_b.csv");
    EXPECT_EQ(failed.details, std::vector<std::string>{"File converting failed"});
    EXPECT_EQ(failed.finished, 1);
}

}  // namespace
}  // namespace tallowdesk
