#include "EntryPages.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "AtomWriter.h"
#include "Export.h"
#include "FeedHandler.h"

namespace tallowdesk::server::web {

namespace {

constexpr std::size_t kPreviewBytes = 256 * 1024;
constexpr std::size_t kPreviewRows = 200;
constexpr std::int64_t kFolderPageSize = 100;

// The preview frame may show the user's HTML but never run it, load from
// elsewhere, or be shown by another site.
constexpr const char* kSandboxPolicy =
    "sandbox; default-src 'none'; img-src data:; style-src 'unsafe-inline'; font-src data:; "
    "frame-ancestors 'self'";

enum class PreviewKind { None, Html, Text, Table, Picture, Pdf };

const std::vector<std::string>& InlineTypes() {
    static const std::vector<std::string> kTypes = {"image/png",      "image/jpeg",    "image/gif",
                                                    "image/webp",     "image/svg+xml", "image/bmp",
                                                    "application/pdf"};
    return kTypes;
}

bool IsStoredFile(const StoredEntry& e) {
    return e.kind == "file" || e.kind == "pdf";
}

std::string ContentType(const StoredEntry& e) {
    return IsStoredFile(e) ? e.mime : FormatType(StoredFormat(e));
}

PreviewKind PreviewOf(const StoredEntry& e) {
    const std::string type = ContentType(e);
    if (type == "text/html") return PreviewKind::Html;
    if (type == "text/csv" && e.kind == "spreadsheet") return PreviewKind::Table;
    if (type.rfind("text/", 0) == 0) return PreviewKind::Text;
    if (type == "application/pdf") return PreviewKind::Pdf;
    if (type.rfind("image/", 0) == 0 &&
        std::find(InlineTypes().begin(), InlineTypes().end(), type) != InlineTypes().end()) {
        return PreviewKind::Picture;
    }
    return PreviewKind::None;
}

std::string KindLabel(const StoredEntry& e) {
    if (e.kind == "folder") return "Folder";
    if (e.kind == "document") return "Document";
    if (e.kind == "spreadsheet") return "Spreadsheet";
    if (e.kind == "presentation") return "Presentation";
    if (e.kind == "drawing") return "Drawing";
    if (e.kind == "pdf") return "PDF file";
    return e.mime.empty() ? "File" : "File (" + e.mime + ")";
}

// The first `limit` bytes; `truncated` tells whether more followed.
std::string ReadPrefix(const std::string& path, std::size_t limit, bool& truncated) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    truncated = text.size() > limit;
    if (truncated) text.resize(limit);
    return text;
}

std::string Person(const std::string& name, const std::string& email) {
    if (name.empty() || name == email) return Escape(email);
    return Escape(name) + " <span class='muted'>&lt;" + Escape(email) + "&gt;</span>";
}

std::string RoleText(const std::string& role) {
    if (role == "owner") return "Owner";
    if (role == "writer") return "Can edit";
    return "Can view";
}

std::string Row(const std::string& name, const std::string& value) {
    return "<tr><th scope='row'>" + name + "</th><td>" + value + "</td></tr>";
}

std::string DownloadHref(const StoredEntry& e, const std::string& format, bool inlineView) {
    std::string href = "/web/download?id=" + UrlEncode(e.id);
    if (!format.empty()) href += "&format=" + UrlEncode(format);
    if (inlineView) href += "&inline=1";
    return href;
}

void ReplaceHeader(HttpResponse& r, const std::string& name, const std::string& value) {
    for (auto& [n, v] : r.headers) {
        if (EqualsIgnoreCase(n, name)) {
            v = value;
            return;
        }
    }
    r.Set(name, value);
}

std::string HeaderOf(const HttpResponse& r, const std::string& name) {
    for (const auto& [n, v] : r.headers) {
        if (EqualsIgnoreCase(n, name)) return v;
    }
    return {};
}

}  // namespace

EntryPages::EntryPages(Store& store, FeedHandler& feeds) : m_store(store), m_feeds(feeds) {}

