#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <set>

#include "IntegrationFixture.h"
#include "Store.h"
#include "model/FeedCatalogue.h"
#include "model/ListingWorker.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"

namespace tallowdesk::test {
namespace {

struct NullSink : ListingSink {
    int resets = 0;
    void ResetList() override { ++resets; }
    void EntriesAdded(std::uint64_t, std::size_t) override {}
    void ListingFinished(const CurrentLocation&) override {}
};

class ListingIntegration : public IntegrationTest {
protected:
    void SetUp() override {
        IntegrationTest::SetUp();
        m_client = std::make_unique<ServiceClient>(kEmail, kPassword);
        ClientLogin(*m_client, "writely");
    }

    server::StoredEntry Add(const std::string& kind, const std::string& title,
                            const std::string& parent = {}, bool starred = false,
                            bool trashed = false) {
        server::NewEntry e;
        e.kind = kind;
        e.title = title;
        if (kind == "file") {
            e.mime = "text/plain";
            e.content = "content of " + title;
        } else if (kind == "pdf") {
            e.mime = "application/pdf";
            e.content = "%PDF-1.4\n%%EOF\n";
        }
        if (!parent.empty()) e.parents.push_back(parent);
        e.starred = starred;
        e.trashed = trashed;
        return m_server->GetStore().Create(kEmail, e);
    }

    // Lists url with the listing loop; counts the requests it made.
    std::vector<DocEntryPtr> List(const std::string& url, bool noPaging = false) {
        ListingControl control;
        EntryList entries;
        NullSink sink;
        m_requests = 0;
        const FeedFetcher fetch = [&](const std::string& u, tinyxml2::XMLDocument& doc) {
            ++m_requests;
            GetFeed(*m_client, u, doc);
        };
        control.Request({url, "", noPaging, true});
        RunListing(control, entries, fetch, sink);
        return entries.Snapshot();
    }

    static std::set<std::string> Titles(const std::vector<DocEntryPtr>& entries) {
        std::set<std::string> t;
        for (const auto& e : entries) t.insert(e->title.value_or("?"));
        return t;
    }

    std::unique_ptr<ServiceClient> m_client;
    int m_requests = 0;
};

// The service's next links followed to the end; the page rules themselves
// (a short page ends the listing, a failure keeps the earlier pages) are
// RunListing's unit tests.
TEST_F(ListingIntegration, FolderPagesFollowTheServicesNextLinks) {
    const auto big = Add("folder", "Big");
    for (int i = 0; i < 25; ++i) Add("file", "f" + std::to_string(i), big.id);
    DocEntry folder;
    folder.kind = "folder";
    folder.shortId = big.id;  // no content src: the URL is built from the short id
    const auto entries = List(FolderContentsUrl(folder));
    EXPECT_EQ(entries.size(), 25u);
    EXPECT_EQ(Titles(entries).size(), 25u);
    EXPECT_EQ(m_requests, 3);
}

TEST_F(ListingIntegration, Categories) {
    const auto docs = Add("folder", "Docs");
    Add("document", "Letter", docs.id, true);
    Add("spreadsheet", "Budget");
    Add("presentation", "Talk");
    Add("drawing", "Sketch");
    Add("pdf", "Manual", docs.id);
    Add("file", "Old notes", "", false, true);
    for (int i = 0; i < 12; ++i) Add("file", "n" + std::to_string(i));

    const auto& table = CategoryTable();
    const auto latest = List(table[0].url, table[0].noPaging);
    EXPECT_EQ(m_requests, 1);
    EXPECT_EQ(latest.size(), 10u);  // one page of this service's 10

    const auto all = List(table[1].url);
    EXPECT_EQ(all.size(), 18u);  // everything but the trashed file, folders included
    EXPECT_TRUE(Titles(all).count("Docs"));
    EXPECT_FALSE(Titles(all).count("Old notes"));

    EXPECT_EQ(Titles(List(table[4].url)), (std::set<std::string>{"Letter"}));
    EXPECT_EQ(Titles(List(table[5].url)), (std::set<std::string>{"Old notes"}));
    EXPECT_EQ(Titles(List(table[6].url)), (std::set<std::string>{"Letter"}));
    EXPECT_EQ(Titles(List(table[7].url)), (std::set<std::string>{"Talk"}));
    EXPECT_EQ(Titles(List(table[8].url)), (std::set<std::string>{"Budget"}));
    EXPECT_EQ(Titles(List(table[9].url)), (std::set<std::string>{"Sketch"}));

    const auto root = List(RootFolderUrl());
    EXPECT_TRUE(Titles(root).count("Docs"));
    EXPECT_FALSE(Titles(root).count("Letter"));  // inside Docs

    const auto letter = std::find_if(all.begin(), all.end(),
                                     [](const DocEntryPtr& e) { return e->title == "Letter"; });
    ASSERT_NE(letter, all.end());
    EXPECT_EQ((*letter)->parentTitle, "Docs");
    EXPECT_TRUE((*letter)->starred);
    EXPECT_EQ((*letter)->authorEmail, kEmail);
    EXPECT_TRUE((*letter)->editHref);
    EXPECT_TRUE((*letter)->aclFeedHref);

    tinyxml2::XMLDocument sub;
    GetFeed(*m_client, RootSubFoldersUrl(), sub);
    EntryList folders;
    EXPECT_EQ(ParseFeedEntries(folders, sub), 1);

    EXPECT_EQ(Titles(List(SearchUrl("Budget"), true)), (std::set<std::string>{"Budget"}));
}

TEST_F(ListingIntegration, SharedWithMe) {
    m_server->AddUser("bob@example.test", "bobpw", "Bob");
    server::NewEntry e;
    e.kind = "document";
    e.title = "Bob's plan";
    const auto shared = m_server->GetStore().Create("bob@example.test", e);
    m_server->GetStore().AddAclRule(shared.id, "user", kEmail, "reader");
    const auto entries = List(CategoryTable()[3].url);
    EXPECT_EQ(Titles(entries), (std::set<std::string>{"Bob's plan"}));
    EXPECT_EQ(entries[0]->authorName, "Bob");
    EXPECT_TRUE(List(CategoryTable()[2].url).empty());  // owned by me
}

}  // namespace
}  // namespace tallowdesk::test
