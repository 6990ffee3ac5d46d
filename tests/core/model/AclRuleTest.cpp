#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Failure.h"
#include "TestData.h"
#include "model/AclRule.h"

namespace tallowdesk {
namespace {

std::vector<AclRule> ParseAll(const std::string& xml) {
    tinyxml2::XMLDocument doc;
    test::ParseXml(doc, xml);
    std::vector<AclRule> rules;
    for (auto* e = doc.FirstChildElement("feed")->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry"))
        rules.push_back(ParseAclRule(e));
    return rules;
}

TEST(ParseAclRule, DocumentationFeed) {
    const auto rules = ParseAll(test::ReadTestFile("acl-feed-docs-example.xml"));
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_EQ(rules[0].role, "owner");
    EXPECT_EQ(rules[0].scopeType, "user");
    EXPECT_TRUE(rules[0].scopeValue);
    EXPECT_TRUE(rules[0].editHref);
    EXPECT_EQ(rules[0].etag, "W/\"CUUNSXYyfCp7ImA9WxRVGUo.\"");
    EXPECT_EQ(rules[0].categoryScheme, "http://schemas.google.com/g/2005#kind");
    EXPECT_EQ(rules[0].categoryTerm, "http://schemas.google.com/acl/2007#accessRule");
    const AclRule& anyone = rules.back();
    EXPECT_EQ(anyone.scopeType, "default");
    EXPECT_FALSE(anyone.scopeValue);
    EXPECT_FALSE(anyone.etag);
}

TEST(ParseAclRule, LastLinkWinsAndTextsStayAsSent) {
    const auto rules = ParseAll(
        "<feed><entry><updated>2011-05-04T12:34:56.789Z</updated>"
        "<title>Gruppe \xC3\xA4</title>"
        "<link rel='self' href='s1'/><link rel='edit' href='e1'/><link href='x'/>"
        "<link rel='self' href='s2'/><link rel='edit' href='e2'/>"
        "<gAcl:role value='reader'/><gAcl:scope type='group' value='g@groups'/>"
        "</entry></feed>");
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].updated, "2011-05-04T12:34:56.789Z");
    EXPECT_EQ(rules[0].title, "Gruppe \xC3\xA4");
    EXPECT_EQ(rules[0].selfHref, "s2");
    EXPECT_EQ(rules[0].editHref, "e2");
    EXPECT_EQ(rules[0].role, "reader");
    EXPECT_EQ(rules[0].scopeValue, "g@groups");
}

TEST(ParseAclRule, CreatedEntryAndNull) {
    tinyxml2::XMLDocument doc;
    test::ParseXml(doc, test::ReadTestFile("acl-entry-created.xml"));
    const AclRule r = ParseAclRule(doc.FirstChildElement("entry"));
    EXPECT_TRUE(r.role);
    EXPECT_TRUE(r.editHref);
    EXPECT_EQ(test::Failure([] { ParseAclRule(nullptr); }), "the Acl user entry is invalid.");
}

TEST(ShareAddresses, SplitAndScope) {
    const auto parts = SplitShareAddresses(" a@x.org;team@groups.example, example.com\tb@y\n;;");
    ASSERT_EQ(parts,
              (std::vector<std::string>{"a@x.org", "team@groups.example", "example.com", "b@y"}));
    EXPECT_EQ(ScopeTypeForAddress(parts[0], "groups.example"), "user");
    EXPECT_EQ(ScopeTypeForAddress(parts[1], "groups.example"), "group");
    EXPECT_EQ(ScopeTypeForAddress(parts[2], "groups.example"), "domain");
    EXPECT_EQ(ScopeTypeForAddress("intranet.local", "groups.example"), "user");
}

}  // namespace
}  // namespace tallowdesk
