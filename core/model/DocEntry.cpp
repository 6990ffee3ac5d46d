#include "DocEntry.h"

#include <tinyxml2.h>

#include <charconv>
#include <cstdio>
#include <string_view>

#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

using tinyxml2::XMLElement;

std::optional<std::string> Copy(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> Text(const XMLElement* element) {
    return element ? Copy(element->GetText()) : std::nullopt;
}

std::optional<std::string> ChildText(const XMLElement& parent, const char* name) {
    return Text(parent.FirstChildElement(name));
}

// The service sends RFC 3339 ("2011-05-04T12:34:56.789Z"); the program shows
// the first 19 characters with a blank for the "T". Shorter texts stay whole.
std::optional<std::string> TimeText(const XMLElement* element) {
    const char* text = element ? element->GetText() : nullptr;
    if (!text) return std::nullopt;
    std::string shown(std::string_view(text).substr(0, 19));
    if (shown.size() == 19) shown[10] = ' ';
    return shown;
}

std::optional<std::string> AttributeOf(const XMLElement* element, const char* attribute) {
    return element ? Copy(element->Attribute(attribute)) : std::nullopt;
}

// rel == "http://" + schemasHost + "/docs/2007#parent", without building the
// string for every link of every entry.
bool IsParentRel(std::string_view rel, std::string_view schemasHost) {
    constexpr std::string_view kScheme = "http://", kPath = "/docs/2007#parent";
    return rel.size() == kScheme.size() + schemasHost.size() + kPath.size() &&
           rel.substr(0, kScheme.size()) == kScheme &&
           rel.substr(kScheme.size(), schemasHost.size()) == schemasHost &&
           rel.substr(kScheme.size() + schemasHost.size()) == kPath;
}

void Person(const XMLElement* person, std::optional<std::string>& name,
            std::optional<std::string>& email) {
    if (person) {
        name = ChildText(*person, "name");
        email = ChildText(*person, "email");
    }
}

// The children of an entry that the record is filled from. A listing parses
// thousands of entries, so they are found in one walk over the children
// instead of one search per field.
struct EntryParts {
    const XMLElement* id = nullptr;
    const XMLElement* published = nullptr;
    const XMLElement* updated = nullptr;
    const XMLElement* edited = nullptr;
    const XMLElement* title = nullptr;
    const XMLElement* content = nullptr;
    const XMLElement* author = nullptr;
    const XMLElement* resourceId = nullptr;
    const XMLElement* modifier = nullptr;
    const XMLElement* quota = nullptr;
    const XMLElement* writersCanInvite = nullptr;
    // The first link of each rel.
    const XMLElement* parentLink = nullptr;
    const XMLElement* alternateLink = nullptr;
    const XMLElement* selfLink = nullptr;
    const XMLElement* editLink = nullptr;
    const XMLElement* editMediaLink = nullptr;
    // The last feed link whose rel contains the part.
    const XMLElement* aclFeedLink = nullptr;
    const XMLElement* revisionsFeedLink = nullptr;
    bool starred = false;
    bool hidden = false;
    bool viewed = false;
};

void TakeFirst(const XMLElement*& slot, const XMLElement* element) {
    if (!slot) slot = element;
}

void NoteLink(EntryParts& parts, const XMLElement& link, std::string_view schemasHost) {
    const char* value = link.Attribute("rel");
    if (!value) return;
    const std::string_view rel = value;
    if (rel == "alternate") {
        TakeFirst(parts.alternateLink, &link);
    } else if (rel == "self") {
        TakeFirst(parts.selfLink, &link);
    } else if (rel == "edit") {
        TakeFirst(parts.editLink, &link);
    } else if (rel == "edit-media") {
        TakeFirst(parts.editMediaLink, &link);
    } else if (IsParentRel(rel, schemasHost)) {
        TakeFirst(parts.parentLink, &link);
    }
}

void NoteCategory(EntryParts& parts, const XMLElement& category) {
    const char* value = category.Attribute("label");
    if (!value) return;
    const std::string_view label = value;
    if (label == "starred") parts.starred = true;
    if (label == "hidden") parts.hidden = true;
    if (label == "viewed") parts.viewed = true;
}

void NoteFeedLink(EntryParts& parts, const XMLElement& feedLink) {
    const char* value = feedLink.Attribute("rel");
    if (!value) return;
    const std::string_view rel = value;
    if (rel.find("#accessControlList") != std::string_view::npos) parts.aclFeedLink = &feedLink;
    if (rel.find("revisions") != std::string_view::npos) parts.revisionsFeedLink = &feedLink;
}

// Element names are matched with their prefixes, not by namespace.
EntryParts FindParts(const XMLElement& entry, std::string_view schemasHost) {
    EntryParts parts;
    for (const XMLElement* c = entry.FirstChildElement(); c; c = c->NextSiblingElement()) {
        const std::string_view name = c->Name();
        if (name == "link") {
            NoteLink(parts, *c, schemasHost);
        } else if (name == "category") {
            NoteCategory(parts, *c);
        } else if (name == "gd:feedLink") {
            NoteFeedLink(parts, *c);
        } else if (name == "id") {
            TakeFirst(parts.id, c);
        } else if (name == "published") {
            TakeFirst(parts.published, c);
        } else if (name == "updated") {
            TakeFirst(parts.updated, c);
        } else if (name == "app:edited") {
            TakeFirst(parts.edited, c);
        } else if (name == "title") {
            TakeFirst(parts.title, c);
        } else if (name == "content") {
            TakeFirst(parts.content, c);
        } else if (name == "author") {
            TakeFirst(parts.author, c);
        } else if (name == "gd:resourceId") {
            TakeFirst(parts.resourceId, c);
        } else if (name == "gd:lastModifiedBy") {
            TakeFirst(parts.modifier, c);
        } else if (name == "gd:quotaBytesUsed") {
            TakeFirst(parts.quota, c);
        } else if (name == "docs:writersCanInvite") {
            TakeFirst(parts.writersCanInvite, c);
        }
    }
    return parts;
}

}  // namespace