std::optional<HttpResponse> EntryPages::Handle(const HttpRequest& request, const Visitor& visitor) {
    const std::string path = request.Path();
    const auto query = ParseForm(request.Query());
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (path == "/web/preview" || path == "/web/download" || path == "/folderview" ||
        path == "/spreadsheet/ccc") {
        if (!read) return MethodNotAllowed("GET, HEAD");
        if (path == "/web/preview") return Preview(request, visitor);
        if (path == "/web/download") return Download(request, visitor);
        if (path == "/spreadsheet/ccc") {
            return EntryPage(request, visitor, Field(query, "key"), "spreadsheet");
        }
        const std::string id = Field(query, "id");
        if (id == "root") return ListPage(request, visitor, ListScope::Root, "My Documents");
        if (id == "shared") {
            return ListPage(request, visitor, ListScope::SharedWithMe, "Shared with me");
        }
        return FolderPage(request, visitor, id);
    }
    // /document/d/ID/edit and its siblings, as the feeds name them.
    static const std::vector<std::pair<std::string, std::string>> kPrefixes = {
        {"/document/d/", "document"},
        {"/presentation/d/", "presentation"},
        {"/drawings/d/", "drawing"},
        {"/file/d/", "file"},
    };
    for (const auto& [prefix, kind] : kPrefixes) {
        if (path.rfind(prefix, 0) != 0) continue;
        std::string rest = path.substr(prefix.size());
        const auto slash = rest.find('/');
        const std::string tail = slash == std::string::npos ? "" : rest.substr(slash + 1);
        if (tail != "" && tail != "edit" && tail != "view") return std::nullopt;
        if (!read) return MethodNotAllowed("GET, HEAD");
        return EntryPage(request, visitor, UrlDecode(rest.substr(0, slash), false), kind);
    }
    return std::nullopt;
}

EntryPages::Found EntryPages::Find(const HttpRequest& request, const Visitor& visitor,
                                   const std::string& id, const std::string& kind) {
    Found found;
    auto entry = id.empty() ? std::nullopt : m_store.GetEntry(id);
    const bool kindMatches =
        entry && (kind.empty() || entry->kind == kind || (kind == "file" && IsStoredFile(*entry)));
    if (kindMatches) found.access = m_store.AccessOf(visitor.email.value_or(""), entry->id);
    if (found.access == Access::None) {
        // Without a session we cannot tell "private" from "missing": sign in first.
        found.refusal = visitor.email ? NotFound(request, visitor) : SignInRedirect(request);
        return found;
    }
    found.entry = std::move(entry);
    return found;
}

HttpResponse EntryPages::NotFound(const HttpRequest& request, const Visitor& visitor) {
    std::string body =
        "<h1>Not found</h1><p>This item does not exist, or you have no access to it.</p>";
    if (visitor.email) {
        body += "<p>You are signed in as " + Escape(*visitor.email) +
                ". If it was shared with another of your accounts, sign out and sign in with "
                "that one.</p>";
    }
    return HtmlAnswer(404, Layout(request, visitor, "Not found", body), visitor, request);
}

std::string EntryPages::Facts(const Visitor& visitor, const StoredEntry& e) {
    std::string rows;
    rows += Row("Kind", Escape(KindLabel(e)));
    if (IsStoredFile(e) || e.size > 0) rows += Row("Size", Escape(FormatBytes(e.size)));
    rows += Row("Owner", Person(e.ownerName, e.ownerEmail));
    rows += Row("Last change",
                Escape(FormatWhen(e.updated)) + " by " + Person(e.modifierName, e.modifierEmail));
    // Folders the visitor may open; the others stay unnamed.
    std::string folders;
    for (const auto& parent : e.parents) {
        if (m_store.AccessOf(visitor.email.value_or(""), parent.id) == Access::None) continue;
        if (!folders.empty()) folders += ", ";
        folders += "<a href='/folderview?id=" + Escape(UrlEncode(parent.id)) + "'>" +
                   Escape(parent.title) + "</a>";
    }
    if (!folders.empty()) rows += Row("In folder", folders);

    // Visitors without a session see who owns it and that it is public, not
    // the addresses of everybody it was shared with.
    std::string access = "<ul class='access'>";
    for (const auto& rule : m_store.AclRules(e.id)) {
        std::string who;
        if (rule.scopeType == "default") {
            who = "Anyone on the Internet can find and access. No sign-in required.";
        } else if (!visitor.email && rule.role != "owner") {
            continue;
        } else if (rule.scopeType == "domain") {
            who = "Anyone at " + Escape(rule.scope);
        } else if (rule.scopeType == "group") {
            who = "Group " + Escape(rule.scope);
        } else {
            who = Escape(rule.scope);
        }
        access += "<li>" + who + " <span class='role'>" + RoleText(rule.role) + "</span></li>";
    }
    access += "</ul>";
    rows += Row("Who has access", access);
    return "<table class='facts'>" + rows + "</table>";
}

