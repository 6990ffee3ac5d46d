// The Atom writer appends into one buffer with its own date formatting and
// escaping; these compare it with the plain helpers it replaces.
#include <gtest/gtest.h>

#include <string>

#include "AtomWriter.h"
#include "HttpMessage.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const auto start = text.find(open);
    if (start == std::string::npos) return {};
    const auto end = text.find(close, start + open.size());
    return text.substr(start + open.size(), end - start - open.size());
}

// Dates computed by hand must agree with the C library's for days around
// leap years, century rules and the ends of the range.
TEST(AtomWriterTest, EntryTimesMatchFormatTime) {
    const std::int64_t times[] = {
        0,                // 1970-01-01
        951782400000,     // 2000-02-29, a leap day of a 400-year century
        951868799999,     // its last millisecond
        4107542400000,    // 2100-03-01, after a century that is no leap year
        1375195933096,    // an ordinary instant
        253402300799999,  // 9999-12-31T23:59:59.999Z, the last four-digit year
        253402300800000,  // year 10000: written by the C library's route
        -1,               // before 1970: the same
    };
    for (const std::int64_t t : times) {
        StoredEntry e;
        e.id = "x";
        e.kind = "document";
        e.published = t;
        e.updated = t;
        e.edited = t;
        const std::string doc = EntryDocument("https://localhost", e);
        EXPECT_EQ(Between(doc, "<published>", "</published>"), FormatTime(t)) << t;
    }
}

// Titles and addresses of every sort come out as XmlEscape writes them.
TEST(AtomWriterTest, TextIsEscapedLikeXmlEscape) {
    const std::string titles[] = {
        "plain",
        "a & b < c > d 'e' \"f\"",
        "&&&",
        "caf\xC3\xA9 & cr\xC3\xA8me",  // UTF-8 with an entity after it
        "bad \xFF byte & more",        // invalid UTF-8: mended
        "tab\there\x01",               // a control character XML does not take
        "",
    };
    for (const std::string& title : titles) {
        StoredEntry e;
        e.id = "x";
        e.kind = "file";
        e.title = title;
        e.mime = "text/plain";
        e.ownerName = title;
        const std::string doc = EntryDocument("https://localhost", e);
        EXPECT_EQ(Between(doc, "<title>", "</title>"), XmlEscape(title));
        EXPECT_EQ(Between(doc, "<docs:filename>", "</docs:filename>"), XmlEscape(title));
        EXPECT_EQ(Between(doc, "<author><name>", "</name>"), XmlEscape(title));
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
