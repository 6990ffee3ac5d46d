#include "FeedHandler.h"

#include <tinyxml2.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "AtomWriter.h"
#include "Export.h"
#include "Limits.h"
#include "PageKey.h"
#include "SignInHandler.h"
#include "Store.h"
#include "TextCheck.h"

namespace tallowdesk::server {

namespace {

constexpr std::string_view kListPath = "/feeds/default/private/full";
constexpr const char* kEntryType = "application/atom+xml; charset=UTF-8; type=entry";
constexpr const char* kFeedType = "application/atom+xml; charset=UTF-8; type=feed";

const std::vector<std::string> kNativeKinds = {"document", "spreadsheet", "presentation",
                                               "drawing"};

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

std::vector<std::string> SplitPath(std::string_view rest) {
    std::vector<std::string> segments;
    while (!rest.empty()) {
        if (rest.front() == '/') rest.remove_prefix(1);
        const auto slash = rest.find('/');
        segments.push_back(UrlDecode(rest.substr(0, slash), false));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    return segments;
}

bool IsKnownKind(const std::string& kind) {
    return kind == "folder" || kind == "file" || kind == "pdf" ||
           std::find(kNativeKinds.begin(), kNativeKinds.end(), kind) != kNativeKinds.end();
}

HttpResponse MethodNotAllowed(const std::string& allow) {
    HttpResponse r = GDataError(405, "methodNotAllowed", "Method not allowed; use " + allow);
    r.Set("Allow", allow);
    return r;
}

HttpResponse NotFound() {
    return GDataError(404, "ResourceNotFoundException", "The requested entry was not found.");
}

std::optional<long> ParsePositive(const std::string& text) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
    return value;
}

// Splits "kind:id" (or a bare id) of a request path.
struct ResourceName {
    std::string kind;
    std::string id;
};
ResourceName SplitResource(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return {{}, text};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

bool IsAtom(const HttpRequest& request) {
    const std::string type = Trim(request.Header("Content-Type").value_or(""));
    const std::string_view atom = "application/atom+xml";
    return type.size() >= atom.size() && EqualsIgnoreCase(type.substr(0, atom.size()), atom);
}

// The answer to an entry or rule body sent as anything but Atom.
HttpResponse NotAtom(const HttpRequest& request) {
    return GDataError(415, "unsupportedMediaType",
                      "Content-Type " + request.Header("Content-Type").value_or("(none)") +
                          " is not a valid input type.");
}

std::string ElementName(const tinyxml2::XMLElement* e) {
    const std::string name = e->Name();
    const auto colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// What an Atom entry sent to us asks for.
struct EntryRequestBody {
    std::optional<std::string> title;
    std::optional<std::string> kind;
    std::optional<bool> starred;
    std::optional<bool> trashed;          // the trashed label sent, set or empty
    std::optional<std::string> resource;  // an existing entry's "kind:id"
    std::optional<std::string> etag;
    std::optional<bool> writersCanInvite;
};

// The Atom entry of a request body, or null with the reason in error.
const tinyxml2::XMLElement* ParseAtomEntry(tinyxml2::XMLDocument& doc, const std::string& body,
                                           std::string& error) {
    if (doc.Parse(body.data(), body.size()) != tinyxml2::XML_SUCCESS) {
        error = std::string("Parse error: ") + (doc.ErrorStr() ? doc.ErrorStr() : "invalid XML");
        return nullptr;
    }
    const auto* root = doc.RootElement();
    if (!root || ElementName(root) != "entry") {
        error = "The document element must be an Atom entry.";
        return nullptr;
    }
    return root;
}

std::optional<EntryRequestBody> ParseEntryBody(const std::string& body, std::string& error) {
    tinyxml2::XMLDocument doc;
    const auto* root = ParseAtomEntry(doc, body, error);
    if (!root) return std::nullopt;
    EntryRequestBody out;
    if (const char* etag = root->Attribute("gd:etag")) out.etag = etag;
    const std::string kindPrefix = std::string(kDocsNs) + "#";
    for (auto* child = root->FirstChildElement(); child; child = child->NextSiblingElement()) {
        const std::string name = ElementName(child);
        if (name == "title") {
            out.title = child->GetText() ? child->GetText() : "";
        } else if (name == "category") {
            const std::string scheme = child->Attribute("scheme") ? child->Attribute("scheme") : "";
            const std::string term = child->Attribute("term") ? child->Attribute("term") : "";
            const char* label = child->Attribute("label");
            if (scheme == kKindScheme && term.rfind(kindPrefix, 0) == 0) {
                out.kind = term.substr(kindPrefix.size());
            } else if (scheme == kLabelsScheme && term == std::string(kLabelsScheme) + "#starred") {
                // An empty label is how the client takes the star away.
                out.starred = label && std::string_view(label) == "starred";
            } else if (scheme == kLabelsScheme && term == std::string(kLabelsScheme) + "#trashed") {
                // The same with the trashed label brings an entry back.
                out.trashed = label && std::string_view(label) == "trashed";
            }
        } else if (name == "writersCanInvite" && child->Attribute("value")) {
            out.writersCanInvite = std::string_view(child->Attribute("value")) == "true";
        } else if (std::string(child->Name()) == "gd:resourceId" && child->GetText()) {
            out.resource = child->GetText();
        } else if (name == "id" && child->GetText() && !out.resource) {
            const std::string id = child->GetText();
            const auto at = id.find("/feeds/id/");
            if (at != std::string::npos) out.resource = UrlDecode(id.substr(at + 10), false);
        }
    }
    return out;
}

bool ExportAllowed(const std::string& kind, const std::string& format) {
    const auto& formats = ExportFormats(kind);
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

}  // namespace

const std::vector<std::string>& ExportFormats(const std::string& kind) {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> kFormats = {
        {"document", {"doc", "docx", "odt", "pdf", "rtf", "txt", "html", "zip", "jpeg", "png"}},
        {"spreadsheet", {"xls", "xlsx", "ods", "csv", "tsv", "pdf", "html"}},
        {"presentation", {"ppt", "pptx", "pdf", "swf", "txt", "png"}},
        {"drawing", {"jpeg", "png", "svg", "pdf"}},
    };
    static const std::vector<std::string> kNone;
    for (const auto& [k, formats] : kFormats) {
        if (k == kind) return formats;
    }
    return kNone;
}

HttpResponse GDataError(int status, const std::string& code, const std::string& reason) {
    HttpResponse r;
    r.status = status;
    r.Set("Content-Type", "application/vnd.google.gdata.error+xml");
    r.Set("GData-Version", "3.0");
    r.body = ErrorDocument(code, reason);
    return r;
}

FeedHandler::FeedHandler(Store& store, SignInHandler& signIn, std::size_t pageSize)
    : m_store(store), m_signIn(signIn), m_pageSize(std::min(pageSize, kMaxPageSize)) {}

void FeedHandler::SetPageSize(std::size_t pageSize) {
    m_pageSize = std::min(pageSize, kMaxPageSize);
}

FeedHandler::Caller FeedHandler::Authorise(const HttpRequest& request, const std::string& service,
                                           bool allowCookies) {
    const auto header = request.Header("Authorization");
    auto refuse = [&service](const std::string& reason) {
        HttpResponse r = GDataError(401, "AuthenticationException", reason);
        r.Set("WWW-Authenticate", "GoogleLogin realm=\"ClientLogin\", service=\"" + service + "\"");
        return Caller{{}, r};
    };
    if (!header) {
        if (allowCookies) {
            if (auto user = m_signIn.CookieUser(request)) return Caller{*user, std::nullopt};
        }
        return refuse("Authorization required");
    }
    const std::string value = Trim(*header);
    constexpr std::string_view scheme = "GoogleLogin";
    if (value.size() <= scheme.size() ||
        !EqualsIgnoreCase(value.substr(0, scheme.size()), scheme)) {
        return refuse("Unknown authorization header");
    }
    std::string rest = Trim(std::string_view(value).substr(scheme.size()));
    if (rest.rfind("auth=", 0) != 0) return refuse("Unknown authorization header");
    std::string token = rest.substr(5);
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        token = token.substr(1, token.size() - 2);
    }
    if (auto user = m_store.TokenOwner(token, service)) return Caller{*user, std::nullopt};
    // A valid token of the other service: say which one is wanted.
    const std::string other = service == "wise" ? "writely" : "wise";
    if (m_store.TokenOwner(token, other)) {
        return refuse(service == "wise"
                          ? "Spreadsheet exports need a token of the spreadsheet service (wise)."
                          : "This request needs a token of the document list service (writely).");
    }
    return refuse("Token invalid");
}

HttpResponse FeedHandler::DocumentList(const HttpRequest& request) {
    if (!request.secure) {
        return GDataError(403, "ServiceForbiddenException", "This feed is only served over HTTPS.");
    }
    auto caller = Authorise(request, "writely", false);
    if (caller.refusal) return *caller.refusal;
    const std::string version = Trim(request.Header("GData-Version").value_or(""));
    if (version != "3.0" && version != "3") {
        return GDataError(400, "InvalidRequestUriException",
                          "This feed needs the header GData-Version: 3.0");
    }
    const std::string path = request.Path();
    const std::string_view rest = std::string_view(path).substr(kListPath.size());
    if (!rest.empty() && rest.front() != '/') return NotFound();
    const auto segments = SplitPath(rest);
    const std::string& user = caller.email;

    if (segments.empty() || segments[0] == "-") {
        if (request.method == "GET") return Feed(request, user, segments);
        if (request.method == "POST" && segments.empty()) return Create(request, user, {});
        return MethodNotAllowed(segments.empty() ? "GET, POST" : "GET");
    }
    if (segments.size() == 1) return EntryRequest(request, user, segments[0], {});
    if (segments[1] == "contents") {
        if (segments.size() == 2 || segments[2] == "-") {
            if (request.method == "GET") return Feed(request, user, segments);
            if (request.method == "POST" && segments.size() == 2) {
                const auto folder = SplitResource(segments[0]);
                if (!folder.kind.empty() && folder.kind != "folder") return NotFound();
                return Create(request, user, folder.id);
            }
            return MethodNotAllowed(segments.size() == 2 ? "GET, POST" : "GET");
        }
        if (segments.size() == 3) return EntryRequest(request, user, segments[2], segments[0]);
        return NotFound();
    }
    if (segments.size() >= 2 && (segments[1] == "acl" || segments[1] == "revisions")) {
        const auto name = SplitResource(segments[0]);
        const auto entry = m_store.GetEntry(name.id);
        if (!entry || (!name.kind.empty() && name.kind != entry->kind) ||
            m_store.AccessOf(user, name.id) == Access::None) {
            return NotFound();
        }
        if (segments[1] == "revisions") {
            if (segments.size() > 2) return NotFound();
            return GDataError(501, "notImplemented",
                              "The revisions feed is not available on this service.");
        }
        if (segments.size() == 2) return AclFeed(request, user, *entry);
        if (segments.size() == 3) return AclRuleRequest(request, user, *entry, segments[2]);
    }
    return NotFound();
}

HttpResponse FeedHandler::Feed(const HttpRequest& request, const std::string& user,
                               const std::vector<std::string>& segments) {
    const auto params = ParseForm(request.Query());
    auto param = [&](const std::string& name) {
        const auto it = params.find(name);
        return it == params.end() ? std::string() : it->second;
    };
    ListQuery query;
    query.user = user;
    query.includeFolders = param("showfolders") == "true";
    const std::size_t pageSize = m_pageSize.load();
    query.limit = static_cast<std::int64_t>(pageSize);
    // Pages follow one another by start-key, the place after the last
    // entry of the page before; start-index (a count from the start) is
    // still taken from clients that build their own links.
    std::int64_t position = 0;
    // A start-key that is there must be one of ours, even when empty: a
    // damaged link must not quietly start the listing over.
    const bool hasStartKey = params.count("start-key") > 0;
    const std::string startIndex = param("start-index");
    if (hasStartKey && !startIndex.empty()) {
        return GDataError(400, "invalidParameter",
                          "Give either start-key or start-index, not both.");
    }
    if (hasStartKey) {
        const auto key = DecodePageKey(param("start-key"), m_store.PageKeySecret());
        if (!key) return GDataError(400, "invalidParameter", "Invalid value for start-key.");
        query.after = ListPosition{key->edited, key->id};
        position = key->position;
    } else if (!startIndex.empty()) {
        const auto value = ParsePositive(startIndex);
        if (!value) return GDataError(400, "invalidParameter", "Invalid value for start-index.");
        query.offset = *value - 1;
        position = query.offset;
    }
    if (const std::string max = param("max-results"); !max.empty()) {
        const auto value = ParsePositive(max);
        if (!value) return GDataError(400, "invalidParameter", "Invalid value for max-results.");
        query.limit = std::min<std::int64_t>(*value, query.limit);
    }
    const std::string search = param("q");
    if (CharCount(search) > kMaxSearchChars) {
        return GDataError(
            400, "invalidParameter",
            "The search is too long (at most " + std::to_string(kMaxSearchChars) + " characters).");
    }
    // The client joins the words with "+" (sent as %2B); blanks count too.
    std::string spaced = search;
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    std::istringstream words(spaced);
    for (std::string word; words >> word;) query.words.push_back(word);
    if (query.words.size() > kMaxSearchWords) {
        return GDataError(
            400, "invalidParameter",
            "The search has too many words (at most " + std::to_string(kMaxSearchWords) + ").");
    }

    FeedPage page;
    page.id = request.Origin() + request.Path();
    page.postUrl = page.id;
    page.title = "Available Documents - " + user;
    std::size_t categoryStart = 1;
    if (!segments.empty() && segments[0] != "-") {
        // A folder's contents: the folder itself must be visible to the caller.
        const auto folder = SplitResource(segments[0]);
        if (!folder.kind.empty() && folder.kind != "folder") return NotFound();
        if (folder.id == "root") {
            query.scope = ListScope::Root;
        } else {
            const auto entry = m_store.GetEntry(folder.id);
            if (!entry || entry->kind != "folder" ||
                m_store.AccessOf(user, folder.id) == Access::None) {
                return NotFound();
            }
            query.scope = ListScope::Folder;
            query.folderId = folder.id;
            page.title = entry->title;
        }
        query.includeFolders = true;
        categoryStart = 3;
    }
    for (std::size_t i = categoryStart; i < segments.size(); ++i) {
        const std::string& category = segments[i];
        if (category == "mine" && query.scope == ListScope::All) {
            query.scope = ListScope::Mine;
        } else if (category == "-mine" && query.scope == ListScope::All) {
            query.scope = ListScope::SharedWithMe;
        } else if (category == "starred" && query.scope == ListScope::All) {
            query.scope = ListScope::Starred;
        } else if (category == "trashed" && query.scope == ListScope::All) {
            query.scope = ListScope::Trashed;
        } else if (IsKnownKind(category) && query.kind.empty()) {
            query.kind = category;
        } else {
            return GDataError(400, "invalidCategory",
                              "Unknown or conflicting category: " + category);
        }
    }

    const ListResult result = m_store.List(query);
    const auto account = m_store.DisplayName(user);
    page.authorName = account;
    page.authorEmail = user;
    page.startIndex = static_cast<long>(position + 1);
    page.itemsPerPage = static_cast<long>(query.limit);
    page.selfUrl = request.Origin() + request.target;
    if (result.more && !result.entries.empty()) {
        // The query as sent, less its own place, plus the place after this
        // page's last entry.
        std::string next = request.Origin() + request.Path() + "?";
        const std::string rawQuery = request.Query();
        std::string_view raw = rawQuery;
        while (!raw.empty()) {
            const auto amp = raw.find('&');
            const std::string_view pair = raw.substr(0, amp);
            raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
            if (pair.empty()) continue;
            const std::string name = UrlDecode(pair.substr(0, pair.find('=')), true);
            if (name == "start-index" || name == "start-key") continue;
            next.append(pair);
            next += '&';
        }
        const StoredEntry& last = result.entries.back();
        next += "start-key=";
        next += EncodePageKey(
            {last.edited, last.id, position + static_cast<std::int64_t>(result.entries.size())},
            m_store.PageKeySecret());
        page.nextUrl = std::move(next);
    }
    HttpResponse r;
    r.Set("Content-Type", kFeedType);
    r.Set("GData-Version", "3.0");
    r.Set("Cache-control", "private, max-age=0, must-revalidate, no-transform");
    r.body = FeedDocument(request.Origin(), page, result.entries);
    return r;
}

HttpResponse FeedHandler::EntryRequest(const HttpRequest& request, const std::string& user,
                                       const std::string& resource,
                                       const std::string& folderContext) {
    const auto name = SplitResource(resource);
    // As the caller sees it: their own star, the folders they may open.
    const auto entry = m_store.GetEntryFor(user, name.id);
    if (!entry || (!name.kind.empty() && name.kind != entry->kind) ||
        m_store.AccessOf(user, entry->id) == Access::None) {
        return NotFound();
    }
    std::string folderId;
    if (!folderContext.empty()) {
        const auto folder = SplitResource(folderContext);
        if (!folder.kind.empty() && folder.kind != "folder") return NotFound();
        folderId = folder.id;
        const bool inFolder = std::any_of(entry->parents.begin(), entry->parents.end(),
                                          [&](const ParentRef& p) { return p.id == folderId; });
        if (!inFolder) return NotFound();
    }
    if (request.method == "GET") {
        if (request.Header("If-None-Match").value_or("") == entry->etag) {
            HttpResponse r;
            r.status = 304;
            r.Set("ETag", entry->etag);
            return r;
        }
        HttpResponse r;
        r.Set("Content-Type", kEntryType);
        r.Set("GData-Version", "3.0");
        r.Set("ETag", entry->etag);
        r.body = EntryDocument(request.Origin(), *entry);
        return r;
    }
    if (request.method == "PUT") return Update(request, user, *entry);
    if (request.method == "DELETE") return Remove(request, user, *entry, folderId);
    return MethodNotAllowed("GET, PUT, DELETE");
}

HttpResponse FeedHandler::Update(const HttpRequest& request, const std::string& user,
                                 const StoredEntry& entry) {
    if (!IsAtom(request)) return NotAtom(request);
    std::string error;
    const auto body = ParseEntryBody(request.body, error);
    if (!body) return GDataError(400, "ParseException", error);
    std::string ifMatch = Trim(request.Header("If-Match").value_or(""));
    if (ifMatch.empty() && body->etag) ifMatch = *body->etag;
    if (ifMatch.empty()) {
        return GDataError(403, "ServiceForbiddenException",
                          "If-Match or If-None-Match header or entry etag attribute required");
    }
    const bool trashChange = body->trashed && *body->trashed != entry.trashed;
    const bool inviteChange =
        body->writersCanInvite && *body->writersCanInvite != entry.writersCanInvite;
    // A star is the caller's own label: whoever may open the entry may set
    // or clear theirs. Anything else changes the entry for everybody.
    const bool starOnly = body->starred && !body->title && !trashChange && !inviteChange;
    if (m_store.AccessOf(user, entry.id) < (starOnly ? Access::Read : Access::Write)) {
        return GDataError(403, "ServiceForbiddenException",
                          "You do not have permission to change this entry.");
    }
    if (body->title && body->title->empty()) {
        return GDataError(400, "InvalidEntryException", "The title cannot be empty.");
    }
    if (body->title) {
        if (const auto problem = TitleProblem(*body->title)) {
            return GDataError(400, "InvalidEntryException", *problem);
        }
    }
    if (body->kind && *body->kind != entry.kind) {
        return GDataError(400, "InvalidEntryException", "The kind of an entry cannot change.");
    }
    if (trashChange && m_store.AccessOf(user, entry.id) != Access::Own) {
        return GDataError(403, "ServiceForbiddenException",
                          "Only the owner can move this entry to the trash or restore it.");
    }
    // Whether writers may share is the owner's choice alone.
    if (inviteChange && m_store.AccessOf(user, entry.id) != Access::Own) {
        return GDataError(403, "ServiceForbiddenException",
                          "Only the owner can choose whether writers may share this entry.");
    }
    if (inviteChange && ifMatch != "*" && ifMatch != entry.etag) {
        return GDataError(412, "etagsMismatch",
                          "Mismatch: etags = [" + ifMatch + "], version = [" + entry.etag + "]");
    }
    if (inviteChange) m_store.SetWritersCanInvite(entry.id, *body->writersCanInvite);
    auto updated = m_store.Update(entry.id, user, body->title, body->starred,
                                  inviteChange ? std::string("*") : ifMatch);
    if (!updated) {
        return GDataError(412, "etagsMismatch",
                          "Mismatch: etags = [" + ifMatch + "], version = [" + entry.etag + "]");
    }
    if (trashChange) {
        if (*body->trashed)
            m_store.Trash(entry.id);
        else
            m_store.Restore(entry.id);
        updated = m_store.GetEntryFor(user, entry.id);
        if (!updated) return NotFound();
    }
    HttpResponse r;
    r.Set("Content-Type", kEntryType);
    r.Set("GData-Version", "3.0");
    r.Set("ETag", updated->etag);
    r.body = EntryDocument(request.Origin(), *updated);
    return r;
}

HttpResponse FeedHandler::Remove(const HttpRequest& request, const std::string& user,
                                 const StoredEntry& entry, const std::string& folderContext) {
    const std::string ifMatch = Trim(request.Header("If-Match").value_or(""));
    if (ifMatch.empty()) {
        return GDataError(403, "ServiceForbiddenException",
                          "If-Match or If-None-Match header required");
    }
    if (ifMatch != "*" && ifMatch != entry.etag) {
        return GDataError(412, "etagsMismatch",
                          "Mismatch: etags = [" + ifMatch + "], version = [" + entry.etag + "]");
    }
    HttpResponse done;
    done.Set("Content-Type", "text/html; charset=UTF-8");
    done.Set("GData-Version", "3.0");
    if (!folderContext.empty()) {
        if (m_store.AccessOf(user, folderContext) < Access::Write) {
            return GDataError(403, "ServiceForbiddenException",
                              "You do not have permission to change this folder.");
        }
        m_store.RemoveParent(entry.id, folderContext);
        return done;
    }
    if (m_store.AccessOf(user, entry.id) != Access::Own) {
        return GDataError(403, "ServiceForbiddenException",
                          "Only the owner can move this entry to the trash or delete it.");
    }
    const auto params = ParseForm(request.Query());
    const auto permanently = params.find("delete");
    if (permanently != params.end() && permanently->second == "true") {
        m_store.Delete(entry.id);
    } else {
        m_store.Trash(entry.id);
    }
    return done;
}

HttpResponse FeedHandler::Create(const HttpRequest& request, const std::string& user,
                                 const std::string& folderId) {
    if (!IsAtom(request)) return NotAtom(request);
    std::string error;
    const auto body = ParseEntryBody(request.body, error);
    if (!body) return GDataError(400, "ParseException", error);
    const bool intoFolder = !folderId.empty() && folderId != "root";
    if (intoFolder) {
        const auto folder = m_store.GetEntry(folderId);
        if (!folder || folder->kind != "folder" ||
            m_store.AccessOf(user, folderId) == Access::None) {
            return NotFound();
        }
        if (m_store.AccessOf(user, folderId) < Access::Write) {
            return GDataError(403, "ServiceForbiddenException",
                              "You do not have permission to add to this folder.");
        }
    }
    HttpResponse r;
    r.status = 201;
    r.Set("Content-Type", kEntryType);
    r.Set("GData-Version", "3.0");
    if (!body->kind && body->resource) {
        // An existing entry posted to a folder is filed there as well.
        const auto name = SplitResource(*body->resource);
        const auto existing = m_store.GetEntry(name.id);
        if (!intoFolder) {
            return GDataError(400, "InvalidEntryException",
                              "Entries can only be added to folders.");
        }
        const Access access = existing ? m_store.AccessOf(user, name.id) : Access::None;
        if (access == Access::None) return NotFound();
        // Filing changes where the entry lives: its readers may not.
        if (access < Access::Write) {
            return GDataError(403, "ServiceForbiddenException",
                              "You do not have permission to move this entry.");
        }
        // A folder inside itself or its own subfolder would make a loop that
        // every walk down the tree would follow for ever.
        if (m_store.IsSelfOrBelow(name.id, folderId)) {
            return GDataError(400, "InvalidEntryException",
                              "A folder cannot be put into itself or into one of its subfolders.");
        }
        try {
            m_store.AddParent(name.id, folderId);
        } catch (const WouldCycle&) {
            // Another request filed the folder the other way meanwhile.
            return GDataError(400, "InvalidEntryException",
                              "A folder cannot be put into itself or into one of its subfolders.");
        }
        const auto added = m_store.GetEntryFor(user, name.id);
        if (!added) return NotFound();
        r.Set("Location", EntryUrl(request.Origin(), *added));
        r.Set("ETag", added->etag);
        r.body = EntryDocument(request.Origin(), *added);
        return r;
    }
    if (!body->kind) {
        return GDataError(400, "InvalidEntryException", "The entry has no kind category.");
    }
    if (*body->kind == "file" || *body->kind == "pdf") {
        return GDataError(403, "ServiceForbiddenException",
                          "Files must be uploaded using the resumable upload mechanism.");
    }
    if (*body->kind != "folder" &&
        std::find(kNativeKinds.begin(), kNativeKinds.end(), *body->kind) == kNativeKinds.end()) {
        return GDataError(400, "InvalidEntryException", "Unknown kind: " + *body->kind);
    }
    if (!body->title || body->title->empty()) {
        return GDataError(400, "InvalidEntryException", "The title cannot be empty.");
    }
    if (const auto problem = TitleProblem(*body->title)) {
        return GDataError(400, "InvalidEntryException", *problem);
    }
    NewEntry n;
    n.kind = *body->kind;
    n.title = *body->title;
    n.starred = body->starred.value_or(false);
    if (intoFolder) n.parents.push_back(folderId);
    const auto created = m_store.Create(user, n);
    r.Set("Location", EntryUrl(request.Origin(), created));
    r.Set("ETag", created.etag);
    r.body = EntryDocument(request.Origin(), created);
    return r;
}

namespace {

constexpr const char* kAclNs = "http://schemas.google.com/acl/2007";

std::string AclFeedUrl(const std::string& origin, const StoredEntry& e) {
    return EntryUrl(origin, e) + "/acl";
}

std::string RuleName(const Store::AclRow& rule) {
    return rule.scopeType == "default" ? std::string("default")
                                       : rule.scopeType + "%3A" + UrlEncode(rule.scope);
}

// Changes with the role, so a client holding an old rule can be told.
std::string RuleEtag(const StoredEntry& e, const Store::AclRow& rule) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const std::string* part : {&e.id, &rule.scopeType, &rule.scope, &rule.role}) {
        for (unsigned char c : *part + '\n') hash = (hash ^ c) * 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return "W/\"" + std::string(text) + ".\"";
}

std::string RuleBody(const std::string& origin, const StoredEntry& e, const Store::AclRow& rule) {
    const std::string url = AclFeedUrl(origin, e) + "/" + RuleName(rule);
    std::string x = "<id>" + url + "</id>";
    x += "<updated>" + FormatTime(e.edited) + "</updated>";
    x += "<app:edited xmlns:app='http://www.w3.org/2007/app'>" + FormatTime(e.edited) +
         "</app:edited>";
    x += "<category scheme='" + std::string(kKindScheme) + "' term='" + kAclNs + "#accessRule'/>";
    x += "<title>Document Permission - " +
         XmlEscape(rule.scopeType == "default" ? std::string("default") : rule.scope) + "</title>";
    x += "<link rel='self' type='application/atom+xml' href='" + XmlEscape(url) + "'/>";
    x += "<link rel='edit' type='application/atom+xml' href='" + XmlEscape(url) + "'/>";
    x += "<gAcl:role value='" + XmlEscape(rule.role) + "'/>";
    x += "<gAcl:scope type='" + XmlEscape(rule.scopeType) + "'";
    if (rule.scopeType != "default") x += " value='" + XmlEscape(rule.scope) + "'";
    return x + "/>";
}

HttpResponse RuleAnswer(int status, const std::string& origin, const StoredEntry& e,
                        const Store::AclRow& rule) {
    HttpResponse r;
    r.status = status;
    const std::string etag = RuleEtag(e, rule);
    const std::string url = AclFeedUrl(origin, e) + "/" + RuleName(rule);
    r.Set("Content-Type", kEntryType);
    r.Set("GData-Version", "3.0");
    r.Set("ETag", etag);
    if (status == 201) {
        r.Set("Location", url);
        r.Set("Content-Location", url);
    }
    r.body =
        "<?xml version='1.0' encoding='UTF-8'?><entry xmlns='http://www.w3.org/2005/Atom' "
        "xmlns:gAcl='" +
        std::string(kAclNs) +
        "' xmlns:batch='http://schemas.google.com/gdata/batch' "
        "xmlns:gd='http://schemas.google.com/g/2005' gd:etag='" +
        XmlEscape(etag) + "'>" + RuleBody(origin, e, rule) + "</entry>";
    return r;
}

struct RuleRequestBody {
    std::optional<std::string> etag;
    std::string role;
    std::string scopeType;
    std::string scope;
};

std::optional<RuleRequestBody> ParseRuleBody(const std::string& body, std::string& error) {
    tinyxml2::XMLDocument doc;
    const auto* root = ParseAtomEntry(doc, body, error);
    if (!root) return std::nullopt;
    RuleRequestBody out;
    if (const char* etag = root->Attribute("gd:etag")) out.etag = etag;
    for (auto* child = root->FirstChildElement(); child; child = child->NextSiblingElement()) {
        const std::string name = ElementName(child);
        if (name == "role" && child->Attribute("value")) {
            out.role = child->Attribute("value");
        } else if (name == "scope") {
            out.scopeType = child->Attribute("type") ? child->Attribute("type") : "";
            out.scope = child->Attribute("value") ? child->Attribute("value") : "";
        }
    }
    if (out.role != "reader" && out.role != "writer") {
        error = "The role must be reader or writer.";
        return std::nullopt;
    }
    if (out.scopeType == "default") {
        out.scope.clear();
    } else if (out.scopeType == "user" || out.scopeType == "group") {
        if (out.scope.find('@') == std::string::npos) {
            error = "A " + out.scopeType + " scope needs an e-mail address.";
            return std::nullopt;
        }
        out.scope = NormalEmail(out.scope);
    } else if (out.scopeType == "domain") {
        if (out.scope.empty() || out.scope.find('@') != std::string::npos) {
            error = "A domain scope needs a domain name.";
            return std::nullopt;
        }
        out.scope = NormalEmail(out.scope);
    } else {
        error = "Unknown scope type: " + out.scopeType;
        return std::nullopt;
    }
    return out;
}

}  // namespace

HttpResponse FeedHandler::AclFeed(const HttpRequest& request, const std::string& user,
                                  const StoredEntry& entry) {
    const std::string origin = request.Origin();
    const std::string url = AclFeedUrl(origin, entry);
    if (request.method == "GET") {
        const auto rules = m_store.AclRules(entry.id);
        std::string x =
            "<?xml version='1.0' encoding='UTF-8'?><feed "
            "xmlns='http://www.w3.org/2005/Atom' "
            "xmlns:openSearch='http://a9.com/-/spec/opensearch/1.1/' xmlns:gAcl='" +
            std::string(kAclNs) +
            "' xmlns:batch='http://schemas.google.com/gdata/batch' "
            "xmlns:gd='http://schemas.google.com/g/2005'>";
        x += "<id>" + url + "</id><updated>" + FormatTime(entry.edited) + "</updated>";
        x += "<category scheme='" + std::string(kKindScheme) + "' term='" + kAclNs +
             "#accessRule'/><title>Document Permissions</title>";
        x += "<link rel='http://schemas.google.com/g/2005#feed' type='application/atom+xml' "
             "href='" +
             url + "'/>";
        x += "<link rel='http://schemas.google.com/g/2005#post' type='application/atom+xml' "
             "href='" +
             url + "'/>";
        x += "<link rel='self' type='application/atom+xml' href='" + url + "'/>";
        x += "<openSearch:totalResults>" + std::to_string(rules.size()) +
             "</openSearch:totalResults><openSearch:startIndex>1</openSearch:startIndex>";
        for (const auto& rule : rules) {
            x += "<entry gd:etag='" + XmlEscape(RuleEtag(entry, rule)) + "'>" +
                 RuleBody(origin, entry, rule) + "</entry>";
        }
        HttpResponse r;
        r.Set("Content-Type", kFeedType);
        r.Set("GData-Version", "3.0");
        r.body = x + "</feed>";
        return r;
    }
    if (request.method != "POST") return MethodNotAllowed("GET, POST");
    if (!IsAtom(request)) return NotAtom(request);
    const Access access = m_store.AccessOf(user, entry.id);
    if (access != Access::Own && !(access == Access::Write && entry.writersCanInvite)) {
        return GDataError(403, "ServiceForbiddenException",
                          "You do not have permission to share this entry.");
    }
    std::string error;
    const auto body = ParseRuleBody(request.body, error);
    if (!body) return GDataError(400, "InvalidEntryException", error);
    if (m_store.FindAclRule(entry.id, body->scopeType, body->scope)) {
        return GDataError(409, "conflict", "A rule for this scope already exists.");
    }
    m_store.AddAclRule(entry.id, body->scopeType, body->scope, body->role);
    return RuleAnswer(201, origin, entry, {body->scopeType, body->scope, body->role});
}

HttpResponse FeedHandler::AclRuleRequest(const HttpRequest& request, const std::string& user,
                                         const StoredEntry& entry, const std::string& ruleName) {
    std::string scopeType = ruleName;
    std::string scope;
    if (const auto colon = ruleName.find(':'); colon != std::string::npos) {
        scopeType = ruleName.substr(0, colon);
        scope = ruleName.substr(colon + 1);
    }
    const auto rule = m_store.FindAclRule(entry.id, scopeType, scope);
    if (!rule) return NotFound();
    const std::string etag = RuleEtag(entry, *rule);
    if (request.method == "GET") return RuleAnswer(200, request.Origin(), entry, *rule);
    if (request.method != "PUT" && request.method != "DELETE") {
        return MethodNotAllowed("GET, PUT, DELETE");
    }
    const Access access = m_store.AccessOf(user, entry.id);
    if (access != Access::Own && !(access == Access::Write && entry.writersCanInvite)) {
        return GDataError(403, "ServiceForbiddenException",
                          "You do not have permission to change the sharing of this entry.");
    }
    if (rule->role == "owner") {
        return GDataError(403, "ServiceForbiddenException", "The owner's rule cannot change.");
    }
    std::string ifMatch = Trim(request.Header("If-Match").value_or(""));
    if (request.method == "DELETE") {
        if (!ifMatch.empty() && ifMatch != "*" && ifMatch != etag) {
            return GDataError(412, "etagsMismatch",
                              "Mismatch: etags = [" + ifMatch + "], version = [" + etag + "]");
        }
        m_store.RemoveAclRule(entry.id, rule->scopeType, rule->scope);
        HttpResponse done;
        done.Set("Content-Type", "text/html; charset=UTF-8");
        done.Set("GData-Version", "3.0");
        return done;
    }
    if (!IsAtom(request)) return NotAtom(request);
    std::string error;
    const auto body = ParseRuleBody(request.body, error);
    if (!body) return GDataError(400, "InvalidEntryException", error);
    if (body->scopeType != rule->scopeType || body->scope != rule->scope) {
        return GDataError(400, "InvalidEntryException", "The scope of a rule cannot change.");
    }
    if (ifMatch.empty() && body->etag) ifMatch = *body->etag;
    if (ifMatch.empty()) {
        return GDataError(403, "ServiceForbiddenException",
                          "If-Match or If-None-Match header or entry etag attribute required");
    }
    if (ifMatch != "*" && ifMatch != etag) {
        return GDataError(412, "etagsMismatch",
                          "Mismatch: etags = [" + ifMatch + "], version = [" + etag + "]");
    }
    m_store.AddAclRule(entry.id, rule->scopeType, rule->scope, body->role);
    return RuleAnswer(200, request.Origin(), entry, {rule->scopeType, rule->scope, body->role});
}

HttpResponse FeedHandler::Download(const HttpRequest& request) {
    if (request.method != "GET") return MethodNotAllowed("GET");
    // A token or session cookie sent in the clear could be read by anyone
    // on the way; the content too.
    if (!request.secure) {
        return GDataError(403, "ServiceForbiddenException",
                          "Downloads are only served over HTTPS.");
    }
    const std::string path = request.Path();
    const auto params = ParseForm(request.Query());
    auto param = [&](const std::string& name) {
        const auto it = params.find(name);
        return it == params.end() ? std::string() : it->second;
    };
    std::string kind, id;
    const std::vector<std::pair<std::string, std::string>> exports = {
        {"/feeds/download/documents/export/Export", "document"},
        {"/feeds/download/presentations/Export", "presentation"},
        {"/feeds/download/spreadsheets/Export", "spreadsheet"},
        {"/feeds/download/drawings/Export", "drawing"},
    };
    for (const auto& [prefix, k] : exports) {
        if (path == prefix) {
            kind = k;
            id = k == "spreadsheet" ? param("key") : param("id");
        }
    }
    constexpr std::string_view filesPrefix = "/feeds/download/files/";
    if (kind.empty() && path.rfind(filesPrefix, 0) == 0) {
        kind = "file";
        id = UrlDecode(path.substr(filesPrefix.size()), false);
    }
    if (kind.empty() || id.empty()) return NotFound();
    // Spreadsheets were exported by the spreadsheet service, with its own token.
    auto caller = Authorise(request, kind == "spreadsheet" ? "wise" : "writely", true);
    if (caller.refusal) return *caller.refusal;
    const auto entry = m_store.GetEntry(id);
    const bool kindMatches = kind == "file"
                                 ? (entry && (entry->kind == "file" || entry->kind == "pdf"))
                                 : (entry && entry->kind == kind);
    if (!kindMatches || m_store.AccessOf(caller.email, id) == Access::None) return NotFound();
    return DownloadEntry(*entry, kind == "file" ? std::string() : param("exportFormat"));
}

HttpResponse FeedHandler::DownloadEntry(const StoredEntry& entry, const std::string& format) {
    const bool stored = entry.kind == "file" || entry.kind == "pdf";
    const std::string kind = stored ? "file" : entry.kind;
    std::string filename = entry.title;
    for (char& c : filename) {
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    HttpResponse r;
    if (kind == "file") {
        r.Set("Content-Type", entry.mime.empty() ? "application/octet-stream" : entry.mime);
        if (entry.hasContent) r.bodyFile = m_store.ContentPath(entry.id);
    } else {
        if (!format.empty() && !ExportAllowed(kind, format)) {
            return GDataError(400, "invalidParameter", "Invalid exportFormat: " + format);
        }
        r = Export(entry, format);
        if (r.status != 200) return r;
        if (!format.empty()) filename += "." + format;
    }
    r.Set("Content-Disposition", "attachment; filename=\"" + filename + "\"");
    return r;
}

HttpResponse FeedHandler::Export(const StoredEntry& entry, const std::string& requested) {
    const std::string stored = StoredFormat(entry);
    const std::string format = requested.empty() ? stored : requested;
    HttpResponse r;
    r.Set("Content-Type", FormatType(format));
    if (format == stored) {
        if (entry.hasContent) r.bodyFile = m_store.ContentPath(entry.id);
        return r;
    }
    // Conversions of the service's own formats need no office suite.
    const std::string path = m_store.ContentPath(entry.id);
    if (entry.hasContent && stored == "html" && format == "txt") {
        r.body = HtmlToText(ReadFileText(path));
        return r;
    }
    if (entry.hasContent && stored == "csv" && (format == "tsv" || format == "html")) {
        const auto rows = ParseCsv(ReadFileText(path));
        r.body = format == "tsv" ? RowsToTsv(rows) : RowsToHtml(entry.title, rows);
        return r;
    }
    if (!entry.hasContent && (format == "txt" || format == "tsv" || format == "html")) {
        return r;  // an empty document stays empty
    }
    std::string error;
    const auto converted = ConvertWithOffice(path, stored, format, error);
    if (!converted) return GDataError(501, "conversionUnavailable", error);
    r.bodyFile = converted->file;
    r.removeAfterOpen = converted->folder;
    return r;
}

}  // namespace tallowdesk::server
