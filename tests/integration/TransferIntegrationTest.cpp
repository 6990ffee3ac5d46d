#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "IntegrationFixture.h"
#include "Store.h"
#include "TempDir.h"
#include "model/AclRule.h"
#include "model/DocEntry.h"
#include "model/EntryList.h"
#include "model/FeedCatalogue.h"
#include "service/Download.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/ServiceTransferOps.h"
#include "service/Sharing.h"
#include "service/SignIn.h"
#include "service/TransferProgress.h"
#include "service/Upload.h"
#include "transfer/DownloadLoop.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferProgressSink.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

// Raises the cancel flag at the first chunk.
class CancelAtFirstChunk : public TransferProgressListener {
public:
    void OnProgress(std::uint64_t, std::uint64_t) override { transferCancel = true; }
};

class QuietSink : public TransferProgressSink {
public:
    void SetCurrentNumber(std::uint64_t) override {}
    void SetTotal(std::uint64_t) override {}
    void SetName(const std::string&) override {}
    void SetSizeText(const std::string&) override {}
    void SetRange(std::uint64_t) override {}
    void SetMarquee(bool) override {}
    void Progress(std::uint64_t, std::uint64_t) override {}
    void AddTransferDetail(const std::string& text) override { details.push_back(text); }
    void Finished() override {}
    std::vector<std::string> details;
};

class QuietObserver : public UploadObserver {
public:
    void AddFolderToTree(const NewTreeFolder&) override {}
    void AddUploadedItem(const DocEntryPtr&) override {}
    void RefreshList() override {}
};

class TransferIntegration : public IntegrationTest {
protected:
    void SetUp() override {
        IntegrationTest::SetUp();
        transferCancel = false;
        m_client = std::make_unique<ServiceClient>(kEmail, kPassword);
        ClientLogin(*m_client, "writely");
        ClientLogin(*m_client, "wise");
        // The browser route needs the session cookies; the client's lazy
        // sign-in never runs because its cookie share exists from the start.
        CookieSignIn(*m_client);
        m_local = m_dir / "local";
        fs::create_directories(m_local);
    }
    void TearDown() override {
        transferCancel = false;
        IntegrationTest::TearDown();
    }

    DocEntry Upload(const fs::path& path, bool autoConvert, const std::string& url = {}) {
        tinyxml2::XMLDocument doc;
        UploadFileByRoute(*m_client, path.string(), url.empty() ? DocumentListUrl() : url, doc,
                          nullptr, autoConvert);
        const auto* entry = doc.FirstChildElement("entry");
        if (!entry) throw std::runtime_error("no entry");
        return ParseEntry(*entry);
    }

    std::unique_ptr<ServiceClient> m_client;
    fs::path m_local;
};

TEST_F(TransferIntegration, UploadRoutesAndTheFallback) {
    WriteAll(m_local / "notes.txt", "first line\nsecond <line>\n");
    const DocEntry doc = Upload(m_local / "notes.txt", true);
    EXPECT_EQ(doc.kind, "document");
    EXPECT_EQ(doc.title, "notes");

    // Not convertible: stored as it is through the browser route, both answer forms.
    for (const auto style : {server::AnswerStyle::Header, server::AnswerStyle::Body}) {
        m_server->SetSessionUrlStyle(style);
        m_server->SetEntryIdStyle(style);
        WriteAll(m_local / "photo.png", std::string(3000, '\x89'));
        const DocEntry file = Upload(m_local / "photo.png", true);
        EXPECT_EQ(file.kind, "file");
        EXPECT_EQ(file.title, "photo.png");
        EXPECT_EQ(file.quotaBytesUsed, "3000");
    }

    // Too large for conversion: refused, then stored unconverted.
    const fs::path big = m_local / "big.txt";
    { std::ofstream(big).put('x'); }
    fs::resize_file(big, 65 * 1024 * 1024);
    const DocEntry stored = Upload(big, true);
    EXPECT_EQ(stored.kind, "file");
    EXPECT_EQ(stored.quotaBytesUsed, std::to_string(65 * 1024 * 1024));
    bool refusedFirst = false;
    for (const auto& r : Requests()) {
        if (r.method == "POST" && r.target == "/feeds/default/private/full" &&
            r.Header("Content-Type") == "text/plain") {
            refusedFirst = true;
        }
    }
    EXPECT_TRUE(refusedFirst);

    fs::remove(big);

    const auto quota = GetQuotaText(*m_client);
    ASSERT_TRUE(quota);
    EXPECT_EQ(*quota, "You are currently using 65.01 MB.");
}

