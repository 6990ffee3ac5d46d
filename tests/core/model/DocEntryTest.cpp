#include "model/DocEntry.h"

#include <gtest/gtest.h>

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
