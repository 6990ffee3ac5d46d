#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TransferFakes.h"
#include "transfer/DownloadLoop.h"
#include "transfer/NameClash.h"
#include "transfer/TransferNames.h"

namespace tallowdesk {
namespace {

using test::TransferTest;
namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Answers by kind of item and records every question asked.
struct ScriptedAsker {
    ClashAnswer file{ClashChoice::Skip, false};
    ClashAnswer folder{ClashChoice::Skip, false};
    std::vector<ClashQuestion> asked;
    ClashAsker Get() {
        return [this](const ClashQuestion& q) {
            asked.push_back(q);
            return q.folder ? folder : file;
        };
    }
};

TEST(NameClashNames, NumberedNamesKeepTheExtensionAndTheLimit) {
    const std::string longStem(251, 'x');
    struct Row {
        fs::path path;
        bool folder;
        std::set<fs::path> taken;
        fs::path expected;
    } rows[] = {
        {"/d/notes.txt", false, {}, "/d/notes (2).txt"},
        {"/d/notes.txt", false, {"/d/notes (2).txt", "/d/notes (3).txt"}, "/d/notes (4).txt"},
        {"/d/Report", false, {}, "/d/Report (2)"},
        {"/d/.profile", false, {}, "/d/.profile (2)"},
        {"/d/Docs.v1", true, {}, "/d/Docs.v1 (2)"},
        {"/d/archive.tar.gz", false, {}, "/d/archive.tar (2).gz"},
        {"/d/" + longStem + ".txt", false, {}, "/d/" + std::string(247, 'x') + " (2).txt"},
    };
    for (const Row& r : rows) {
        const fs::path got = NumberedFreeName(
            r.path, r.folder, [&r](const fs::path& p) { return r.taken.count(p) > 0; });
        EXPECT_EQ(got, r.expected) << r.path;
        EXPECT_LE(got.filename().string().size(), kMaxLocalNameBytes);
    }
}

TEST(NameClashNames, AnAnswerForAllHoldsForItsKindOnly) {
    ScriptedAsker asker;
    asker.file = {ClashChoice::KeepBoth, true};
    asker.folder = {ClashChoice::Skip, false};
    ClashPolicy policy(asker.Get());
    EXPECT_EQ(policy.Decide("/a", false), ClashChoice::KeepBoth);
    EXPECT_EQ(policy.Decide("/b", false), ClashChoice::KeepBoth);
    EXPECT_EQ(policy.Decide("/c", true), ClashChoice::Skip);
    EXPECT_EQ(policy.Decide("/d", true), ClashChoice::Skip);
    ASSERT_EQ(asker.asked.size(), 3u);  // one file question, two folder ones
    EXPECT_EQ(asker.asked[0].path, fs::path("/a"));
    EXPECT_FALSE(ClashPolicy().Decide("/a", false).has_value());
}

using NameClashTest = TransferTest;

// Fault guarded: a download over an existing file replaced it without a word,
// and a failed one left it half overwritten.
TEST_F(NameClashTest, AFileDownloadedOverALocalFileFollowsTheChoice) {
    struct Row {
        const char* name;
        ClashChoice choice;
        bool failing;
        std::string notes;     // notes.txt afterwards
        std::string numbered;  // "notes (2).txt" afterwards; empty: absent
    } rows[] = {
        {"replace", ClashChoice::Replace, false, "dl/notes", ""},
        {"replace, download fails", ClashChoice::Replace, true, "mine", ""},
        {"keep both", ClashChoice::KeepBoth, false, "mine", "dl/notes"},
        {"skip", ClashChoice::Skip, false, "mine", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path dir = Tmp() / r.name;
        fs::create_directory(dir);
        WriteFile(dir / "notes.txt", "mine");
        test::FakeOps ops;
        if (r.failing) ops.afterDownload = [] { throw std::runtime_error("connection lost"); };
        test::RecordingSink sink;
        ScriptedAsker asker;
        asker.file = {r.choice, false};
        RunDownload({{"dl/notes", "notes.txt", "file", 8}}, dir, ops, sink, asker.Get());
        EXPECT_EQ(Read(dir / "notes.txt"), r.notes);
        EXPECT_EQ(fs::exists(dir / "notes (2).txt"), !r.numbered.empty());
        if (!r.numbered.empty()) {
            EXPECT_EQ(Read(dir / "notes (2).txt"), r.numbered);
        }
        // Nothing else is left behind (no half-written replacement).
        EXPECT_EQ(Names(dir).size(), r.numbered.empty() ? 1u : 2u);
        EXPECT_EQ(sink.details.size(), r.failing ? 1u : 0u);
        ASSERT_EQ(asker.asked.size(), 1u);
        EXPECT_EQ(asker.asked[0].path, dir / "notes.txt");
        EXPECT_FALSE(asker.asked[0].folder);
    }
}

// Fault guarded: a folder downloaded again failed with "Folder already
// exists." whatever the user wanted.
TEST_F(NameClashTest, AFolderDownloadedAgainFollowsTheChoice) {
    struct Row {
        const char* name;
        ClashChoice choice;
        std::set<std::string> top;   // names in the destination afterwards
        std::set<std::string> docs;  // names in Docs afterwards
        std::string a0;              // Docs/a0 afterwards
    } rows[] = {
        {"merge", ClashChoice::Replace, {"Docs"}, {"a0", "a1", "mine.txt"}, "mine"},
        {"keep both", ClashChoice::KeepBoth, {"Docs", "Docs (2)"}, {"a0", "mine.txt"}, "mine"},
        {"skip", ClashChoice::Skip, {"Docs"}, {"a0", "mine.txt"}, "mine"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path dir = Tmp() / r.name;
        fs::create_directories(dir / "Docs");
        WriteFile(dir / "Docs" / "a0", "mine");
        WriteFile(dir / "Docs" / "mine.txt", "mine");
        test::FakeOps ops;
        ops.pages = {{"docs",
                      "<feed><entry><title>a0</title><gd:resourceId>file:a0</gd:resourceId>"
                      "<content src='dl/a0'/></entry><entry><title>a1</title>"
                      "<gd:resourceId>file:a1</gd:resourceId><content src='dl/a1'/>"
                      "</entry></feed>"}};
        test::RecordingSink sink;
        ScriptedAsker asker;
        asker.folder = {r.choice, false};
        asker.file = {ClashChoice::Skip, false};  // inside a merged folder: keep the local a0
        RunDownload({{"docs", "Docs", "folder", 0}}, dir, ops, sink, asker.Get());
        EXPECT_EQ(Names(dir), r.top);
        EXPECT_EQ(Names(dir / "Docs"), r.docs);
        EXPECT_EQ(Read(dir / "Docs" / "a0"), r.a0);
        if (r.choice == ClashChoice::KeepBoth) {
            EXPECT_EQ(Names(dir / "Docs (2)"), (std::set<std::string>{"a0", "a1"}));
        }
        EXPECT_TRUE(sink.details.empty());
        ASSERT_FALSE(asker.asked.empty());
        EXPECT_TRUE(asker.asked[0].folder);
        EXPECT_EQ(asker.asked[0].path, dir / "Docs");
        // Only the merge meets the local a0 again.
        EXPECT_EQ(asker.asked.size(), r.choice == ClashChoice::Replace ? 2u : 1u);
    }
}

TEST_F(NameClashTest, AFolderInTheWayOfAFileIsKeptAndTheFileNumbered) {
    fs::create_directory(Tmp() / "notes.txt");
    test::FakeOps ops;
    test::RecordingSink sink;
    ScriptedAsker asker;
    asker.file = {ClashChoice::Replace, false};
    RunDownload({{"dl/notes", "notes.txt", "file", 8}}, Tmp(), ops, sink, asker.Get());
    EXPECT_TRUE(fs::is_directory(Tmp() / "notes.txt"));
    EXPECT_EQ(Read(Tmp() / "notes (2).txt"), "dl/notes");
}

}  // namespace
}  // namespace tallowdesk