TEST_F(TransferIntegration, DownloadsAndExports) {
    WriteAll(m_local / "plan.txt", "Plan & <goals>\n");
    const DocEntry doc = Upload(m_local / "plan.txt", true);
    auto get = [&](const DocEntry& e, std::optional<std::string_view> format) {
        const fs::path out = m_local / ("out-" + std::string(format.value_or("none")));
        DownloadEntry(*m_client, *e.contentSrc, e.kind, out, nullptr, format);
        return ReadAll(out);
    };
    EXPECT_EQ(get(doc, "txt"), "Plan & <goals>\n");

    WriteAll(m_local / "sheet.csv", "a,b\n1,\"x,y\"\n");
    const DocEntry sheet = Upload(m_local / "sheet.csv", true);
    EXPECT_EQ(sheet.kind, "spreadsheet");
    // Only with the spreadsheet service's token does the service answer this.
    EXPECT_EQ(get(sheet, "csv"), "a,b\n1,\"x,y\"\n");

    const std::string bytes(200000, '\x42');
    WriteAll(m_local / "blob.dat", bytes);
    const DocEntry file = Upload(m_local / "blob.dat", false);
    EXPECT_TRUE(get(file, std::nullopt) == bytes);
    WriteAll(m_local / "paper.pdf", "%PDF-1.4 x");
    const DocEntry pdf = Upload(m_local / "paper.pdf", true);
    EXPECT_EQ(pdf.kind, "pdf");
    EXPECT_EQ(get(pdf, "doc"), "%PDF-1.4 x");
}

TEST_F(TransferIntegration, CancelStopsUploadAndDownload) {
    const fs::path path = m_local / "four.bin";
    WriteAll(path, std::string(4 * 1024 * 1024, 'z'));
    CancelAtFirstChunk cancel;
    tinyxml2::XMLDocument doc;
    EXPECT_THROW(UploadResumable(*m_client, path.string(), DocumentListUrl(), doc, &cancel),
                 std::runtime_error);
    EXPECT_EQ(m_server->GetStore().UsageBytes(kEmail), 0);

    transferCancel = false;
    const DocEntry file = Upload(path, false);
    const fs::path out = m_local / "copy.bin";
    EXPECT_THROW(DownloadEntry(*m_client, *file.contentSrc, file.kind, out, &cancel),
                 std::runtime_error);
    EXPECT_FALSE(fs::exists(out));
    transferCancel = false;
    // The service is still fine after both broken transfers.
    DownloadEntry(*m_client, *file.contentSrc, file.kind, out, nullptr);
    EXPECT_EQ(fs::file_size(out), fs::file_size(path));
}

// The client's rule requests against the service's ACL feed; what each role
// may then do is the service's AuthorizationTest, and the shared listing
// ListingIntegration.SharedWithMe.
TEST_F(TransferIntegration, SharingWithASecondAccount) {
    m_server->AddUser("bob@example.test", "bob-pw", "Bob");
    WriteAll(m_local / "shared.html", "<p>shared</p>");
    const DocEntry doc = Upload(m_local / "shared.html", true);
    AddAclRule("user", "bob@example.test", *m_client, doc.shortId, doc.kind, "reader");

    auto rules = [&] {
        tinyxml2::XMLDocument feed;
        GetAcl(*m_client, doc.shortId, doc.kind, feed);
        std::vector<AclRule> out;
        for (auto* e = feed.RootElement()->FirstChildElement("entry"); e;
             e = e->NextSiblingElement("entry")) {
            out.push_back(ParseAclRule(e));
        }
        return out;
    };
    auto list = rules();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].role, "owner");
    EXPECT_EQ(list[1].scopeValue, "bob@example.test");
    EXPECT_EQ(list[1].role, "reader");

    ChangeAclRole("user", "bob@example.test", *m_client, *list[1].editHref, *list[1].etag,
                  "writer");
    EXPECT_EQ(rules()[1].role, "writer");
    DeleteAclRule(*rules()[1].editHref, *m_client);
    EXPECT_EQ(rules().size(), 1u);
}

