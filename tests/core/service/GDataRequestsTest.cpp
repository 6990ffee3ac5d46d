#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <functional>

#include "Failure.h"
#include "ScopedHosts.h"
#include "TestData.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"

namespace tallowdesk {
namespace {

TEST(ParseErrorBody, ReadsCodeAndReasonOfRecordedErrors) {
    EXPECT_EQ(ParseErrorBody(test::ReadTestFile("error-gdata-412-etagsUnsupported.xml")),
              "etagsUnsupported : Resource does not support Etags");
    EXPECT_EQ(ParseErrorBody(test::ReadTestFile("error-docs-403-resumable-required.xml")),
              "ServiceForbiddenException : Files must be uploaded using the resumable upload "
              "mechanism.");
}

TEST(ParseErrorBody, PartialOrForeignBodies) {
    EXPECT_EQ(ParseErrorBody(std::nullopt), "");
    EXPECT_EQ(ParseErrorBody(""), "");
    EXPECT_EQ(ParseErrorBody("Not Found"), "");
    EXPECT_EQ(ParseErrorBody("<html><body>oops</body></html>"), "");
    EXPECT_EQ(ParseErrorBody("<errors/>"), "");
    EXPECT_EQ(ParseErrorBody("<errors><error><code>c</code></error></errors>"), "c : ");
    EXPECT_EQ(ParseErrorBody("<errors><error><internalReason>r</internalReason></error></errors>"),
              " : r");
    EXPECT_EQ(ParseErrorBody("<errors><error><code/><internalReason>r</internalReason></error>"
                             "<error><code>second</code></error></errors>"),
              " : r");
    // Long reasons are kept whole.
    const std::string reason(2000, 'x');
    EXPECT_EQ(ParseErrorBody("<errors><error><code>c</code><internalReason>" + reason +
                             "</internalReason></error></errors>"),
              "c : " + reason);
}

TEST(CommonHeaders, OrderAndBlanks) {
    EXPECT_EQ(
        BuildCommonHeaders(std::nullopt, std::nullopt, "T"),
        (std::vector<std::string>{"GData-Version: 3.0", "Authorization: GoogleLogin auth=T"}));
    EXPECT_EQ(BuildCommonHeaders("application/atom+xml", "*", "T"),
              (std::vector<std::string>{"GData-Version: 3.0", "Authorization: GoogleLogin auth=T",
                                        "Content-Type:application/atom+xml", "If-Match: *"}));
    EXPECT_EQ(BuildCommonHeaders(std::nullopt, "\"etag\"", "T").back(), "If-Match: \"etag\"");
}

class RequestBodies : public ::testing::Test {
protected:
    test::ScopedHosts m_hosts{test::HostsFor("docs.test")};
};

// Regression: only "&" was escaped, so "<" in a title broke the body.
TEST_F(RequestBodies, CreateFolderEscapesMarkupInTitles) {
    EXPECT_EQ(BuildCreateFolderBody("R&D <x>"),
              "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\">"
              "<category scheme=\"http://schemas.google.com/g/2005#kind\" "
              "term=\"http://schemas.google.com/docs/2007#folder\"/>"
              "<title>R&amp;D &lt;x&gt;</title></entry>");
}

TEST_F(RequestBodies, UpdateEntryAndItsFragments) {
    EXPECT_EQ(BuildUpdateEntryBody("<f/>"),
              "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\"  "
              "xmlns:docs=\"http://schemas.google.com/docs/2007\"  "
              "xmlns:gd=\"http://schemas.google.com/g/2005\"><f/></entry>");
    EXPECT_EQ(BuildRenameFragment("a&&b"), "<title>a&amp;&amp;b</title>");
    EXPECT_EQ(BuildRenameFragment("</title><x/>"), "<title>&lt;/title&gt;&lt;x/&gt;</title>");
    EXPECT_EQ(BuildStarredFragment(true),
              "<category scheme=\"http://schemas.google.com/g/2005/labels\" "
              "term=\"http://schemas.google.com/g/2005/labels#starred\" label=\"starred\"/>");
    EXPECT_EQ(BuildStarredFragment(false),
              "<category scheme=\"http://schemas.google.com/g/2005/labels\" "
              "term=\"http://schemas.google.com/g/2005/labels#starred\" label=\"\"/>");
}

TEST_F(RequestBodies, TrashUrlSplitsAtFirstColon) {
    EXPECT_EQ(TrashEntryUrl("folder:abc", true),
              "https://docs.test/feeds/default/private/full/folder%3Aabc?delete=true");
    EXPECT_EQ(TrashEntryUrl("document:a:b", false),
              "https://docs.test/feeds/default/private/full/document%3Aa:b");
    for (const char* bad : {"", "folderabc"})
        EXPECT_EQ(test::Failure([&] { TrashEntryUrl(bad, false); }), "Invalid Entry Id.") << bad;
}

TEST(ReadFromMemory, HandsOutBodyInPiecesThenStops) {
    const std::string body = "0123456789";
    MemorySource source{body.data(), body.size()};
    char out[8];
    std::string got;
    for (std::size_t n; (n = ReadFromMemory(out, 1, sizeof out, &source)) != 0;) got.append(out, n);
    EXPECT_EQ(got, body);
    EXPECT_EQ(source.remaining, 0u);
    EXPECT_EQ(ReadFromMemory(out, 1, sizeof out, &source), 0u);
}

using test::Failure;

TEST(Preconditions, EveryOperationNeedsTheTokenThenValidInput) {
    test::ScopedHosts hosts(test::HostsFor("127.0.0.1:9"));
    ServiceClient client("me@example.com", "pw");
    tinyxml2::XMLDocument doc;
    const std::string loggedOut = "The user must be logged in.";
    EXPECT_EQ(Failure([&] { GetFeed(client, "https://x/", doc); }), loggedOut);
    EXPECT_EQ(Failure([&] { UpdateEntry(client, "", "<f/>"); }), loggedOut);
    EXPECT_EQ(Failure([&] { CreateFolder(client, "", std::nullopt, doc); }), loggedOut);
    EXPECT_EQ(Failure([&] { TrashEntry(client, "", false); }), loggedOut);
    EXPECT_EQ(Failure([&] { RenameEntry("u", "t", client); }), loggedOut);
    EXPECT_EQ(Failure([&] { SetStarred(client, "u", true); }), loggedOut);

    client.SetWritelyToken("T");
    EXPECT_EQ(Failure([&] { UpdateEntry(client, "", "<f/>"); }), "Invalid Entry .");
    EXPECT_EQ(Failure([&] { RenameEntry("", "t", client); }), "Invalid Entry .");
    EXPECT_EQ(Failure([&] { SetStarred(client, "", false); }), "Invalid Entry .");
    EXPECT_EQ(Failure([&] { CreateFolder(client, "", std::nullopt, doc); }),
              "Invalid folder name.");
    EXPECT_EQ(Failure([&] { TrashEntry(client, "", true); }), "Invalid Entry Id.");
    EXPECT_EQ(Failure([&] { TrashEntry(client, "nocolon", true); }), "Invalid Entry Id.");
}

TEST(Preconditions, ClientLoginNeedsEmailAndPassword) {
    ServiceClient noPassword("me@example.com", std::nullopt);
    ServiceClient emptyPassword("me@example.com", "");
    ServiceClient emptyEmail("", "pw");
    for (ServiceClient* client : {&noPassword, &emptyPassword, &emptyEmail}) {
        EXPECT_EQ(Failure([&] { ClientLogin(*client, "writely"); }),
                  "Login Email or Password cannot be empty!");
        EXPECT_FALSE(client->Credentials().writelyToken);
    }
}

}  // namespace
}  // namespace tallowdesk