std::uint64_t DocEntry::QuotaBytes() const {
    return ParseByteCount(quotaBytesUsed);
}

DocEntry ParseEntry(const XMLElement& entry) {
    const EntryParts parts = FindParts(entry, Hosts().schemasHost);
    DocEntry e;
    e.etag = Copy(entry.Attribute("gd:etag"));
    e.id = Text(parts.id);
    e.published = TimeText(parts.published);
    e.updated = TimeText(parts.updated);
    e.edited = TimeText(parts.edited);
    e.starred = parts.starred;
    e.hidden = parts.hidden;
    e.viewed = parts.viewed;
    e.title = Text(parts.title);
    e.contentType = AttributeOf(parts.content, "type");
    e.contentSrc = AttributeOf(parts.content, "src");
    e.parentHref = AttributeOf(parts.parentLink, "href");
    e.parentTitle = AttributeOf(parts.parentLink, "title");
    e.alternateHref = AttributeOf(parts.alternateLink, "href");
    e.selfHref = AttributeOf(parts.selfLink, "href");
    e.editHref = AttributeOf(parts.editLink, "href");
    e.editMediaType = AttributeOf(parts.editMediaLink, "type");
    e.editMediaHref = AttributeOf(parts.editMediaLink, "href");
    Person(parts.author, e.authorName, e.authorEmail);
    e.resourceId = Text(parts.resourceId);
    if (e.resourceId) {
        const auto colon = e.resourceId->find(':');
        if (colon != std::string::npos) {
            e.kind = e.resourceId->substr(0, colon);
            e.shortId = e.resourceId->substr(colon + 1);
        }
    }
    Person(parts.modifier, e.modifierName, e.modifierEmail);
    if (!e.IsFolder()) {
        e.quotaBytesUsed = Text(parts.quota);
        e.sizeText = FormatByteCount(e.QuotaBytes());
    }
    if (parts.writersCanInvite) {
        const char* value = parts.writersCanInvite->Attribute("value");
        e.writersCanInvite = value && std::string_view(value) == "true";
    }
    e.aclFeedHref = AttributeOf(parts.aclFeedLink, "href");
    e.revisionsFeedHref = AttributeOf(parts.revisionsFeedLink, "href");
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