std::string EntryPages::PreviewBlock(const StoredEntry& e) {
    if (!e.hasContent) return "<p class='note'>This item is empty.</p>";
    const std::string path = m_store.ContentPath(e.id);
    switch (PreviewOf(e)) {
        case PreviewKind::Html:
            // Shown in a frame that runs no script, from a page of its own.
            return "<iframe class='preview' sandbox title='Preview' src='/web/preview?id=" +
                   Escape(UrlEncode(e.id)) + "'></iframe>";
        case PreviewKind::Text: {
            bool truncated = false;
            const std::string text = ReadPrefix(path, kPreviewBytes, truncated);
            return std::string("<pre class='preview'>") + Escape(text) + "</pre>" +
                   (truncated ? "<p class='note'>Only the beginning is shown.</p>" : "");
        }
        case PreviewKind::Table: {
            bool truncated = false;
            const std::string text = ReadPrefix(path, kPreviewBytes, truncated);
            auto rows = ParseCsv(text);
            if (truncated && !rows.empty()) rows.pop_back();  // cut in the middle
            if (rows.size() > kPreviewRows) {
                rows.resize(kPreviewRows);
                truncated = true;
            }
            std::string table = "<div class='sheet'><table>";
            for (const auto& row : rows) {
                table += "<tr>";
                for (const auto& cell : row) table += "<td>" + Escape(cell) + "</td>";
                table += "</tr>";
            }
            table += "</table></div>";
            if (truncated) table += "<p class='note'>Only the first rows are shown.</p>";
            return table;
        }
        case PreviewKind::Picture:
            return "<img class='preview' alt='" + Escape(e.title) + "' src='" +
                   Escape(DownloadHref(e, {}, true)) + "'>";
        case PreviewKind::Pdf:
            return "<iframe class='preview pdf' title='" + Escape(e.title) + "' src='" +
                   Escape(DownloadHref(e, {}, true)) + "'></iframe>";
        case PreviewKind::None:
            break;
    }
    return "<p class='note'>There is no preview for this kind of file. Download it to open "
           "it.</p>";
}

HttpResponse EntryPages::EntryPage(const HttpRequest& request, const Visitor& visitor,
                                   const std::string& id, const std::string& kind) {
    Found found = Find(request, visitor, id, kind);
    if (found.refusal) return *found.refusal;
    const StoredEntry& e = *found.entry;
    std::string body = "<h1 class='title'>" + Escape(e.title) + "</h1>";
    if (e.trashed) body += "<p class='banner'>This item is in the trash.</p>";
    body += "<p class='actions'><a class='button' href='" + Escape(DownloadHref(e, {}, false)) +
            "'>Download</a>";
    const auto& formats = ExportFormats(e.kind);
    if (!formats.empty()) {
        body += " <span class='export'>Export as:";
        for (const auto& format : formats) {
            body += " <a href='" + Escape(DownloadHref(e, format, false)) + "'>" + Escape(format) +
                    "</a>";
        }
        body += "</span>";
    }
    body += "</p>";
    body += Facts(visitor, e);
    body += "<section class='preview-box'><h2>Preview</h2>" + PreviewBlock(e) + "</section>";
    return HtmlAnswer(200, Layout(request, visitor, e.title, body), visitor, request);
}

std::string EntryPages::Contents(const HttpRequest& request, ListQuery query) {
    const auto params = ParseForm(request.Query());
    std::int64_t start = 0;
    try {
        start = std::max<std::int64_t>(0, std::stoll(Field(params, "start")));
    } catch (const std::exception&) {
        start = 0;
    }
    query.offset = start;
    query.limit = kFolderPageSize;
    query.includeFolders = true;
    const ListResult result = m_store.List(query);
    if (result.entries.empty()) return "<p class='note'>This folder is empty.</p>";
    std::string out =
        "<div class='sheet'><table class='list'><thead><tr><th>Title</th><th>Kind</th>"
        "<th>Owner</th><th>Last change</th><th>Size</th></tr></thead><tbody>";
    for (const auto& e : result.entries) {
        out += "<tr><td><a href='" + Escape(AlternateUrl("", e)) + "'>" + Escape(e.title) +
               "</a></td><td>" + Escape(KindLabel(e)) + "</td><td>" + Escape(e.ownerEmail) +
               "</td><td>" + Escape(FormatWhen(e.updated)) + "</td><td>" +
               (IsStoredFile(e) ? Escape(FormatBytes(e.size)) : std::string("&mdash;")) +
               "</td></tr>";
    }
    out += "</tbody></table></div>";
    if (start > 0 || result.more) {
        auto link = [&](std::int64_t at, const char* label) {
            auto copy = params;
            copy["start"] = std::to_string(at);
            std::string q;
            for (const auto& [k, v] : copy)
                q += (q.empty() ? "" : "&") + UrlEncode(k) + "=" + UrlEncode(v);
            return "<a href='" + Escape(request.Path() + "?" + q) + "'>" + label + "</a> ";
        };
        out += "<p class='pages'>";
        if (start > 0)
            out += link(std::max<std::int64_t>(0, start - kFolderPageSize), "Previous page");
        if (result.more) out += link(start + kFolderPageSize, "Next page");
        out += "</p>";
    }
    return out;
}

