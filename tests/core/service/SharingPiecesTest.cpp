// Access-rule entries and the quota sentence, without a network.
#include <gtest/gtest.h>

#include "ScopedHosts.h"
#include "service/Sharing.h"

namespace tallowdesk {
namespace {

class SharingPieces : public ::testing::Test {
protected:
    test::ScopedHosts m_hosts{test::HostsFor("docs.test")};
};

constexpr const char* kStart =
    "<entry xmlns=\"http://www.w3.org/2005/Atom\"  xmlns:gAcl='http://schemas.google.com/acl/2007'";
constexpr const char* kCategory =
    "<category scheme='http://schemas.google.com/g/2005#kind' "
    "term='http://schemas.google.com/acl/2007#accessRule'/>";

TEST_F(SharingPieces, NewRuleEntry) {
    EXPECT_EQ(AclFeedUrl("spreadsheet", "s1"),
              "https://docs.test/feeds/default/private/full/spreadsheet%3As1/acl");
    EXPECT_EQ(BuildNewAclRuleEntry("user", "a@b.com", "writer"),
              std::string(kStart) + ">" + kCategory +
                  "<gAcl:role value='writer'/><gAcl:scope type='user'  value='a@b.com'/></entry>");
    // Everybody has no value, even when one is passed.
    EXPECT_EQ(BuildNewAclRuleEntry("default", "ignored", "reader"),
              std::string(kStart) + ">" + kCategory +
                  "<gAcl:role value='reader'/><gAcl:scope type='default'/></entry>");
    // An apostrophe (legal in addresses) cannot end the attribute early.
    EXPECT_NE(BuildNewAclRuleEntry("user", "o'hara&co@x.org", "reader")
                  .find("value='o&apos;hara&amp;co@x.org'/>"),
              std::string::npos);
}

TEST_F(SharingPieces, ChangedRuleEntry) {
    const std::string start = std::string(kStart) +
                              "   xmlns:gd='http://schemas.google.com/g/2005'  "
                              "gd:etag='W/\"CUUNSXYyfCp7ImA9WxRVGUo.\"'>" +
                              kCategory;
    EXPECT_EQ(
        BuildChangedAclRuleEntry("user", "a@b.com", "W/\"CUUNSXYyfCp7ImA9WxRVGUo.\"", "reader"),
        start +
            "<gAcl:role value='reader'/><gAcl:scope type='user'   value='a@b.com'/>"
            "</entry>");
    EXPECT_EQ(BuildChangedAclRuleEntry("default", "", "W/\"CUUNSXYyfCp7ImA9WxRVGUo.\"", "writer"),
              start + "<gAcl:role value='writer'/><gAcl:scope type='default' /></entry>");
}

TEST(QuotaText, UsageSentence) {
    EXPECT_EQ(ExtractQuotaText("<p>You are currently using 12.5 MB.</p>", "acc"),
              "You are currently using 12.5 MB.");
    // Without "MB.<" the second layout is not tried.
    EXPECT_EQ(
        ExtractQuotaText("You are currently using 3 GB.<span style=\"color:red;\">x</span>" +
                             std::string(200, ' ') + "https://acc/accounts/b/0/PurchaseStorage",
                         "acc"),
        std::nullopt);
    const std::string longNumber(200, '9');
    const auto cut = ExtractQuotaText("You are currently using " + longNumber + " MB.<", "acc");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), 127u);
    // Cut at a character boundary.
    std::string wide = "You are currently using ";
    for (int i = 0; i < 60; ++i) wide += "\xC3\xA9";
    EXPECT_EQ(ExtractQuotaText(wide + " MB.<", "acc")->size(), 126u);
    EXPECT_EQ(ExtractQuotaText("", "acc"), std::nullopt);
}

TEST(QuotaText, ColouredSpanBeforeThePurchaseLink) {
    const std::string link = "<a href=\"https://acc/accounts/b/0/PurchaseStorage\">Buy</a>";
    const std::string head = "<div><span style=\"color:#333;\">1.2 GB (8%) of 15 GB used</span>";
    EXPECT_EQ(ExtractQuotaText(head + link + std::string(60, '.'), "acc"),
              "1.2 GB (8%) of 15 GB used");
    // Exactly 100 characters from "</span>" on: nothing.
    const std::string shortTail = link + std::string(100 - 7 - link.size(), '.');
    ASSERT_EQ(7 + shortTail.size(), 100u);
    EXPECT_EQ(ExtractQuotaText(head + shortTail, "acc"), std::nullopt);
    // The link must lie within the first 100 characters.
    EXPECT_EQ(ExtractQuotaText(head + std::string(100, '.') + link, "acc"), std::nullopt);
    EXPECT_EQ(ExtractQuotaText(head + link + std::string(60, '.'), "other"), std::nullopt);
}

}  // namespace
}  // namespace tallowdesk