TEST_F(TransferIntegration, FolderTreeUpAndDown) {
    const fs::path tree = m_local / "Project";
    fs::create_directories(tree / "sub" / "deeper");
    WriteAll(tree / "readme.md", "# readme\n");
    WriteAll(tree / "sub" / "data.bin", std::string(70000, '\x01'));
    WriteAll(tree / "sub" / "deeper" / "note.log", "deep");

    ServiceTransferOps ops(*m_client, false);
    QuietSink sink;
    QuietObserver observer;
    FolderList folders;
    RunUpload(
        {{tree, true}}, DocumentListUrl(), ops, sink, observer, [] { return DocumentListUrl(); },
        folders);
    EXPECT_TRUE(sink.details.empty()) << sink.details.front();

    tinyxml2::XMLDocument top;
    GetFeed(*m_client, DocumentListUrl() + "/folder%3Aroot/contents", top);
    std::vector<FolderItem> items;
    CollectFolderItems(items, top);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "Project");

    const fs::path back = m_dir / "back";
    fs::create_directories(back);
    QuietSink downSink;
    RunDownload(items, back, ops, downSink);
    EXPECT_TRUE(downSink.details.empty()) << downSink.details.front();
    EXPECT_EQ(ReadAll(back / "Project" / "readme.md"), "# readme\n");
    EXPECT_TRUE(ReadAll(back / "Project" / "sub" / "data.bin") == std::string(70000, 1));
    EXPECT_EQ(ReadAll(back / "Project" / "sub" / "deeper" / "note.log"), "deep");
}

// The entries of one folder, as its contents feed lists them.
std::vector<DocEntry> ListFolder(ServiceClient& client, const std::string& contentsUrl) {
    tinyxml2::XMLDocument feed;
    GetFeed(client, contentsUrl, feed);
    std::vector<DocEntry> out;
    for (const auto* e = feed.RootElement()->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry"))
        out.push_back(ParseEntry(*e));
    return out;
}

std::vector<std::string> Titles(const std::vector<DocEntry>& entries) {
    std::vector<std::string> titles;
    for (const DocEntry& e : entries) titles.push_back(e.title.value_or("?"));
    std::sort(titles.begin(), titles.end());
    return titles;
}

const DocEntry& Titled(const std::vector<DocEntry>& entries, const std::string& title) {
    for (const DocEntry& e : entries)
        if (e.title == title) return e;
    throw std::runtime_error("no entry " + title);
}

// Uploading names that are already in the folder: the user's choice for
// files and folders, against the service.
TEST_F(TransferIntegration, UploadNameClashesFollowTheChoice) {
    struct Row {
        ClashChoice choice;
        std::vector<std::string> titles;  // in the folder afterwards
        std::string same, inner;          // bytes of same.txt and Tree/in.txt there
        std::size_t questions;
    };
    const std::vector<Row> rows = {
        {ClashChoice::Replace, {"Tree", "same.txt"}, "new same", "new in", 3},
        {ClashChoice::KeepBoth,
         {"Tree", "Tree (2)", "same (2).txt", "same.txt"},
         "old same",
         "old in",
         2},
        {ClashChoice::Skip, {"Tree", "same.txt"}, "old same", "old in", 2},
    };
    ServiceTransferOps ops(*m_client, false);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        tinyxml2::XMLDocument made;
        CreateFolder(*m_client, "row " + std::to_string(i), std::nullopt, made);
        const std::string folder = FolderContentsUrl(ParseEntry(*made.FirstChildElement("entry")));
        const fs::path local = m_local / std::to_string(i);
        WriteAll(local / "same.txt", "old same");
        WriteAll(local / "Tree" / "in.txt", "old in");
        const std::vector<UploadSource> sources = {{local / "Tree", true},
                                                   {local / "same.txt", false}};
        QuietSink sink;
        QuietObserver observer;
        FolderList folders;
        RunUpload(sources, folder, ops, sink, observer, {}, folders);
        const std::string sameId = *Titled(ListFolder(*m_client, folder), "same.txt").resourceId;

        WriteAll(local / "same.txt", "new same");
        WriteAll(local / "Tree" / "in.txt", "new in");
        std::size_t questions = 0;
        RunUpload(
            sources, folder, ops, sink, observer, {}, folders,
            [&](const ClashQuestion&) {
                ++questions;
                return ClashAnswer{row.choice, false};
            },
            "row");
        EXPECT_TRUE(sink.details.empty()) << sink.details.front();
        EXPECT_EQ(questions, row.questions);
        const std::vector<DocEntry> after = ListFolder(*m_client, folder);
        EXPECT_EQ(Titles(after), row.titles);
        const DocEntry& same = Titled(after, "same.txt");
        EXPECT_EQ(same.resourceId, sameId);
        const auto bytes = [&](const DocEntry& e) {
            const fs::path out = m_dir / "back.bin";
            DownloadEntry(*m_client, *e.contentSrc, e.kind, out, nullptr);
            return ReadAll(out);
        };
        EXPECT_EQ(bytes(same), row.same);
        const std::vector<DocEntry> tree =
            ListFolder(*m_client, FolderContentsUrl(Titled(after, "Tree")));
        ASSERT_EQ(Titles(tree), std::vector<std::string>{"in.txt"});
        EXPECT_EQ(bytes(tree[0]), row.inner);
        if (row.choice == ClashChoice::KeepBoth) {
            EXPECT_EQ(bytes(Titled(after, "same (2).txt")), "new same");
            const std::vector<DocEntry> second =
                ListFolder(*m_client, FolderContentsUrl(Titled(after, "Tree (2)")));
            ASSERT_EQ(second.size(), 1u);
            EXPECT_EQ(bytes(second[0]), "new in");
        }
    }
}

