#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <stdexcept>

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
        NewRequests();
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

    auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/feeds/default/private/full");
    EXPECT_TRUE(requests[0].HasHeaderLine("Content-Type", "application/atom+xml"));
    EXPECT_EQ(requests[0].body,
              "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\">"
              "<category scheme=\"http://schemas.google.com/g/2005#kind\" "
              "term=\"http://schemas.google.com/docs/2007#folder\"/>"
              "<title>R&amp;D &lt;2026&gt;</title></entry>");
    const DocEntry nested = NewFolder("Inner", FolderContentsUrl(top));
    EXPECT_EQ(nested.parentTitle, "R&D <2026>");
}

TEST_F(EntryOpsIntegration, RenameStarTrashDelete) {
    const DocEntry folder = NewFolder("Draft");
    NewRequests();
    RenameEntry(*folder.editHref, "Final & signed", *m_client);
    SetStarred(*m_client, *folder.editHref, true);
    auto changed = Fetch(folder);
    EXPECT_EQ(changed.title, "Final & signed");
    EXPECT_TRUE(changed.starred);
    SetStarred(*m_client, *folder.editHref, false);
    EXPECT_FALSE(Fetch(folder).starred);

    const auto requests = NewRequests();
    ASSERT_GE(requests.size(), 2u);
    const auto& rename = requests[0];
    EXPECT_EQ(rename.method, "PUT");
    EXPECT_TRUE(rename.HasHeaderLine("If-Match", "*"));
    EXPECT_EQ(rename.body,
              "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\""
              "  xmlns:docs=\"http://schemas.google.com/docs/2007\"  "
              "xmlns:gd=\"http://schemas.google.com/g/2005\"><title>Final &amp; signed</title>"
              "</entry>");
    EXPECT_NE(requests[1].body.find("<category scheme=\"http://schemas.google.com/g/2005/labels\" "
                                    "term=\"http://schemas.google.com/g/2005/labels#starred\" "
                                    "label=\"starred\"/>"),
              std::string::npos);

    TrashEntry(*m_client, *folder.resourceId, false);
    EntryList trash;
    tinyxml2::XMLDocument doc;
    GetFeed(*m_client, CategoryTable()[5].url, doc);
    EXPECT_EQ(ParseFeedEntries(trash, doc), 1);
    GetFeed(*m_client, RootFolderUrl(), doc);
    EntryList root;
    EXPECT_EQ(ParseFeedEntries(root, doc), 0);

    TrashEntry(*m_client, *folder.resourceId, true);
    const auto del = NewRequests();
    EXPECT_EQ(del[del.size() - 1].method, "DELETE");
    EXPECT_EQ(del[del.size() - 1].target,
              "/feeds/default/private/full/folder%3A" + folder.shortId + "?delete=true");
    EXPECT_TRUE(del[del.size() - 1].HasHeaderLine("If-Match", "*"));
    EXPECT_THROW(Fetch(folder), std::runtime_error);
}

TEST_F(EntryOpsIntegration, ServiceErrorsReachTheUser) {
    try {
        TrashEntry(*m_client, "folder:doesnotexist", false);
        FAIL();
    } catch (const std::runtime_error& e) {
        // "code : reason" from the service's error document.
        EXPECT_NE(std::string(e.what()).find(" : "), std::string::npos) << e.what();
    }
    EXPECT_THROW(RenameEntry(DocumentListUrl() + "/folder%3Anope", "x", *m_client),
                 std::runtime_error);
}

}  // namespace
}  // namespace tallowdesk::test
