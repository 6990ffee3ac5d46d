#include <gtest/gtest.h>

#include "TestData.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk {
namespace {

class FeedCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceHosts h = ServiceHosts::Defaults();
        h.docsHost = "docs.example";
        SetServiceHosts(h);
        ResetCategoryTable();
    }
    void TearDown() override {
        SetServiceHosts(ServiceHosts::Defaults());
        ResetCategoryTable();
    }
};

TEST_F(FeedCatalogueTest, CategoriesInTreeOrder) {
    const auto& table = CategoryTable();
    ASSERT_EQ(table.size(), 10u);
    EXPECT_EQ(table[0].label, " Latest 100 items");
    EXPECT_EQ(table[0].url, "https://docs.example/feeds/default/private/full");
    EXPECT_TRUE(table[0].noPaging);
    EXPECT_EQ(table[3].label, " Shared with me");
    EXPECT_EQ(table[3].url,
              "https://docs.example/feeds/default/private/full/-/-mine?showfolders=true");
    EXPECT_EQ(table[5].url,
              "https://docs.example/feeds/default/private/full/-/trashed?showfolders=true");
    EXPECT_EQ(table[9].label, " Drawings");
    for (std::size_t i = 1; i < table.size(); ++i) EXPECT_FALSE(table[i].noPaging) << i;

    EXPECT_TRUE(IsCategoryUrl("https://docs.example/feeds/default/private/full/-/starred"));
    EXPECT_FALSE(IsCategoryUrl("https://docs.example/feeds/default/private/full/-/starred/"));
    EXPECT_FALSE(IsCategoryUrl(RootFolderUrl()));
}

TEST_F(FeedCatalogueTest, FolderUrls) {
    EXPECT_EQ(RootFolderUrl(),
              "https://docs.example/feeds/default/private/full/folder%3Aroot/contents");
    EXPECT_EQ(RootSubFoldersUrl(),
              "https://docs.example/feeds/default/private/full/folder%3Aroot/contents/-/folder");
    EXPECT_EQ(SubFoldersUrl("u/contents"), "u/contents/-/folder");

    DocEntry folder;
    folder.kind = "folder";
    folder.shortId = "abc";
    EXPECT_EQ(FolderContentsUrl(folder),
              "https://docs.example/feeds/default/private/full/folder%3Aabc/contents");
    folder.contentSrc = "https://elsewhere/contents";
    EXPECT_EQ(FolderContentsUrl(folder), "https://elsewhere/contents");
}

TEST_F(FeedCatalogueTest, SearchWordsJoinedWithPlus) {
    // Guards against sending "annual  report" as annual%20%20report: the
    // service splits words at an encoded "+".
    const struct {
        const char* query;
        const char* joined;
        const char* q;
    } cases[] = {
        {"annual  report", "annual+report", "annual%2Breport"},
        {"  lead and trail  ", "lead+and+trail", "lead%2Band%2Btrail"},
        {"one", "one", "one"},
        {"   ", "", ""},
        {"", "", ""},
        {"a+b c", "a+b+c", "a%2Bb%2Bc"},
        {"b&c=d/é~", "b&c=d/é~", "b%26c%3Dd%2F%C3%A9~"},
        {"tab\tkept", "tab\tkept", "tab%09kept"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinSearchWords(c.query), c.joined) << c.query;
        EXPECT_EQ(SearchUrl(c.query),
                  std::string("https://docs.example/feeds/default/private/full?q=") + c.q +
                      "&showfolders=true")
            << c.query;
    }
    EXPECT_EQ(SearchUrl("a b&c=d/é~"),
              "https://docs.example/feeds/default/private/full?q=a%2Bb%26c%3Dd%2F%C3%A9~"
              "&showfolders=true");
}

TEST_F(FeedCatalogueTest, NextLink) {
    tinyxml2::XMLDocument doc;
    test::ParseXml(doc, test::ReadTestFile("doclist-feed-docs-example-with-next.xml"));
    const auto next = NextLinkHref(doc);
    ASSERT_TRUE(next);
    EXPECT_NE(next->find("start-key"), std::string::npos);
    test::ParseXml(doc, test::ReadTestFile("doclist-feed-v3.xml"));
    EXPECT_FALSE(NextLinkHref(doc));
    // Only the feed's own links count, not an entry's.
    test::ParseXml(doc, "<feed><entry><link rel='next' href='x'/></entry></feed>");
    EXPECT_FALSE(NextLinkHref(doc));
}

TEST_F(FeedCatalogueTest, CollectFolderItems) {
    tinyxml2::XMLDocument doc;
    test::ParseXml(doc,
                   "<feed><entry><title>sub</title><content src='https://f/contents'/>"
                   "<gd:resourceId>folder:f</gd:resourceId></entry>"
                   "<entry><title>big.iso</title><content src='https://f/dl'/>"
                   "<gd:resourceId>file:b</gd:resourceId>"
                   "<gd:quotaBytesUsed>4294967296</gd:quotaBytesUsed></entry>"
                   "<entry/></feed>");
    std::vector<FolderItem> items{{"keep", "", "", 0}};
    CollectFolderItems(items, doc);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].kind, "folder");
    EXPECT_EQ(items[1].url, "https://f/contents");
    EXPECT_EQ(items[2].title, "big.iso");
    EXPECT_EQ(items[2].size, 4294967296u);
    EXPECT_EQ(items[3].url, "");  // an entry without content still yields an item
    EXPECT_EQ(items[3].title, "");
}

}  // namespace
}  // namespace tallowdesk
