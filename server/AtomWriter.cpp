#include "AtomWriter.h"

#include "Crypto.h"
#include "HttpMessage.h"
#include "web/WebCommon.h"

namespace tallowdesk::server {

namespace {

constexpr const char* kRootNamespaces =
    " xmlns='http://www.w3.org/2005/Atom'"
    " xmlns:openSearch='http://a9.com/-/spec/opensearch/1.1/'"
    " xmlns:docs='http://schemas.google.com/docs/2007'"
    " xmlns:batch='http://schemas.google.com/gdata/batch'"
    " xmlns:gd='http://schemas.google.com/g/2005'";
constexpr const char* kXmlDecl = "<?xml version='1.0' encoding='UTF-8'?>";
constexpr const char* kFeedPath = "/feeds/default/private/full/";

bool IsStoredFile(const StoredEntry& e) {
    return e.kind == "file" || e.kind == "pdf";
}

std::string Attr(const std::string& name, const std::string& value) {
    return " " + name + "='" + XmlEscape(value) + "'";
}

std::string Link(const std::string& rel, const std::string& type, const std::string& href,
                 const std::string& title = {}) {
    std::string out = "<link" + Attr("rel", rel) + Attr("type", type) + Attr("href", href);
    if (!title.empty()) out += Attr("title", title);
    return out + "/>";
}

std::string Category(const std::string& scheme, const std::string& term, const std::string& label) {
    return "<category" + Attr("scheme", scheme) + Attr("term", term) + Attr("label", label) + "/>";
}

std::string Label(const std::string& name) {
    return Category(kLabelsScheme, std::string(kLabelsScheme) + "#" + name, name);
}

std::string Person(const std::string& element, const std::string& name, const std::string& email) {
    return "<" + element + "><name>" + XmlEscape(name) + "</name><email>" + XmlEscape(email) +
           "</email></" + element + ">";
}

std::string EntryBody(const std::string& origin, const StoredEntry& e) {
    const std::string resource = e.kind + "%3A" + e.id;
    const std::string url = EntryUrl(origin, e);
    std::string x;
    x += "<id>" + origin + "/feeds/id/" + resource + "</id>";
    x += "<published>" + FormatTime(e.published) + "</published>";
    x += "<updated>" + FormatTime(e.updated) + "</updated>";
    x += "<app:edited xmlns:app='http://www.w3.org/2007/app'>" + FormatTime(e.edited) +
         "</app:edited>";
    const std::string kindLabel = IsStoredFile(e) ? e.mime : e.kind;
    x += Category(kKindScheme, std::string(kDocsNs) + "#" + e.kind, kindLabel);
    if (e.starred) x += Label("starred");
    if (e.trashed) x += Label("trashed");
    if (e.viewed) x += Label("viewed");
    if (e.hidden) x += Label("hidden");
    x += "<title>" + XmlEscape(e.title) + "</title>";
    if (e.kind == "folder") {
        x += "<content" + Attr("type", "application/atom+xml;type=feed") +
             Attr("src", ContentsUrl(origin, e.id)) + "/>";
    } else {
        x += "<content" + Attr("type", IsStoredFile(e) ? e.mime : "text/html") +
             Attr("src", ContentSrc(origin, e)) + "/>";
    }
    for (const auto& parent : e.parents) {
        x += Link(std::string(kDocsNs) + "#parent", "application/atom+xml",
                  origin + kFeedPath + "folder%3A" + parent.id, parent.title);
    }
    x += Link("alternate", "text/html", AlternateUrl(web::BrowserOrigin(origin), e));
    x += Link("self", "application/atom+xml", url);
    x += Link("edit", "application/atom+xml", url);
    if (e.kind != "folder") {
        x += Link("edit-media", IsStoredFile(e) ? e.mime : "text/html",
                  origin + "/feeds/default/media/" + resource);
    }
    x += Person("author", e.ownerName, e.ownerEmail);
    x += "<gd:resourceId>" + e.kind + ":" + e.id + "</gd:resourceId>";
    if (e.trashed) x += "<gd:deleted/>";
    x += Person("gd:lastModifiedBy", e.modifierName, e.modifierEmail);
    // Folders and native documents take no storage, as with the original service.
    x += "<gd:quotaBytesUsed>" + std::to_string(IsStoredFile(e) ? e.size : 0) +
         "</gd:quotaBytesUsed>";
    x += "<docs:writersCanInvite" + Attr("value", e.writersCanInvite ? "true" : "false") + "/>";
    if (e.explicitlyTrashed && e.trashed) x += "<docs:isExplicitlyTrashed value='true'/>";
    if (IsStoredFile(e)) {
        x += "<docs:filename>" + XmlEscape(e.title) + "</docs:filename>";
        x += "<docs:size>" + std::to_string(e.size) + "</docs:size>";
    }
    x += "<gd:feedLink" + Attr("rel", "http://schemas.google.com/acl/2007#accessControlList") +
         Attr("href", url + "/acl") + "/>";
    if (e.kind != "folder") {
        x += "<gd:feedLink" + Attr("rel", std::string(kDocsNs) + "/revisions") +
             Attr("href", url + "/revisions") + "/>";
    }
    return x;
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
    return origin + kFeedPath + e.kind + "%3A" + e.id;
}

std::string ContentsUrl(const std::string& origin, const std::string& folderId) {
    return origin + kFeedPath + "folder%3A" + folderId + "/contents";
}

std::string ContentSrc(const std::string& origin, const StoredEntry& e) {
    if (e.kind == "document") return origin + "/feeds/download/documents/export/Export?id=" + e.id;
    if (e.kind == "presentation") return origin + "/feeds/download/presentations/Export?id=" + e.id;
    if (e.kind == "spreadsheet") return origin + "/feeds/download/spreadsheets/Export?key=" + e.id;
    if (e.kind == "drawing") return origin + "/feeds/download/drawings/Export?id=" + e.id;
    return origin + "/feeds/download/files/" + e.id + "?e=download&gd=true";
}

std::string EntryDocument(const std::string& origin, const StoredEntry& e) {
    return std::string(kXmlDecl) + "<entry" +
           " xmlns='http://www.w3.org/2005/Atom'"
           " xmlns:docs='http://schemas.google.com/docs/2007'"
           " xmlns:batch='http://schemas.google.com/gdata/batch'"
           " xmlns:gd='http://schemas.google.com/g/2005'" +
           Attr("gd:etag", e.etag) + ">" + EntryBody(origin, e) + "</entry>";
}

std::string FeedDocument(const std::string& origin, const FeedPage& page,
                         const std::vector<StoredEntry>& entries) {
    std::string x = std::string(kXmlDecl) + "<feed" + kRootNamespaces +
                    Attr("gd:etag", "W/\"" + RandomToken(22) + ".\"") + ">";
    x += "<id>" + XmlEscape(page.id) + "</id>";
    x += "<updated>" + FormatTime(NowMillis()) + "</updated>";
    x += Category(kKindScheme, std::string(kDocsNs) + "#item", "item");
    x += "<title>" + XmlEscape(page.title) + "</title>";
    x += Link("alternate", "text/html", origin);
    x += Link("http://schemas.google.com/g/2005#feed", "application/atom+xml", page.id);
    x += Link("http://schemas.google.com/g/2005#post", "application/atom+xml", page.postUrl);
    x += Link("self", "application/atom+xml", page.selfUrl);
    if (page.nextUrl) x += Link("next", "application/atom+xml", *page.nextUrl);
    x += Person("author", page.authorName, page.authorEmail);
    x += "<openSearch:startIndex>" + std::to_string(page.startIndex) + "</openSearch:startIndex>";
    x += "<openSearch:itemsPerPage>" + std::to_string(page.itemsPerPage) +
         "</openSearch:itemsPerPage>";
    for (const auto& e : entries) {
        x += "<entry" + Attr("gd:etag", e.etag) + ">" + EntryBody(origin, e) + "</entry>";
    }
    return x + "</feed>";
}

std::string ErrorDocument(const std::string& code, const std::string& reason) {
    return "<errors xmlns='http://schemas.google.com/g/2005'><error><domain>GData</domain><code>" +
           XmlEscape(code) + "</code><internalReason>" + XmlEscape(reason) +
           "</internalReason></error></errors>";
}

}  // namespace tallowdesk::server
