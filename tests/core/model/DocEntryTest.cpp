#include "model/DocEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "../service/ScopedHosts.h"
#include "TestData.h"
#include "model/EntryList.h"

namespace tallowdesk {
namespace {

using test::ParseXml;
using test::ReadTestFile;

// Wraps entry children the way the service does: prefixes declared on the root.
std::string Feed(const std::string& entries) {
    return "<?xml version='1.0' encoding='UTF-8'?><feed xmlns='http://www.w3.org/2005/Atom' "
           "xmlns:gd='http://schemas.google.com/g/2005' "
           "xmlns:docs='http://schemas.google.com/docs/2007'>" +
           entries + "</feed>";
}

DocEntry ParseOne(const std::string& entryXml) {
    tinyxml2::XMLDocument doc;
    ParseXml(doc, Feed(entryXml));
    return ParseEntry(*doc.FirstChildElement("feed")->FirstChildElement("entry"));
}

TEST(ParseFeedEntries, RealDocumentListFeed) {
    tinyxml2::XMLDocument doc;
    ParseXml(doc, ReadTestFile("doclist-feed-v3.xml"));
    EntryList list;
    ASSERT_EQ(ParseFeedEntries(list, doc), 5);
    const auto entries = list.Snapshot();

    const DocEntry& p = *entries[0];
    EXPECT_EQ(p.etag, "\"A1RbFRVRQCt7ImBk\"");
    EXPECT_EQ(p.id, "https://docs.google.com/feeds/id/presentation%3A1pcBUkv9mRQa9dQmOnvUvQXD1ZHlwsuc8CI7dPJ9e8RI");
    EXPECT_EQ(p.published, "2013-07-30 14:52:13");
    EXPECT_EQ(p.updated, "2013-07-30 14:52:13");
    EXPECT_EQ(p.edited, "2013-07-30 14:52:13");
    EXPECT_TRUE(p.viewed);
    EXPECT_FALSE(p.starred);
    EXPECT_FALSE(p.hidden);
    EXPECT_EQ(p.title, "Temporary Presentation");
    EXPECT_EQ(p.contentType, "text/html");
    EXPECT_EQ(p.contentSrc, "https://docs.google.com/feeds/download/presentations/Export?id="
                            "1pcBUkv9mRQa9dQmOnvUvQXD1ZHlwsuc8CI7dPJ9e8RI");
    EXPECT_FALSE(p.parentHref);  // top-level items carry no parent link
    EXPECT_EQ(p.kind, "presentation");
    EXPECT_EQ(p.shortId, "1pcBUkv9mRQa9dQmOnvUvQXD1ZHlwsuc8CI7dPJ9e8RI");
    EXPECT_EQ(p.authorName, "libgdata.documents");
    EXPECT_EQ(p.authorEmail, "libgdata.documents@gmail.com");
    EXPECT_EQ(p.modifierEmail, "libgdata.documents@gmail.com");
    EXPECT_EQ(p.quotaBytesUsed, "0");
    EXPECT_EQ(p.sizeText, "0 ");
    EXPECT_FALSE(p.writersCanInvite);
    EXPECT_EQ(p.aclFeedHref, "https://docs.google.com/feeds/default/private/full/presentation%3A"
                             "1pcBUkv9mRQa9dQmOnvUvQXD1ZHlwsuc8CI7dPJ9e8RI/acl");
    EXPECT_EQ(p.revisionsFeedHref,
              "https://docs.google.com/feeds/default/private/full/presentation%3A"
              "1pcBUkv9mRQa9dQmOnvUvQXD1ZHlwsuc8CI7dPJ9e8RI/revisions");
    EXPECT_TRUE(p.editHref.has_value());
    EXPECT_TRUE(p.alternateHref.has_value());

    const DocEntry& folder = *entries[4];
    EXPECT_TRUE(folder.IsFolder());
    EXPECT_EQ(folder.shortId, "0BzY2jgHHwMwYdVQtQzVYejA5dmc");
    EXPECT_FALSE(folder.quotaBytesUsed);  // never read for folders
    EXPECT_EQ(folder.sizeText, "");
    EXPECT_FALSE(folder.revisionsFeedHref);
}

TEST(ParseFeedEntries, UploadedFileInFolder) {
    tinyxml2::XMLDocument doc;
    ParseXml(doc, ReadTestFile("entry-file-uploaded-to-folder.xml"));
    const DocEntry e = ParseEntry(*doc.FirstChildElement("entry"));
    EXPECT_EQ(e.kind, "file");
    EXPECT_EQ(e.parentHref, "https://docs.google.com/feeds/default/private/full/folder%3A0BzY2jgHHwMwYXzkyMGhELWdsamM");
    EXPECT_EQ(e.parentTitle, "Temporary Folder for Uploading Documents");
    EXPECT_EQ(e.editMediaType, "application/vnd.oasis.opendocument.text");
    EXPECT_EQ(e.sizeText, "8 ,033 ");
    // Entities inside attribute values arrive decoded.
    EXPECT_NE(e.contentSrc->find("&e=download&gd=true"), std::string::npos);
    EXPECT_EQ(FirstEntryKind(doc), "file");
}

TEST(ParseFeedEntries, AppendsAndCounts) {
    EntryList list;
    tinyxml2::XMLDocument doc;
    ParseXml(doc, Feed(""));
    EXPECT_EQ(ParseFeedEntries(list, doc), 0);
    ParseXml(doc, "<notafeed><entry/></notafeed>");
    EXPECT_EQ(ParseFeedEntries(list, doc), 0);
    ParseXml(doc, ReadTestFile("doclist-feed-docs-example-with-next.xml"));
    const int first = ParseFeedEntries(list, doc);
    EXPECT_GT(first, 0);
    EXPECT_EQ(ParseFeedEntries(list, doc), first);  // entries already listed stay
    EXPECT_EQ(list.Size(), static_cast<std::size_t>(2 * first));
    ClearEntryList(list);
    EXPECT_EQ(list.Size(), 0u);
}

TEST(ParseEntry, MissingPartsStayEmpty) {
    const DocEntry e = ParseOne("<entry><title/></entry>");
    EXPECT_FALSE(e.etag);
    EXPECT_FALSE(e.title);  // an element without text is absent
    EXPECT_FALSE(e.contentType);
    EXPECT_FALSE(e.contentSrc);
    EXPECT_FALSE(e.resourceId);
    EXPECT_EQ(e.kind, "");
    EXPECT_EQ(e.shortId, "");
    EXPECT_TRUE(e.writersCanInvite);
    EXPECT_EQ(e.sizeText, "0 ");

    const DocEntry noColon = ParseOne("<entry><gd:resourceId>abc</gd:resourceId></entry>");
    EXPECT_EQ(noColon.kind, "");
    EXPECT_EQ(noColon.shortId, "");
    const DocEntry twoColons = ParseOne("<entry><gd:resourceId>file:a:b</gd:resourceId></entry>");
    EXPECT_EQ(twoColons.kind, "file");
    EXPECT_EQ(twoColons.shortId, "a:b");
}

TEST(ParseEntry, FirstLinkOfEachRelWins) {
    const DocEntry e = ParseOne(
        "<entry>"
        "<link rel='http://schemas.google.com/docs/2007#parent' href='p1' title='One'/>"
        "<link rel='http://schemas.google.com/docs/2007#parent' href='p2' title='Two'/>"
        "<link rel='self' href='s1'/><link rel='self' href='s2'/>"
        "<link href='norel'/>"
        "<link rel='edit-media' type='text/plain' href='m1'/>"
        "<link rel='EDIT' href='caps'/>"
        "</entry>");
    EXPECT_EQ(e.parentHref, "p1");
    EXPECT_EQ(e.parentTitle, "One");
    EXPECT_EQ(e.selfHref, "s1");
    EXPECT_FALSE(e.editHref);  // rel is compared exactly
    EXPECT_EQ(e.editMediaHref, "m1");
    EXPECT_EQ(e.editMediaType, "text/plain");
}

TEST(ParseEntry, CategoriesAndFlags) {
    const DocEntry e = ParseOne(
        "<entry><category scheme='elsewhere' label='starred'/><category term='x'/>"
        "<category label='hidden'/><docs:writersCanInvite value='true'/></entry>");
    EXPECT_TRUE(e.starred);  // the scheme is not looked at
    EXPECT_TRUE(e.hidden);
    EXPECT_FALSE(e.viewed);
    EXPECT_TRUE(e.writersCanInvite);
    EXPECT_FALSE(ParseOne("<entry><docs:writersCanInvite/></entry>").writersCanInvite);
    // Element names are matched with their prefixes, not by namespace.
    EXPECT_TRUE(ParseOne("<entry><writersCanInvite value='false'/></entry>").writersCanInvite);
}

TEST(ParseEntry, TimeTexts) {
    const DocEntry e = ParseOne(
        "<entry><published>2011-05-04T12:34:56.789Z</published><updated>2011-05-04</updated>"
        "<app:edited xmlns:app='http://www.w3.org/2007/app'>2011-05-04T12:34:56Z</app:edited>"
        "</entry>");
    EXPECT_EQ(e.published, "2011-05-04 12:34:56");
    EXPECT_EQ(e.updated, "2011-05-04");  // short texts are copied whole
    EXPECT_EQ(e.edited, "2011-05-04 12:34:56");
}

TEST(ParseEntry, QuotaBeyond32Bits) {
    // Sizes are 64-bit: no saturation at 2^31-1.
    EXPECT_EQ(ParseOne("<entry><gd:resourceId>file:x</gd:resourceId>"
                       "<gd:quotaBytesUsed>2147483648</gd:quotaBytesUsed></entry>")
                  .sizeText,
              "2 ,147 ,483 ,648 ");
    const DocEntry big = ParseOne("<entry><gd:resourceId>file:x</gd:resourceId>"
                                  "<gd:quotaBytesUsed>5000000000000</gd:quotaBytesUsed></entry>");
    EXPECT_EQ(big.QuotaBytes(), 5000000000000u);
    EXPECT_EQ(big.sizeText, "5 ,000 ,000 ,000 ,000 ");
    const DocEntry folder = ParseOne("<entry><gd:resourceId>folder:x</gd:resourceId>"
                                     "<gd:quotaBytesUsed>77</gd:quotaBytesUsed></entry>");
    EXPECT_FALSE(folder.quotaBytesUsed);
    EXPECT_EQ(folder.sizeText, "");
    EXPECT_EQ(ParseOne("<entry><gd:quotaBytesUsed>junk</gd:quotaBytesUsed></entry>").sizeText,
              "0 ");
}

// Every field of a record as text ("-" for absent), so that records compare
// whole and a failure names the field.
std::map<std::string, std::string> Fields(const DocEntry& e) {
    const auto t = [](const std::optional<std::string>& v) { return v ? "[" + *v + "]" : "-"; };
    const auto b = [](bool v) { return std::string(v ? "yes" : "no"); };
    return {{"etag", t(e.etag)},
            {"id", t(e.id)},
            {"published", t(e.published)},
            {"updated", t(e.updated)},
            {"edited", t(e.edited)},
            {"starred", b(e.starred)},
            {"hidden", b(e.hidden)},
            {"viewed", b(e.viewed)},
            {"title", t(e.title)},
            {"contentType", t(e.contentType)},
            {"contentSrc", t(e.contentSrc)},
            {"parentHref", t(e.parentHref)},
            {"parentTitle", t(e.parentTitle)},
            {"alternateHref", t(e.alternateHref)},
            {"selfHref", t(e.selfHref)},
            {"editHref", t(e.editHref)},
            {"editMediaType", t(e.editMediaType)},
            {"editMediaHref", t(e.editMediaHref)},
            {"authorName", t(e.authorName)},
            {"authorEmail", t(e.authorEmail)},
            {"resourceId", t(e.resourceId)},
            {"kind", "[" + e.kind + "]"},
            {"shortId", "[" + e.shortId + "]"},
            {"modifierName", t(e.modifierName)},
            {"modifierEmail", t(e.modifierEmail)},
            {"quotaBytesUsed", t(e.quotaBytesUsed)},
            {"sizeText", "[" + e.sizeText + "]"},
            {"writersCanInvite", b(e.writersCanInvite)},
            {"aclFeedHref", t(e.aclFeedHref)},
            {"revisionsFeedHref", t(e.revisionsFeedHref)}};
}

// One element of each kind the record is filled from, in the service's order.
const char* const kFullChildren[] = {
    "<id>urn:1</id>",
    "<published>2011-05-04T01:02:03.000Z</published>",
    "<updated>2011-05-05T01:02:03.000Z</updated>",
    "<app:edited xmlns:app='http://www.w3.org/2007/app'>2011-05-06T01:02:03.000Z</app:edited>",
    "<category scheme='s' label='starred'/>",
    "<category label='viewed'/>",
    "<title>Plan</title>",
    "<content type='text/plain' src='http://d/src'/>",
    "<link rel='http://schemas.google.com/docs/2007#parent' href='http://d/parent' "
    "title='Folder'/>",
    "<link rel='alternate' type='text/html' href='http://d/alt'/>",
    "<link rel='self' href='http://d/self'/>",
    "<link rel='edit' href='http://d/edit'/>",
    "<link rel='edit-media' type='text/plain' href='http://d/media'/>",
    "<author><name>Ann</name><email>ann@x</email></author>",
    "<gd:resourceId>file:abc</gd:resourceId>",
    "<gd:lastModifiedBy><name>Bob</name><email>bob@x</email></gd:lastModifiedBy>",
    "<gd:quotaBytesUsed>1234</gd:quotaBytesUsed>",
    "<docs:writersCanInvite value='false'/>",
    "<gd:feedLink rel='http://schemas.google.com/acl/2007#accessControlList' href='http://d/acl'/>",
    "<gd:feedLink rel='http://schemas.google.com/docs/2007/revisions' href='http://d/rev'/>",
};

std::string FullEntry(bool reversed, const std::string& between = {}) {
    std::vector<std::string> children(std::begin(kFullChildren), std::end(kFullChildren));
    if (reversed) std::reverse(children.begin(), children.end());
    std::string xml = "<entry gd:etag='W/&quot;e1&quot;'>";
    for (const std::string& child : children) xml += between + child;
    return xml + between + "</entry>";
}

// The fields are found in one walk over the children: the order of the
// elements, and anything between them, must not change what is found.
TEST(ParseEntry, ElementOrderAndStrangersDoNotMatter) {
    const auto expected = Fields(ParseOne(FullEntry(false)));
    EXPECT_EQ(expected.at("etag"), "[W/\"e1\"]");
    EXPECT_EQ(expected.at("published"), "[2011-05-04 01:02:03]");
    EXPECT_EQ(expected.at("edited"), "[2011-05-06 01:02:03]");
    EXPECT_EQ(expected.at("starred"), "yes");
    EXPECT_EQ(expected.at("hidden"), "no");
    EXPECT_EQ(expected.at("viewed"), "yes");
    EXPECT_EQ(expected.at("contentSrc"), "[http://d/src]");
    EXPECT_EQ(expected.at("parentHref"), "[http://d/parent]");
    EXPECT_EQ(expected.at("parentTitle"), "[Folder]");
    EXPECT_EQ(expected.at("alternateHref"), "[http://d/alt]");
    EXPECT_EQ(expected.at("editMediaType"), "[text/plain]");
    EXPECT_EQ(expected.at("authorEmail"), "[ann@x]");
    EXPECT_EQ(expected.at("modifierName"), "[Bob]");
    EXPECT_EQ(expected.at("kind"), "[file]");
    EXPECT_EQ(expected.at("sizeText"), "[1 ,234 ]");
    EXPECT_EQ(expected.at("writersCanInvite"), "no");
    EXPECT_EQ(expected.at("aclFeedHref"), "[http://d/acl]");
    EXPECT_EQ(expected.at("revisionsFeedHref"), "[http://d/rev]");
    for (const auto& [name, between] : std::vector<std::pair<const char*, std::string>>{
             {"reversed", ""},
             {"unknown elements", "<docs:isShareable value='true'/><name>x</name><email/>"},
             {"comments and blanks", "\n  <!-- note -->\n  "},
             {"other links",
              "<link rel='http://schemas.google.com/docs/2007#icon' href='i'/>"
              "<link type='x' href='norel'/>"},
         }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Fields(ParseOne(FullEntry(true, between))), expected);
        EXPECT_EQ(Fields(ParseOne(FullEntry(false, between))), expected);
    }
}

// A folder's quota is never read, even when its resource id comes after it.
TEST(ParseEntry, FolderQuotaBeforeResourceId) {
    const DocEntry folder = ParseOne(
        "<entry><gd:quotaBytesUsed>77</gd:quotaBytesUsed>"
        "<gd:resourceId>folder:f</gd:resourceId></entry>");
    EXPECT_TRUE(folder.IsFolder());
    EXPECT_FALSE(folder.quotaBytesUsed);
    EXPECT_EQ(folder.sizeText, "");
}

TEST(ParseEntry, RepeatedAndOddElements) {
    struct Case {
        const char* what;
        std::string children;
        std::map<std::string, std::string> expected;
    };
    const std::vector<Case> cases = {
        {"the first element of each name wins",
         "<id>a</id><id>b</id><title>T1</title><title>T2</title>"
         "<content type='t1' src='s1'/><content type='t2' src='s2'/>"
         "<author><name>A1</name></author><author><name>A2</name><email>e2</email></author>"
         "<gd:resourceId>file:1</gd:resourceId><gd:resourceId>folder:2</gd:resourceId>"
         "<docs:writersCanInvite value='true'/><docs:writersCanInvite value='false'/>",
         {{"id", "[a]"},
          {"title", "[T1]"},
          {"contentType", "[t1]"},
          {"contentSrc", "[s1]"},
          {"authorName", "[A1]"},
          {"authorEmail", "-"},
          {"kind", "[file]"},
          {"writersCanInvite", "yes"}}},
        {"the first link of a rel wins even without the attribute asked for",
         "<link rel='self'/><link rel='self' href='s2'/>"
         "<link rel='edit-media' href='m1'/><link rel='edit-media' type='t2' href='m2'/>",
         {{"selfHref", "-"}, {"editMediaHref", "[m1]"}, {"editMediaType", "-"}}},
        {"the last matching feed link wins, even without href",
         "<gd:feedLink rel='a#accessControlList' href='acl1'/>"
         "<gd:feedLink rel='b#accessControlList'/>"
         "<gd:feedLink rel='x/revisions' href='r1'/><gd:feedLink rel='other' href='o'/>"
         "<gd:feedLink rel='y/revisions#accessControlList' href='both'/>",
         {{"aclFeedHref", "[both]"}, {"revisionsFeedHref", "[both]"}}},
        {"entities, character references and CDATA are decoded",
         "<title>R&amp;D &lt;1&gt; &#233;t&#xE9;</title><id><![CDATA[a & <b>]]></id>"
         "<link rel='&#115;elf' href='x?a=1&amp;b=2'/><category label='st&#97;rred'/>",
         {{"title", "[R&D <1> \xC3\xA9t\xC3\xA9]"},
          {"id", "[a & <b>]"},
          {"selfHref", "[x?a=1&b=2]"},
          {"starred", "yes"}}},
        {"blanks in texts are kept as sent",
         "<title>  two  blanks\tand a tab \n</title><gd:resourceId> file:x</gd:resourceId>",
         {{"title", "[  two  blanks\tand a tab \n]"}, {"kind", "[ file]"}, {"shortId", "[x]"}}},
        {"elements without text are absent",
         "<title></title><id><b>x</b></id><published/><author/>"
         "<gd:lastModifiedBy><name/></gd:lastModifiedBy><content/>",
         {{"title", "-"},
          {"id", "-"},
          {"published", "-"},
          {"authorName", "-"},
          {"modifierName", "-"},
          {"contentType", "-"}}},
        {"time texts shorter than a full time stay whole",
         "<published>2011-05-04T12:34:5</published><updated>2011-05-04T12:34:56</updated>",
         {{"published", "[2011-05-04T12:34:5]"}, {"updated", "[2011-05-04 12:34:56]"}}},
        {"link and category names are matched exactly",
         "<Link rel='self' href='s'/><atom:link rel='edit' href='e'/>"
         "<categories label='hidden'/><category label='Hidden'/>",
         {{"selfHref", "-"}, {"editHref", "-"}, {"hidden", "no"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto fields = Fields(ParseOne("<entry>" + c.children + "</entry>"));
        for (const auto& [name, value] : c.expected) EXPECT_EQ(fields.at(name), value) << name;
    }
}

// The parent link's rel is built from the configured schemas host.
TEST(ParseEntry, ParentRelFollowsSchemasHost) {
    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.schemasHost = "schemas.example:8080";
    const test::ScopedHosts scoped(hosts);
    const DocEntry e = ParseOne(
        "<entry>"
        "<link rel='http://schemas.google.com/docs/2007#parent' href='google'/>"
        "<link rel='https://schemas.example:8080/docs/2007#parent' href='https'/>"
        "<link rel='http://schemas.example:8080/docs/2007#parents' href='longer'/>"
        "<link rel='http://schemas.example/docs/2007#parent' href='noport'/>"
        "<link rel='http://schemas.elpmaxe:8080/docs/2007#parent' href='samelength'/>"
        "<link rel='http://schemas.example:8080/docs/2007#parent' href='yes' title='P'/>"
        "<link rel='http://schemas.example:8080/docs/2007#parent' href='second'/>"
        "</entry>");
    EXPECT_EQ(e.parentHref, "yes");
    EXPECT_EQ(e.parentTitle, "P");
}

TEST(FormatByteCount, Groups) {
    EXPECT_EQ(FormatByteCount(0), "0 ");
    EXPECT_EQ(FormatByteCount(999), "999 ");
    EXPECT_EQ(FormatByteCount(1000), "1 ,000 ");
    EXPECT_EQ(FormatByteCount(1024), "1 ,024 ");
    EXPECT_EQ(FormatByteCount(1234567), "1 ,234 ,567 ");
    EXPECT_EQ(FormatByteCount(1000001), "1 ,000 ,001 ");
    EXPECT_EQ(FormatByteCount(2147483647), "2 ,147 ,483 ,647 ");
    EXPECT_EQ(FormatByteCount(18446744073709551615u), "18 ,446 ,744 ,073 ,709 ,551 ,615 ");
}

}  // namespace
}  // namespace tallowdesk