// Replace puts new bytes into the same entry: a reader it was shared with
// still has it, under the same id, and reads the new bytes; the reader
// himself cannot replace it.
TEST_F(TransferIntegration, ReplacedContentKeepsTheEntryAndItsShares) {
    m_server->AddUser("bob@example.test", "bob-pw", "Bob");
    WriteAll(m_local / "report.bin", std::string(5000, 'o'));
    const DocEntry first = Upload(m_local / "report.bin", false);
    AddAclRule("user", "bob@example.test", *m_client, first.shortId, first.kind, "reader");
    const std::int64_t usedBefore = m_server->GetStore().UsageBytes(kEmail);

    const std::string replacement(70000, 'n');
    WriteAll(m_local / "report.bin", replacement);
    ServiceTransferOps ops(*m_client, false);
    QuietSink sink;
    QuietObserver observer;
    FolderList folders;
    RunUpload({{m_local / "report.bin", false}}, RootFolderUrl(), ops, sink, observer, {}, folders,
              [](const ClashQuestion&) {
                  return ClashAnswer{ClashChoice::Replace, false};
              });
    EXPECT_TRUE(sink.details.empty()) << sink.details.front();
    EXPECT_EQ(m_server->GetStore().UsageBytes(kEmail), usedBefore - 5000 + 70000);

    ServiceClient bob("bob@example.test", "bob-pw");
    ClientLogin(bob, "writely");
    tinyxml2::XMLDocument doc;
    GetFeed(bob, DocumentListUrl() + "/" + first.kind + "%3A" + first.shortId, doc);
    const DocEntry seen = ParseEntry(*doc.FirstChildElement("entry"));
    EXPECT_EQ(seen.resourceId, first.resourceId);
    EXPECT_EQ(seen.quotaBytesUsed, "70000");
    const fs::path out = m_dir / "bob.bin";
    DownloadEntry(bob, *seen.contentSrc, seen.kind, out, nullptr);
    EXPECT_TRUE(ReadAll(out) == replacement);

    tinyxml2::XMLDocument acl;
    GetAcl(*m_client, first.shortId, first.kind, acl);
    bool bobReads = false;
    for (auto* e = acl.RootElement()->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry")) {
        const AclRule rule = ParseAclRule(e);
        if (rule.scopeValue == "bob@example.test" && rule.role == "reader") bobReads = true;
    }
    EXPECT_TRUE(bobReads);

    WriteAll(m_local / "bob.bin", "not yours");
    tinyxml2::XMLDocument refused;
    try {
        ReplaceEntryContent(bob, (m_local / "bob.bin").string(), *seen.editMediaHref, refused,
                            nullptr);
        ADD_FAILURE() << "a reader replaced the content";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("permission"), std::string::npos) << e.what();
    }
    DownloadEntry(*m_client, *first.contentSrc, first.kind, out, nullptr);
    EXPECT_TRUE(ReadAll(out) == replacement);
}

}  // namespace
}  // namespace tallowdesk::test
