#include "AclRule.h"

#include <tinyxml2.h>

#include <stdexcept>
#include <string_view>

namespace tallowdesk {

namespace {

using tinyxml2::XMLElement;

std::optional<std::string> Copy(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

std::optional<std::string> ChildText(const XMLElement& parent, const char* name) {
    const XMLElement* child = parent.FirstChildElement(name);
    return child ? Copy(child->GetText()) : std::nullopt;
}

std::optional<std::string> ChildAttribute(const XMLElement& parent, const char* name,
                                          const char* attribute) {
    const XMLElement* child = parent.FirstChildElement(name);
    return child ? Copy(child->Attribute(attribute)) : std::nullopt;
}

}  // namespace

AclRule ParseAclRule(const XMLElement* entry) {
    if (!entry) throw std::runtime_error("the Acl user entry is invalid.");
    AclRule r;
    r.etag = Copy(entry->Attribute("gd:etag"));
    r.id = ChildText(*entry, "id");
    r.updated = ChildText(*entry, "updated");
    r.edited = ChildText(*entry, "app:edited");
    r.categoryScheme = ChildAttribute(*entry, "category", "scheme");
    r.categoryTerm = ChildAttribute(*entry, "category", "term");
    r.title = ChildText(*entry, "title");
    for (const XMLElement* l = entry->FirstChildElement("link"); l;
         l = l->NextSiblingElement("link")) {
        const char* rel = l->Attribute("rel");
        if (!rel) continue;
        if (std::string_view(rel) == "self") r.selfHref = Copy(l->Attribute("href"));
        if (std::string_view(rel) == "edit") r.editHref = Copy(l->Attribute("href"));
    }
    r.role = ChildAttribute(*entry, "gAcl:role", "value");
    r.scopeType = ChildAttribute(*entry, "gAcl:scope", "type");
    r.scopeValue = ChildAttribute(*entry, "gAcl:scope", "value");
    return r;
}

std::vector<std::string> SplitShareAddresses(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    for (const char c : text) {
        if (c == ' ' || c == ';' || c == ',' || c == '\t' || c == '\n') {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

std::string ScopeTypeForAddress(std::string_view address, std::string_view groupsMailDomain) {
    std::string groupSuffix = "@";
    groupSuffix += groupsMailDomain;
    if (address.find(groupSuffix) != std::string_view::npos) return "group";
    if (address.find('@') == std::string_view::npos) {
        for (const char* tld : {".com", ".net", ".org", ".edu", ".gov"})
            if (address.find(tld) != std::string_view::npos) return "domain";
    }
    return "user";
}

}  // namespace tallowdesk
