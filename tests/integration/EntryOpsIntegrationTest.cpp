#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <stdexcept>

#include "Failure.h"
#include "IntegrationFixture.h"
#include "model/DocEntry.h"
#include "model/EntryList.h"
#include "model/FeedCatalogue.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"

namespace tallowdesk::test {
namespace {

class EntryOpsIntegration : public IntegrationTest {
protected:
    void SetUp() override {
        IntegrationTest::SetUp();
        m_client = std::make_unique<ServiceClient>(kEmail, kPassword);
        ClientLogin(*m_client, "writely");
    }

    DocEntry Fetch(const DocEntry& e) {
        tinyxml2::XMLDocument doc;
        GetFeed(*m_client, DocumentListUrl() + "/" + e.kind + "%3A" + e.shortId, doc);
        return ParseEntry(*doc.FirstChildElement("entry"));
    }

    DocEntry NewFolder(const std::string& title, std::optional<std::string> parent = {}) {
        tinyxml2::XMLDocument doc;
        CreateFolder(*m_client, title,
                     parent ? std::optional<std::string_view>(*parent) : std::nullopt, doc);
        return ParseEntry(*doc.FirstChildElement("entry"));
    }

    std::unique_ptr<ServiceClient> m_client;
};

TEST_F(EntryOpsIntegration, CreateFolderTopLevelAndNested) {
    const DocEntry top = NewFolder("R&D <2026>");
    EXPECT_EQ(top.kind, "folder");
    EXPECT_EQ(top.title, "R&D <2026>");
    EXPECT_FALSE(top.parentHref);
    const DocEntry nested = NewFolder("Inner", FolderContentsUrl(top));
    EXPECT_EQ(nested.parentTitle, "R&D <2026>");
}

TEST_F(EntryOpsIntegration, RenameStarTrashDelete) {
    const DocEntry folder = NewFolder("Draft");
    RenameEntry(*folder.editHref, "Final & signed", *m_client);
    SetStarred(*m_client, *folder.editHref, true);
    auto changed = Fetch(folder);
    EXPECT_EQ(changed.title, "Final & signed");
    EXPECT_TRUE(changed.starred);
    SetStarred(*m_client, *folder.editHref, false);
    EXPECT_FALSE(Fetch(folder).starred);

    TrashEntry(*m_client, *folder.resourceId, false);
    EntryList trash;
    tinyxml2::XMLDocument doc;
    GetFeed(*m_client, CategoryTable()[5].url, doc);
    EXPECT_EQ(ParseFeedEntries(trash, doc), 1);
    GetFeed(*m_client, RootFolderUrl(), doc);
    EntryList root;
    EXPECT_EQ(ParseFeedEntries(root, doc), 0);

    TrashEntry(*m_client, *folder.resourceId, true);
    EXPECT_THROW(Fetch(folder), std::runtime_error);
}

// The service's error document reaches the user as "code : reason".
TEST_F(EntryOpsIntegration, ServiceErrorsReachTheUser) {
    const std::string missing = "ResourceNotFoundException : The requested entry was not found.";
    EXPECT_EQ(Failure([&] { TrashEntry(*m_client, "folder:doesnotexist", false); }), missing);
    EXPECT_EQ(Failure([&] { RenameEntry(DocumentListUrl() + "/folder%3Anope", "x", *m_client); }),
              missing);
}

}  // namespace
}  // namespace tallowdesk::test