HttpResponse EntryPages::FolderPage(const HttpRequest& request, const Visitor& visitor,
                                    const std::string& id) {
    Found found = Find(request, visitor, id, "folder");
    if (found.refusal) return *found.refusal;
    const StoredEntry& e = *found.entry;
    std::string body = "<h1 class='title'>" + Escape(e.title) + "</h1>";
    if (e.trashed) body += "<p class='banner'>This folder is in the trash.</p>";
    body += Facts(visitor, e);
    ListQuery query;
    query.user = visitor.email.value_or("");
    query.scope = ListScope::Folder;
    query.folderId = e.id;
    body += "<section><h2>Contents</h2>" + Contents(request, query) + "</section>";
    return HtmlAnswer(200, Layout(request, visitor, e.title, body), visitor, request);
}

HttpResponse EntryPages::ListPage(const HttpRequest& request, const Visitor& visitor,
                                  ListScope scope, const std::string& title) {
    if (!visitor.email) return SignInRedirect(request);
    ListQuery query;
    query.user = *visitor.email;
    query.scope = scope;
    std::string body = "<h1>" + Escape(title) + "</h1><p class='tabs'>" +
                       "<a href='/folderview?id=root'>My Documents</a> "
                       "<a href='/folderview?id=shared'>Shared with me</a></p>" +
                       Contents(request, query);
    return HtmlAnswer(200, Layout(request, visitor, title, body), visitor, request);
}

HttpResponse EntryPages::Preview(const HttpRequest& request, const Visitor& visitor) {
    const auto query = ParseForm(request.Query());
    Found found = Find(request, visitor, Field(query, "id"), {});
    if (found.refusal) return *found.refusal;
    const StoredEntry& e = *found.entry;
    if (PreviewOf(e) != PreviewKind::Html) return NotFound(request, visitor);
    HttpResponse r;
    r.Set("Content-Type", "text/html; charset=UTF-8");
    r.Set("Content-Security-Policy", kSandboxPolicy);
    r.Set("X-Content-Type-Options", "nosniff");
    r.Set("X-Frame-Options", "SAMEORIGIN");
    r.Set("Cache-Control", "no-store");
    if (e.hasContent) r.bodyFile = m_store.ContentPath(e.id);
    return r;
}

HttpResponse EntryPages::Download(const HttpRequest& request, const Visitor& visitor) {
    const auto query = ParseForm(request.Query());
    Found found = Find(request, visitor, Field(query, "id"), {});
    if (found.refusal) return *found.refusal;
    const StoredEntry& e = *found.entry;
    if (e.kind == "folder") return NotFound(request, visitor);
    std::string format = IsStoredFile(e) ? std::string() : Field(query, "format");
    if (!IsStoredFile(e) && format.empty()) {
        // As stored, but named with its format's extension where it has one.
        const auto& formats = ExportFormats(e.kind);
        const std::string stored = StoredFormat(e);
        if (std::find(formats.begin(), formats.end(), stored) != formats.end()) format = stored;
    }
    HttpResponse r = m_feeds.DownloadEntry(e, format);
    if (r.status != 200) {
        const std::string text =
            r.status == 501 ? "Exporting to " + format +
                                  " needs LibreOffice on the service, and it is not installed."
                            : "This item cannot be exported as " + format + ".";
        return HtmlAnswer(
            r.status,
            Layout(request, visitor, "Export",
                   "<h1>Export not available</h1><p>" + Escape(text) + "</p><p><a href='" +
                       Escape(AlternateUrl("", e)) + "'>Back to " + Escape(e.title) + "</a></p>"),
            visitor, request);
    }
    const std::string type = HeaderOf(r, "Content-Type");
    const bool showInline =
        Field(query, "inline") == "1" &&
        std::find(InlineTypes().begin(), InlineTypes().end(), type) != InlineTypes().end();
    if (showInline) {
        std::string disposition = HeaderOf(r, "Content-Disposition");
        disposition.replace(0, disposition.find(';'), "inline");
        ReplaceHeader(r, "Content-Disposition", disposition);
    }
    r.Set("X-Content-Type-Options", "nosniff");
    r.Set("Cache-Control", "private, no-store");
    r.Set("X-Frame-Options", "SAMEORIGIN");
    // Browsers refuse to show a PDF in a sandbox; every other body gets one,
    // so a picture (SVG) opened on its own cannot run script as our site.
    if (type != "application/pdf") r.Set("Content-Security-Policy", kSandboxPolicy);
    return r;
}

}  // namespace tallowdesk::server::web
