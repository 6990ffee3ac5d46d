#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tinyxml2 {
class XMLElement;
class XMLNode;
}  // namespace tinyxml2

namespace tallowdesk {

// One listed file, document or folder, filled from one Atom "entry" element
// and never changed afterwards. Plain value; shared between the UI thread and
// workers as std::shared_ptr<const DocEntry> (see EntryList).
struct DocEntry {
    std::optional<std::string> etag;
    std::optional<std::string> id;
    std::optional<std::string> published;  // "YYYY-MM-DD hh:mm:ss"
    std::optional<std::string> updated;
    std::optional<std::string> edited;
    bool starred = false;
    bool hidden = false;
    bool viewed = false;
    std::optional<std::string> title;
    std::optional<std::string> contentType;
    std::optional<std::string> contentSrc;  // download URL of a file, contents feed of a folder
    std::optional<std::string> parentHref;
    std::optional<std::string> parentTitle;
    std::optional<std::string> alternateHref;
    std::optional<std::string> selfHref;
    std::optional<std::string> editHref;
    std::optional<std::string> editMediaType;
    std::optional<std::string> editMediaHref;
    std::optional<std::string> authorName;
    std::optional<std::string> authorEmail;
    std::optional<std::string> resourceId;  // "kind:shortId"
    std::string kind;     // before the first colon of resourceId; empty when underivable
    std::string shortId;  // after the first colon of resourceId; empty when underivable
    std::optional<std::string> modifierName;
    std::optional<std::string> modifierEmail;
    std::optional<std::string> quotaBytesUsed;  // never read for folders
    std::string sizeText;                       // FormatByteCount of quotaBytesUsed; empty for folders
    bool writersCanInvite = true;
    std::optional<std::string> aclFeedHref;
    std::optional<std::string> revisionsFeedHref;

    bool IsFolder() const { return kind == "folder"; }
    // quotaBytesUsed as a number; 0 when absent or not a number.
    std::uint64_t QuotaBytes() const;
};

// Fills a record from one "entry" element. Never fails: what is missing stays
// empty and the caller decides.
DocEntry ParseEntry(const tinyxml2::XMLElement& entry);

// The kind of the first "entry" child of node, or nullopt when there is none.
std::optional<std::string> FirstEntryKind(const tinyxml2::XMLNode& node);

// The program's byte-count text: groups of three digits, each followed by a
// blank and joined by commas ("1 ,234 ,567 "). Callers append their unit.
std::string FormatByteCount(std::uint64_t n);

// Decimal byte count as sent by the service; 0 for a missing or malformed text.
std::uint64_t ParseByteCount(const std::optional<std::string>& text);

}  // namespace tallowdesk
