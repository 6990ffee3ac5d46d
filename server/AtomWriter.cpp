#include "AtomWriter.h"

#include <charconv>

#include "Crypto.h"
#include "HttpMessage.h"
#include "web/WebCommon.h"

namespace tallowdesk::server {

namespace {

constexpr std::string_view kRootNamespaces =
    " xmlns='http://www.w3.org/2005/Atom'"
    " xmlns:openSearch='http://a9.com/-/spec/opensearch/1.1/'"
    " xmlns:docs='http://schemas.google.com/docs/2007'"
    " xmlns:batch='http://schemas.google.com/gdata/batch'"
    " xmlns:gd='http://schemas.google.com/g/2005'";
constexpr std::string_view kXmlDecl = "<?xml version='1.0' encoding='UTF-8'?>";
constexpr std::string_view kFeedPath = "/feeds/default/private/full/";
constexpr std::string_view kAtomType = "application/atom+xml";
constexpr std::string_view kParentRel = "http://schemas.google.com/docs/2007#parent";
// Room for one entry of a feed: about 2 KB with long titles and several
// parents; a page is written into one buffer of that size per entry.
constexpr std::size_t kEntryBytes = 2560;

bool IsStoredFile(const StoredEntry& e) {
    return e.kind == "file" || e.kind == "pdf";
}

// Everything below appends to one document under construction; nothing
// builds pieces in strings of their own that are then copied.

// Appends the pieces of an attribute value or a URL, one after the other.
template <typename... Parts>
void PutAttr(std::string& out, std::string_view name, const Parts&... value) {
    out += ' ';
    out += name;
    out += "='";
    (AppendXmlEscaped(out, value), ...);
    out += '\'';
}

void PutNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

void PutDigits(char* at, unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// FormatTime's text (2013-07-30T14:52:13.096Z), written without the C
// library's formatting: three of these per entry showed in profiles.
void PutTime(std::string& out, std::int64_t millis) {
    // Days to a civil date (proleptic Gregorian), after H. Hinnant's
    // "chrono-compatible low-level date algorithms".
    constexpr std::int64_t kMaxMillis = 253402300799999;  // 9999-12-31T23:59:59.999Z
    if (millis < 0 || millis > kMaxMillis) {
        out += FormatTime(millis);
        return;
    }
    const std::int64_t seconds = millis / 1000;
    const auto secondOfDay = static_cast<unsigned>(seconds % 86400);
    const std::int64_t days = seconds / 86400 + 719468;
    const std::int64_t era = days / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const auto year = static_cast<unsigned>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    char text[] = "0000-00-00T00:00:00.000Z";
    PutDigits(text, year, 4);
    PutDigits(text + 5, month, 2);
    PutDigits(text + 8, day, 2);
    PutDigits(text + 11, secondOfDay / 3600, 2);
    PutDigits(text + 14, secondOfDay / 60 % 60, 2);
    PutDigits(text + 17, secondOfDay % 60, 2);
    PutDigits(text + 20, static_cast<unsigned>(millis % 1000), 3);
    out.append(text, sizeof text - 1);
}

void PutEntryUrl(std::string& out, const std::string& origin, const StoredEntry& e) {
    AppendXmlEscaped(out, origin);
    out += kFeedPath;
    AppendXmlEscaped(out, e.kind);
    out += "%3A";
    AppendXmlEscaped(out, e.id);
}

// <link rel type href [title]/> with an href already escaped by the caller.
void OpenLink(std::string& out, std::string_view rel, std::string_view type) {
    out += "<link";
    PutAttr(out, "rel", rel);
    PutAttr(out, "type", type);
    out += " href='";
}

void CloseLink(std::string& out, std::string_view title = {}) {
    out += '\'';
    if (!title.empty()) PutAttr(out, "title", title);
    out += "/>";
}

void PutLink(std::string& out, std::string_view rel, std::string_view type, std::string_view href) {
    OpenLink(out, rel, type);
    AppendXmlEscaped(out, href);
    CloseLink(out);
}

void PutCategory(std::string& out, std::string_view scheme, std::string_view termNs,
                 std::string_view termName, std::string_view label) {
    out += "<category";
    PutAttr(out, "scheme", scheme);
    PutAttr(out, "term", termNs, termName);
    PutAttr(out, "label", label);
    out += "/>";
}

void PutLabel(std::string& out, std::string_view name) {
    out += "<category";
    PutAttr(out, "scheme", kLabelsScheme);
    PutAttr(out, "term", kLabelsScheme, "#", name);
    PutAttr(out, "label", name);
    out += "/>";
}

void PutPerson(std::string& out, std::string_view element, std::string_view name,
               std::string_view email) {
    out += '<';
    out += element;
    out += "><name>";
    AppendXmlEscaped(out, name);
    out += "</name><email>";
    AppendXmlEscaped(out, email);
    out += "</email></";
    out += element;
    out += '>';
}

void PutEntryBody(std::string& out, const std::string& origin, const StoredEntry& e) {
    const bool stored = IsStoredFile(e);
    out += "<id>";
    out += origin;
    out += "/feeds/id/";
    out += e.kind;
    out += "%3A";
    out += e.id;
    out += "</id><published>";
    PutTime(out, e.published);
    out += "</published><updated>";
    PutTime(out, e.updated);
    out += "</updated><app:edited xmlns:app='http://www.w3.org/2007/app'>";
    PutTime(out, e.edited);
    out += "</app:edited>";
    PutCategory(out, kKindScheme, kDocsNs, "#" + e.kind, stored ? e.mime : e.kind);
    if (e.starred) PutLabel(out, "starred");
    if (e.trashed) PutLabel(out, "trashed");
    if (e.viewed) PutLabel(out, "viewed");
    if (e.hidden) PutLabel(out, "hidden");
    out += "<title>";
    AppendXmlEscaped(out, e.title);
    out += "</title><content";
    if (e.kind == "folder") {
        PutAttr(out, "type", "application/atom+xml;type=feed");
        PutAttr(out, "src", origin, kFeedPath, "folder%3A", e.id, "/contents");
    } else {
        PutAttr(out, "type", stored ? std::string_view(e.mime) : std::string_view("text/html"));
        PutAttr(out, "src", ContentSrc(origin, e));
    }
    out += "/>";
    for (const auto& parent : e.parents) {
        OpenLink(out, kParentRel, kAtomType);
        AppendXmlEscaped(out, origin);
        out += kFeedPath;
        out += "folder%3A";
        AppendXmlEscaped(out, parent.id);
        CloseLink(out, parent.title);
    }
    PutLink(out, "alternate", "text/html", AlternateUrl(web::BrowserOrigin(origin), e));
    OpenLink(out, "self", kAtomType);
    PutEntryUrl(out, origin, e);
    CloseLink(out);
    OpenLink(out, "edit", kAtomType);
    PutEntryUrl(out, origin, e);
    CloseLink(out);
    if (e.kind != "folder") {
        OpenLink(out, "edit-media", stored ? std::string_view(e.mime) : "text/html");
        AppendXmlEscaped(out, origin);
        out += "/feeds/default/media/";
        AppendXmlEscaped(out, e.kind);
        out += "%3A";
        AppendXmlEscaped(out, e.id);
        CloseLink(out);
    }
    PutPerson(out, "author", e.ownerName, e.ownerEmail);
    out += "<gd:resourceId>";
    out += e.kind;
    out += ':';
    out += e.id;
    out += "</gd:resourceId>";
    if (e.trashed) out += "<gd:deleted/>";
    PutPerson(out, "gd:lastModifiedBy", e.modifierName, e.modifierEmail);
    // Folders and native documents take no storage, as with the original service.
    out += "<gd:quotaBytesUsed>";
    PutNumber(out, stored ? e.size : 0);
    out += "</gd:quotaBytesUsed><docs:writersCanInvite";
    PutAttr(out, "value", e.writersCanInvite ? "true" : "false");
    out += "/>";
    if (e.explicitlyTrashed && e.trashed) out += "<docs:isExplicitlyTrashed value='true'/>";
    if (stored) {
        out += "<docs:filename>";
        AppendXmlEscaped(out, e.title);
        out += "</docs:filename><docs:size>";
        PutNumber(out, e.size);
        out += "</docs:size>";
    }
    out += "<gd:feedLink";
    PutAttr(out, "rel", "http://schemas.google.com/acl/2007#accessControlList");
    out += " href='";
    PutEntryUrl(out, origin, e);
    out += "/acl'/>";
    if (e.kind != "folder") {
        out += "<gd:feedLink";
        PutAttr(out, "rel", kDocsNs, "/revisions");
        out += " href='";
        PutEntryUrl(out, origin, e);
        out += "/revisions'/>";
    }
}

}  // namespace

std::string AlternateUrl(const std::string& origin, const StoredEntry& e) {
    if (e.kind == "folder") return origin + "/folderview?id=" + e.id;
    if (e.kind == "document") return origin + "/document/d/" + e.id + "/edit";
    if (e.kind == "spreadsheet") return origin + "/spreadsheet/ccc?key=" + e.id;
    if (e.kind == "presentation") return origin + "/presentation/d/" + e.id + "/edit";
    if (e.kind == "drawing") return origin + "/drawings/d/" + e.id + "/edit";
    return origin + "/file/d/" + e.id + "/edit";
}

std::string EntryUrl(const std::string& origin, const StoredEntry& e) {
    return origin + std::string(kFeedPath) + e.kind + "%3A" + e.id;
}

std::string ContentsUrl(const std::string& origin, const std::string& folderId) {
    return origin + std::string(kFeedPath) + "folder%3A" + folderId + "/contents";
}

std::string ContentSrc(const std::string& origin, const StoredEntry& e) {
    if (e.kind == "document") return origin + "/feeds/download/documents/export/Export?id=" + e.id;
    if (e.kind == "presentation") return origin + "/feeds/download/presentations/Export?id=" + e.id;
    if (e.kind == "spreadsheet") return origin + "/feeds/download/spreadsheets/Export?key=" + e.id;
    if (e.kind == "drawing") return origin + "/feeds/download/drawings/Export?id=" + e.id;
    return origin + "/feeds/download/files/" + e.id + "?e=download&gd=true";
}

std::string EntryDocument(const std::string& origin, const StoredEntry& e) {
    std::string x;
    x.reserve(kEntryBytes + 512);
    x += kXmlDecl;
    x += "<entry"
         " xmlns='http://www.w3.org/2005/Atom'"
         " xmlns:docs='http://schemas.google.com/docs/2007'"
         " xmlns:batch='http://schemas.google.com/gdata/batch'"
         " xmlns:gd='http://schemas.google.com/g/2005'";
    PutAttr(x, "gd:etag", e.etag);
    x += '>';
    PutEntryBody(x, origin, e);
    x += "</entry>";
    return x;
}

std::string FeedDocument(const std::string& origin, const FeedPage& page,
                         const std::vector<StoredEntry>& entries) {
    std::string x;
    x.reserve(2048 + entries.size() * kEntryBytes);
    x += kXmlDecl;
    x += "<feed";
    x += kRootNamespaces;
    PutAttr(x, "gd:etag", "W/\"", RandomToken(22), ".\"");
    x += "><id>";
    AppendXmlEscaped(x, page.id);
    x += "</id><updated>";
    PutTime(x, NowMillis());
    x += "</updated>";
    PutCategory(x, kKindScheme, kDocsNs, "#item", "item");
    x += "<title>";
    AppendXmlEscaped(x, page.title);
    x += "</title>";
    PutLink(x, "alternate", "text/html", origin);
    PutLink(x, "http://schemas.google.com/g/2005#feed", kAtomType, page.id);
    PutLink(x, "http://schemas.google.com/g/2005#post", kAtomType, page.postUrl);
    PutLink(x, "self", kAtomType, page.selfUrl);
    if (page.nextUrl) PutLink(x, "next", kAtomType, *page.nextUrl);
    PutPerson(x, "author", page.authorName, page.authorEmail);
    x += "<openSearch:startIndex>";
    PutNumber(x, page.startIndex);
    x += "</openSearch:startIndex><openSearch:itemsPerPage>";
    PutNumber(x, page.itemsPerPage);
    x += "</openSearch:itemsPerPage>";
    for (const auto& e : entries) {
        x += "<entry";
        PutAttr(x, "gd:etag", e.etag);
        x += '>';
        PutEntryBody(x, origin, e);
        x += "</entry>";
    }
    x += "</feed>";
    return x;
}

std::string ErrorDocument(const std::string& code, const std::string& reason) {
    return "<errors xmlns='http://schemas.google.com/g/2005'><error><domain>GData</domain><code>" +
           XmlEscape(code) + "</code><internalReason>" + XmlEscape(reason) +
           "</internalReason></error></errors>";
}

}  // namespace tallowdesk::server
