#include "DocEntry.h"

#include <tinyxml2.h>

#include <charconv>
#include <cstdio>

#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

using tinyxml2::XMLElement;

std::optional<std::string> Copy(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> ChildText(const XMLElement& parent, const char* name) {
    const XMLElement* child = parent.FirstChildElement(name);
    return child ? Copy(child->GetText()) : std::nullopt;
}

// The service sends RFC 3339 ("2011-05-04T12:34:56.789Z"); the program shows
// the first 19 characters with a blank for the "T". Shorter texts stay whole.
std::optional<std::string> TimeText(const XMLElement& parent, const char* name) {
    std::optional<std::string> text = ChildText(parent, name);
    if (text && text->size() >= 19) {
        text->resize(19);
        (*text)[10] = ' ';
    }
    return text;
}

bool HasCategoryLabel(const XMLElement& entry, const char* label) {
    for (const XMLElement* c = entry.FirstChildElement("category"); c;
         c = c->NextSiblingElement("category")) {
        const char* value = c->Attribute("label");
        if (value && std::string_view(value) == label) return true;
    }
    return false;
}

const XMLElement* FirstLink(const XMLElement& entry, std::string_view rel) {
    for (const XMLElement* l = entry.FirstChildElement("link"); l;
         l = l->NextSiblingElement("link")) {
        const char* value = l->Attribute("rel");
        if (value && rel == value) return l;
    }
    return nullptr;
}

std::optional<std::string> LinkAttribute(const XMLElement* link, const char* attribute) {
    return link ? Copy(link->Attribute(attribute)) : std::nullopt;
}

std::optional<std::string> FeedLinkContaining(const XMLElement& entry, std::string_view part) {
    std::optional<std::string> href;
    for (const XMLElement* f = entry.FirstChildElement("gd:feedLink"); f;
         f = f->NextSiblingElement("gd:feedLink")) {
        const char* rel = f->Attribute("rel");
        if (rel && std::string_view(rel).find(part) != std::string_view::npos)
            href = Copy(f->Attribute("href"));
    }
    return href;
}

void Person(const XMLElement& entry, const char* element, std::optional<std::string>& name,
            std::optional<std::string>& email) {
    if (const XMLElement* p = entry.FirstChildElement(element)) {
        name = ChildText(*p, "name");
        email = ChildText(*p, "email");
    }
}

}  // namespace

std::uint64_t DocEntry::QuotaBytes() const { return ParseByteCount(quotaBytesUsed); }

DocEntry ParseEntry(const XMLElement& entry) {
    DocEntry e;
    e.etag = Copy(entry.Attribute("gd:etag"));
    e.id = ChildText(entry, "id");
    e.published = TimeText(entry, "published");
    e.updated = TimeText(entry, "updated");
    e.edited = TimeText(entry, "app:edited");
    e.starred = HasCategoryLabel(entry, "starred");
    e.hidden = HasCategoryLabel(entry, "hidden");
    e.viewed = HasCategoryLabel(entry, "viewed");
    e.title = ChildText(entry, "title");
    if (const XMLElement* content = entry.FirstChildElement("content")) {
        e.contentType = Copy(content->Attribute("type"));
        e.contentSrc = Copy(content->Attribute("src"));
    }
    const std::string parentRel = "http://" + Hosts().schemasHost + "/docs/2007#parent";
    const XMLElement* parent = FirstLink(entry, parentRel);
    e.parentHref = LinkAttribute(parent, "href");
    e.parentTitle = LinkAttribute(parent, "title");
    e.alternateHref = LinkAttribute(FirstLink(entry, "alternate"), "href");
    e.selfHref = LinkAttribute(FirstLink(entry, "self"), "href");
    e.editHref = LinkAttribute(FirstLink(entry, "edit"), "href");
    const XMLElement* editMedia = FirstLink(entry, "edit-media");
    e.editMediaType = LinkAttribute(editMedia, "type");
    e.editMediaHref = LinkAttribute(editMedia, "href");
    Person(entry, "author", e.authorName, e.authorEmail);
    e.resourceId = ChildText(entry, "gd:resourceId");
    if (e.resourceId) {
        const auto colon = e.resourceId->find(':');
        if (colon != std::string::npos) {
            e.kind = e.resourceId->substr(0, colon);
            e.shortId = e.resourceId->substr(colon + 1);
        }
    }
    Person(entry, "gd:lastModifiedBy", e.modifierName, e.modifierEmail);
    if (!e.IsFolder()) {
        e.quotaBytesUsed = ChildText(entry, "gd:quotaBytesUsed");
        e.sizeText = FormatByteCount(e.QuotaBytes());
    }
    if (const XMLElement* w = entry.FirstChildElement("docs:writersCanInvite")) {
        const char* value = w->Attribute("value");
        e.writersCanInvite = value && std::string_view(value) == "true";
    }
    e.aclFeedHref = FeedLinkContaining(entry, "#accessControlList");
    e.revisionsFeedHref = FeedLinkContaining(entry, "revisions");
    return e;
}

std::optional<std::string> FirstEntryKind(const tinyxml2::XMLNode& node) {
    const XMLElement* entry = node.FirstChildElement("entry");
    if (!entry) return std::nullopt;
    return ParseEntry(*entry).kind;
}

std::string FormatByteCount(std::uint64_t n) {
    // Highest power of 1000 not above n decides how many groups follow the
    // leading one.
    std::uint64_t d = 1;
    while (n / d >= 1000) d *= 1000;
    std::string out = std::to_string(n / d) + ' ';
    n %= d;
    char group[8];
    while (d > 1) {
        d /= 1000;
        std::snprintf(group, sizeof group, "%03u ", static_cast<unsigned>(n / d));
        out += ',';
        out += group;
        n %= d;
    }
    return out;
}

std::uint64_t ParseByteCount(const std::optional<std::string>& text) {
    if (!text) return 0;
    std::uint64_t value = 0;
    const char* first = text->data();
    const char* last = first + text->size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end == first) return 0;
    return value;
}

}  // namespace tallowdesk
