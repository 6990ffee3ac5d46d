#include "UploadHandler.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "AtomWriter.h"
#include "Crypto.h"
#include "FeedHandler.h"
#include "Limits.h"
#include "SharedState.h"
#include "SignInHandler.h"
#include "Store.h"
#include "TextCheck.h"
#include "UploadSink.h"
#include "web/Quota.h"

namespace tallowdesk::server {

namespace {

constexpr const char* kSessions = "upload";  // kind in the shared state

// An exclusive lock on a file of the data folder for as long as it lives:
// what the other service processes on the folder wait for.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX) != 0) {
            if (m_fd >= 0) ::close(m_fd);
            throw std::runtime_error("Cannot lock " + path);
        }
    }
    ~FileLock() { ::close(m_fd); }  // closing lets go of the lock
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

constexpr std::string_view kListPath = "/feeds/default/private/full";
constexpr std::string_view kUploadPath = "/upload/resumableupload";
constexpr std::string_view kMediaPrefix = "/feeds/default/media/";
// Room for the form's boundaries and part headers around the file.
constexpr std::uint64_t kFormOverhead = 64 * 1024;

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// What a converted upload of a MIME type becomes.
struct Conversion {
    std::string_view mime;
    std::string_view kind;
    bool keepsType;  // stored as uploaded, labelled with its type
};
constexpr Conversion kConversions[] = {
    {"text/csv", "spreadsheet", false},
    {"text/tab-separated-values", "spreadsheet", false},
    {"text/html", "document", false},
    {"text/plain", "document", false},
    {"application/msword", "document", true},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "document", true},
    {"application/vnd.oasis.opendocument.text", "document", true},
    {"application/rtf", "document", true},
    {"application/vnd.sun.xml.writer", "document", true},
    {"application/x-vnd.oasis.opendocument.spreadsheet", "spreadsheet", true},
    {"application/vnd.ms-excel", "spreadsheet", true},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "spreadsheet", true},
    {"application/vnd.ms-powerpoint", "presentation", true},
    {"application/pdf", "pdf", true},
};

const Conversion* FindConversion(const std::string& contentType) {
    const std::string mime = Lower(Trim(contentType.substr(0, contentType.find(';'))));
    for (const auto& c : kConversions) {
        if (c.mime == mime) return &c;
    }
    return nullptr;
}

bool IsAtomType(const std::string& type) {
    return Lower(Trim(type)).rfind("application/atom+xml", 0) == 0;
}

// Digits only, and no more than fit: "-1", "1e30" or 2^64 are no sizes.
std::optional<std::uint64_t> ParseSize(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> ContentLength(const HttpRequest& r) {
    const auto value = r.Header("Content-Length");
    if (!value) return std::nullopt;
    return ParseSize(Trim(*value));
}

// Converts the uploaded file piece by piece into a new temporary file of the
// same folder, so a large upload never sits in memory whole. `convert` gets
// each piece and the output so far; `finish` closes what is still open.
template <class Convert, class Finish>
std::string ConvertFile(const std::string& from, const std::string& head, Convert convert,
                        Finish finish, const std::string& tail) {
    const std::string to =
        std::filesystem::path(from).parent_path() / (".upload-" + RandomToken(24));
    std::ifstream in(from, std::ios::binary);
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (!in || fd < 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("Cannot convert the upload");
    }
    auto put = [&](const std::string& text) {
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error("Cannot write the converted upload");
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    };
    try {
        put(head);
        std::vector<char> buffer(64 * 1024);
        std::string out;
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
            out.clear();
            convert(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())), out);
            put(out);
        }
        out.clear();
        finish(out);
        put(out + tail);
        if (::fsync(fd) != 0) throw std::runtime_error("Cannot sync the converted upload");
    } catch (...) {
        ::close(fd);
        ::unlink(to.c_str());
        throw;
    }
    ::close(fd);
    return to;
}

// Plain text becomes an HTML document. A UTF-8 sequence cut by the end of a
// piece waits for the next piece.
std::string TextToHtmlFile(const std::string& from) {
    std::string carry;
    return ConvertFile(
        from, "<html><head><meta charset='utf-8'></head><body><pre>",
        [&carry](std::string_view piece, std::string& out) {
            carry.append(piece);
            std::size_t cut = carry.size();
            for (std::size_t back = 1; back <= 3 && back <= carry.size(); ++back) {
                const auto c = static_cast<unsigned char>(carry[carry.size() - back]);
                if ((c & 0xC0) == 0xC0) {
                    const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
                    if (need > back) cut = carry.size() - back;
                    break;
                }
                if ((c & 0xC0) != 0x80) break;
            }
            out = XmlEscape(std::string_view(carry).substr(0, cut));
            carry.erase(0, cut);
        },
        [&carry](std::string& out) { out = XmlEscape(carry); }, "</pre></body></html>");
}

// Tab-separated values become the CSV that spreadsheets store.
std::string TsvToCsvFile(const std::string& from) {
    std::string cell;
    auto flush = [&cell](std::string& out) {
        if (cell.find_first_of(",\"\n") != std::string::npos) {
            out += '"';
            for (char c : cell) {
                if (c == '"') out += '"';
                out += c;
            }
            out += '"';
        } else {
            out += cell;
        }
        cell.clear();
    };
    return ConvertFile(
        from, "",
        [&](std::string_view piece, std::string& out) {
            for (char c : piece) {
                if (c == '\t') {
                    flush(out);
                    out += ',';
                } else if (c == '\n') {
                    flush(out);
                    out += '\n';
                } else if (c != '\r') {
                    cell += c;
                }
            }
        },
        [&](std::string& out) {
            if (!cell.empty()) flush(out);
        },
        "");
}

// A file name or Slug as a title: characters XML cannot carry become U+FFFD,
// line breaks and tabs blanks; nothing when it is too long.
std::optional<std::string> NameAsTitle(std::string_view name) {
    std::string title = CleanText(name, true);
    if (CharCount(title) > kMaxTitleChars) return std::nullopt;
    return title;
}

HttpResponse NameTooLong() {
    return GDataError(
        400, "InvalidEntryException",
        "The file name is too long (at most " + std::to_string(kMaxTitleChars) + " characters).");
}

std::string StripExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string MimeOfName(const std::string& name) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {"pdf", "application/pdf"}, {"png", "image/png"}, {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},     {"gif", "image/gif"}, {"txt", "text/plain"},
        {"html", "text/html"},      {"htm", "text/html"}, {"csv", "text/csv"},
        {"zip", "application/zip"}, {"xml", "text/xml"},  {"json", "application/json"},
    };
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        const std::string ext = Lower(name.substr(dot + 1));
        for (const auto& [e, type] : kTypes) {
            if (ext == e) return type;
        }
    }
    return "application/octet-stream";
}

HttpResponse Json(int status, const std::string& body) {
    HttpResponse r;
    r.status = status;
    r.Set("Content-Type", "application/json; charset=utf-8");
    r.body = body;
    return r;
}

HttpResponse TooLarge(std::uint64_t size) {
    return GDataError(413, "fileTooLarge",
                      "The file is too large (" + std::to_string(size) +
                          " bytes): single files of 1 GB (1073741824 bytes) or more cannot be "
                          "uploaded.");
}

std::optional<std::string> TokenUser(Store& store, const HttpRequest& r) {
    const std::string value = Trim(r.Header("Authorization").value_or(""));
    constexpr std::string_view prefix = "GoogleLogin auth=";
    if (value.size() <= prefix.size() ||
        !EqualsIgnoreCase(value.substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    std::string token = value.substr(prefix.size());
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        token = token.substr(1, token.size() - 2);
    }
    return store.TokenOwner(token, "writely");
}

// The folder of a contents feed path ("" for the top level); nothing when the
// path is no place to upload to.
std::optional<std::string> UploadFolder(const std::string& path) {
    if (path == kListPath) return std::string();
    const std::string prefix = std::string(kListPath) + "/";
    constexpr std::string_view suffix = "/contents";
    if (path.rfind(prefix, 0) != 0 || path.size() <= prefix.size() + suffix.size() ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    const std::string resource =
        UrlDecode(path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()), false);
    if (resource.find('/') != std::string::npos) return std::nullopt;
    const auto colon = resource.find(':');
    if (colon != std::string::npos && resource.substr(0, colon) != "folder") return std::nullopt;
    const std::string id = colon == std::string::npos ? resource : resource.substr(colon + 1);
    return id == "root" ? std::string() : id;
}

// The entry id of an "edit-media" path ("/feeds/default/media/file%3Aabc").
std::optional<std::string> MediaEntryId(const std::string& path) {
    if (path.rfind(kMediaPrefix, 0) != 0) return std::nullopt;
    const std::string resource = UrlDecode(path.substr(kMediaPrefix.size()), false);
    const auto colon = resource.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == resource.size() ||
        resource.find('/') != std::string::npos) {
        return std::nullopt;
    }
    return resource.substr(colon + 1);
}

HttpResponse EntryNotFound() {
    return GDataError(404, "ResourceNotFoundException", "The requested entry was not found.");
}

// The bytes a replacement adds to the owner's usage: only what it grows by.
std::uint64_t Growth(std::uint64_t incoming, std::int64_t old) {
    const auto before = static_cast<std::uint64_t>(std::max<std::int64_t>(old, 0));
    return incoming > before ? incoming - before : 0;
}

// What every upload through the API meets first: HTTPS, a valid token and
// GData-Version 3. Gives the refusal to send, or sets `user`.
std::optional<HttpResponse> RefuseApiRequest(Store& store, const HttpRequest& header,
                                             std::optional<std::string>& user) {
    if (!header.secure) {
        return GDataError(403, "ServiceForbiddenException", "This feed is only served over HTTPS.");
    }
    user = TokenUser(store, header);
    if (!user) {
        HttpResponse r = GDataError(401, "AuthenticationException", "Token invalid");
        r.Set("WWW-Authenticate", "GoogleLogin realm=\"ClientLogin\", service=\"writely\"");
        return r;
    }
    const std::string version = Trim(header.Header("GData-Version").value_or(""));
    if (version != "3.0" && version != "3") {
        return GDataError(400, "InvalidRequestUriException",
                          "This feed needs the header GData-Version: 3.0");
    }
    return std::nullopt;
}

}  // namespace

UploadHandler::UploadHandler(Store& store, SharedState& shared, SignInHandler& signIn,
                             std::string contentDir)
    : m_store(store),
      m_shared(shared),
      m_signIn(signIn),
      m_contentDir(std::move(contentDir)),
      m_landLockPath(
          (std::filesystem::path(m_contentDir).parent_path() / "uploads.lock").string()) {}

std::optional<UploadHandler::OpenUpload> UploadHandler::FindSession(const std::string& uploadId) {
    const auto value = m_shared.Get(kSessions, uploadId);
    if (!value) return std::nullopt;
    const auto json = nlohmann::json::parse(*value);
    OpenUpload upload;
    upload.owner = json.at("owner").get<std::string>();
    upload.fileName = json.at("name").get<std::string>();
    upload.size = json.at("size").get<std::uint64_t>();
    upload.parentId = json.at("parent").get<std::string>();
    return upload;
}

bool UploadHandler::UseHeader(AnswerStyle style, std::atomic<unsigned>& turn) {
    if (style == AnswerStyle::Header) return true;
    if (style == AnswerStyle::Body) return false;
    return turn.fetch_add(1) % 2 == 0;
}

std::optional<UploadPlan> UploadHandler::Plan(const HttpRequest& header) {
    if (header.method == "PUT" && header.Path().rfind(kMediaPrefix, 0) == 0) {
        return PlanMedia(header);
    }
    if (header.method != "POST") return std::nullopt;
    const std::string path = header.Path();
    if (path == kUploadPath && ParseForm(header.Query()).count("upload_id")) {
        return PlanForm(header);
    }
    const auto type = header.Header("Content-Type");
    if (type && !IsAtomType(*type) && UploadFolder(path)) return PlanConverted(header);
    return std::nullopt;
}

std::optional<UploadPlan> UploadHandler::PlanConverted(const HttpRequest& header) {
    auto refuse = [](HttpResponse r) { return UploadPlan{std::move(r), nullptr}; };
    std::optional<std::string> user;
    if (auto refused = RefuseApiRequest(m_store, header, user)) return refuse(std::move(*refused));
    const std::string type = header.Header("Content-Type").value_or("");
    if (!FindConversion(type)) {
        return refuse(GDataError(415, "unsupportedMediaType",
                                 "Content-Type " + type + " is not a valid input type."));
    }
    const std::string folder = *UploadFolder(header.Path());
    if (!folder.empty()) {
        const auto entry = m_store.GetEntry(folder);
        if (!entry || entry->kind != "folder" || m_store.AccessOf(*user, folder) == Access::None) {
            return refuse(
                GDataError(404, "ResourceNotFoundException", "The requested entry was not found."));
        }
        if (m_store.AccessOf(*user, folder) < Access::Write) {
            return refuse(GDataError(403, "ServiceForbiddenException",
                                     "You do not have permission to add to this folder."));
        }
    }
    if (!NameAsTitle(UrlDecode(Trim(header.Header("Slug").value_or("")), false))) {
        return refuse(NameTooLong());
    }
    const auto length = ContentLength(header);
    if (!length) {
        return refuse(GDataError(411, "lengthRequired", "Uploads need a Content-Length."));
    }
    if (*length >= kMaxConvertedUploadBytes) {
        return refuse(GDataError(413, "fileTooLarge",
                                 "Files converted into documents must be smaller than 64 MB; "
                                 "upload it without conversion."));
    }
    if (const auto full = web::QuotaProblem(m_store, *user, *length)) {
        return refuse(GDataError(403, "quotaExceeded", *full));
    }
    return UploadPlan{std::nullopt,
                      std::make_shared<UploadSink>(m_contentDir, "", kMaxConvertedUploadBytes)};
}

HttpResponse UploadHandler::FinishConverted(const HttpRequest& header, UploadSink& sink) {
    const auto user = TokenUser(m_store, header);
    if (!user) return GDataError(401, "AuthenticationException", "Token invalid");
    const Conversion& conversion = *FindConversion(header.Header("Content-Type").value_or(""));
    const auto title = NameAsTitle(UrlDecode(Trim(header.Header("Slug").value_or("")), false));
    if (!title) return NameTooLong();
    std::string name = title->empty() ? std::string("Untitled") : *title;
    NewEntry n;
    n.kind = std::string(conversion.kind);
    n.title = conversion.kind == "pdf" ? name : StripExtension(name);
    const std::string folder = *UploadFolder(header.Path());
    if (!folder.empty()) n.parents.push_back(folder);
    std::string converted;
    if (conversion.keepsType) {
        n.mime = std::string(conversion.mime);
        n.contentFile = sink.TempPath();
    } else if (conversion.mime == "text/plain") {
        converted = TextToHtmlFile(sink.TempPath());
        n.contentFile = converted;
    } else if (conversion.mime == "text/tab-separated-values") {
        converted = TsvToCsvFile(sink.TempPath());
        n.contentFile = converted;
    } else {
        n.contentFile = sink.TempPath();  // HTML and CSV are what documents store
    }
    struct RemoveOnExit {
        std::string path;
        ~RemoveOnExit() {
            if (!path.empty()) ::unlink(path.c_str());  // gone already when stored
        }
    } cleanup{converted};
    // Counted by what is stored: converting can make the file larger.
    std::lock_guard land(m_landMutex);
    const FileLock otherProcesses(m_landLockPath);
    std::error_code error;
    const auto stored = std::filesystem::file_size(n.contentFile, error);
    if (const auto full = web::QuotaProblem(m_store, *user, error ? sink.Size() : stored)) {
        return GDataError(403, "quotaExceeded", *full);
    }
    const StoredEntry created = m_store.Create(*user, n);
    HttpResponse r;
    r.status = 201;
    r.Set("Content-Type", "application/atom+xml; charset=UTF-8; type=entry");
    r.Set("GData-Version", "3.0");
    r.Set("Location", EntryUrl(header.Origin(), created));
    r.Set("ETag", created.etag);
    r.body = EntryDocument(header.Origin(), created);
    return r;
}

HttpResponse UploadHandler::OpenSession(const HttpRequest& request) {
    if (request.method != "POST") {
        HttpResponse r = GDataError(405, "methodNotAllowed", "Method not allowed; use POST");
        r.Set("Allow", "POST");
        return r;
    }
    if (!request.secure) {
        return GDataError(403, "ServiceForbiddenException", "Uploads need HTTPS.");
    }
    const auto user = m_signIn.CookieUser(request);
    if (!user) return GDataError(401, "AuthenticationException", "Sign in first.");
    const auto params = ParseForm(request.Query());
    const auto named = params.find("user");
    if (named != params.end() && NormalEmail(named->second) != *user) {
        return GDataError(403, "ServiceForbiddenException",
                          "The session belongs to another account.");
    }
    OpenUpload upload;
    upload.owner = *user;
    bool haveFile = false;
    try {
        const auto json = nlohmann::json::parse(request.body);
        for (const auto& field : json.at("createSessionRequest").at("fields")) {
            if (field.contains("external")) {
                const auto& external = field.at("external");
                upload.fileName = external.at("filename").get<std::string>();
                const auto& size = external.at("size");
                // 1e30, -1 or 2^64 would all have become some other number.
                if (!size.is_number_unsigned()) {
                    return GDataError(400, "ParseException",
                                      "The file size must be a whole number of bytes.");
                }
                upload.size = size.get<std::uint64_t>();
                haveFile = true;
            } else if (field.contains("inlined") &&
                       field.at("inlined").at("name").get<std::string>() == "parentId") {
                upload.parentId = field.at("inlined").at("content").get<std::string>();
            }
        }
    } catch (const std::exception& e) {
        return GDataError(400, "ParseException",
                          std::string("The session request is not valid: ") + e.what());
    }
    if (!haveFile || upload.fileName.empty()) {
        return GDataError(400, "ParseException", "The session request names no file.");
    }
    const auto title = NameAsTitle(upload.fileName);
    if (!title) return NameTooLong();
    upload.fileName = *title;
    if (upload.size >= kMaxUploadBytes) return TooLarge(upload.size);
    if (const auto full = web::QuotaProblem(m_store, *user, upload.size)) {
        return GDataError(403, "quotaExceeded", *full);
    }
    if (!MayFileInto(*user, upload.parentId)) {
        return GDataError(403, "ServiceForbiddenException", "You cannot add files to this folder.");
    }
    const std::string uploadId = RandomToken(40);
    const nlohmann::json value = {{"owner", *user},
                                  {"name", upload.fileName},
                                  {"size", upload.size},
                                  {"parent", upload.parentId}};
    if (!m_shared.PutIfGroupHasRoom(kSessions, uploadId, value.dump(),
                                    NowMillis() + kUploadSessionLifetimeMs, *user,
                                    kMaxOpenUploadSessions)) {
        return GDataError(429, "rateLimitExceeded",
                          "Too many open upload sessions (" +
                              std::to_string(kMaxOpenUploadSessions) + "); finish some first.");
    }
    const std::string url = request.Origin() + std::string(kUploadPath) + "?upload_id=" + uploadId;
    const std::string status =
        R"({"sessionStatus":{"state":"OPEN","externalFieldTransfers":[{"name":"file","status":"IN_PROGRESS","bytesTransferred":0,"bytesTotal":)" +
        std::to_string(upload.size);
    if (UseHeader(m_urlStyle.load(), m_urlTurn)) {
        HttpResponse r = Json(200, status + R"(,"putInfo":{}}]},"upload_id":")" + uploadId + "\"}");
        r.Set("Location", url);
        return r;
    }
    return Json(200, status + R"(,"formPostInfo":{"url":")" + url +
                         R"(\u0026file_id=000"}}]},"upload_id":")" + uploadId + "\"}");
}

bool UploadHandler::MayFileInto(const std::string& user, const std::string& parentId) {
    if (parentId.empty()) return true;
    const auto folder = m_store.GetEntry(parentId);
    return folder && folder->kind == "folder" && m_store.AccessOf(user, parentId) >= Access::Write;
}

std::optional<UploadPlan> UploadHandler::PlanForm(const HttpRequest& header) {
    auto refuse = [](HttpResponse r) { return UploadPlan{std::move(r), nullptr}; };
    if (!header.secure) {
        return refuse(GDataError(403, "ServiceForbiddenException", "Uploads need HTTPS."));
    }
    const auto user = m_signIn.CookieUser(header);
    if (!user) return refuse(GDataError(401, "AuthenticationException", "Sign in first."));
    const std::string uploadId = ParseForm(header.Query()).at("upload_id");
    std::uint64_t announced = 0;
    {
        const auto session = FindSession(uploadId);
        if (!session || session->owner != *user) {
            return refuse(GDataError(404, "ResourceNotFoundException",
                                     "No such upload session (it may have been used already)."));
        }
        announced = session->size;
    }
    const std::string type = header.Header("Content-Type").value_or("");
    const auto at = Lower(type).find("boundary=");
    if (Lower(Trim(type)).rfind("multipart/form-data", 0) != 0 || at == std::string::npos) {
        return refuse(
            GDataError(415, "unsupportedMediaType", "The file must come as multipart/form-data."));
    }
    std::string boundary = Trim(type.substr(at + 9));
    boundary = boundary.substr(0, boundary.find(';'));
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') {
        boundary = boundary.substr(1, boundary.size() - 2);
    }
    if (boundary.empty() || boundary.size() > 70) {
        return refuse(GDataError(400, "ParseException", "The form's boundary is not valid."));
    }
    // A form far larger than the file announced is refused unread.
    if (const auto length = ContentLength(header); length && *length > announced + kFormOverhead) {
        return refuse(*length >= kMaxUploadBytes
                          ? TooLarge(*length)
                          : GDataError(413, "fileTooLarge",
                                       "The form is larger than the file the session announced (" +
                                           std::to_string(announced) + " bytes)."));
    }
    return UploadPlan{std::nullopt,
                      std::make_shared<UploadSink>(m_contentDir, boundary, kMaxUploadBytes)};
}

HttpResponse UploadHandler::FinishForm(const HttpRequest& header, UploadSink& sink) {
    const std::string uploadId = ParseForm(header.Query()).at("upload_id");
    const auto found = FindSession(uploadId);
    if (!found) return GDataError(404, "ResourceNotFoundException", "No such upload session.");
    const OpenUpload upload = *found;
    if (sink.Size() != upload.size) {
        return GDataError(400, "sizeMismatch",
                          "The file has " + std::to_string(sink.Size()) +
                              " bytes; the session announced " + std::to_string(upload.size) + ".");
    }
    // Used once: the same form sent to two processes at once lands once.
    if (!m_shared.Take(kSessions, uploadId)) {
        return GDataError(404, "ResourceNotFoundException", "No such upload session.");
    }
    // The folder may be gone, or the right to write taken away, while the
    // file was on its way: a folder deleted meanwhile stays a 404.
    if (!upload.parentId.empty() && !m_store.GetEntry(upload.parentId)) throw FolderGone();
    if (!MayFileInto(upload.owner, upload.parentId)) {
        return GDataError(403, "ServiceForbiddenException", "You cannot add files to this folder.");
    }
    std::lock_guard land(m_landMutex);
    const FileLock otherProcesses(m_landLockPath);
    if (const auto full = web::QuotaProblem(m_store, upload.owner, sink.Size())) {
        return GDataError(403, "quotaExceeded", *full);
    }
    NewEntry n;
    n.kind = "file";
    n.title = upload.fileName;
    n.mime = MimeOfName(upload.fileName);
    if (!upload.parentId.empty()) n.parents.push_back(upload.parentId);
    n.contentFile = sink.TempPath();
    n.quotaBytes = web::QuotaBytes(m_store, upload.owner);
    std::optional<StoredEntry> landed;
    try {
        landed = m_store.Create(upload.owner, n);
    } catch (const QuotaExceeded&) {
        // Another process landed a file between the check above and this one.
        const auto full = web::QuotaProblem(m_store, upload.owner, sink.Size());
        return GDataError(403, "quotaExceeded", full.value_or("The storage limit is reached."));
    }
    const StoredEntry& created = *landed;
    const std::string resource = "file%3A" + created.id;
    std::string info;
    if (UseHeader(m_idStyle.load(), m_idTurn)) {
        info = R"("id":")" + resource + "\"";
    } else {
        info = R"("url":")" + header.Origin() + "/file/d/" + created.id + "/edit?id\\u003d" +
               resource + R"(\u0026usp\u003ddocslist_api")";
    }
    return Json(
        200,
        R"({"sessionStatus":{"state":"FINALIZED","externalFieldTransfers":[{"name":"file","status":"COMPLETED","bytesTransferred":)" +
            std::to_string(sink.Size()) + R"(,"bytesTotal":)" + std::to_string(upload.size) +
            R"(}],"additionalInfo":{"completionInfo":{"status":"SUCCESS","customerSpecificInfo":{)" +
            info + R"(,"title":)" +
            nlohmann::json(upload.fileName)
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
            R"(}}},"upload_id":")" + uploadId + "\"}}");
}

std::optional<UploadPlan> UploadHandler::PlanMedia(const HttpRequest& header) {
    auto refuse = [](HttpResponse r) { return UploadPlan{std::move(r), nullptr}; };
    std::optional<std::string> user;
    if (auto refused = RefuseApiRequest(m_store, header, user)) return refuse(std::move(*refused));
    const auto id = MediaEntryId(header.Path());
    // As the caller sees it, so that If-Match is held against the etag the
    // caller was given.
    const auto entry = id ? m_store.GetEntryFor(*user, *id) : std::nullopt;
    const Access access = entry ? m_store.AccessOf(*user, *id) : Access::None;
    if (!entry || entry->kind == "folder" || access == Access::None) {
        return refuse(EntryNotFound());
    }
    if (access < Access::Write) {
        return refuse(GDataError(403, "ServiceForbiddenException",
                                 "You do not have permission to change this entry."));
    }
    // A document's content is the service's own form; a file is stored as sent.
    if (!entry->hasContent || entry->mime.empty()) {
        return refuse(GDataError(400, "InvalidEntryException",
                                 "Only the content of a stored file can be replaced; upload the "
                                 "new version as a file of its own."));
    }
    const std::string ifMatch = Trim(header.Header("If-Match").value_or(""));
    if (ifMatch.empty()) {
        return refuse(
            GDataError(403, "ServiceForbiddenException",
                       "If-Match or If-None-Match header or entry etag attribute required"));
    }
    if (ifMatch != "*" && ifMatch != entry->etag) {
        return refuse(
            GDataError(412, "etagsMismatch",
                       "Mismatch: etags = [" + ifMatch + "], version = [" + entry->etag + "]"));
    }
    const auto length = ContentLength(header);
    if (!length) {
        return refuse(GDataError(411, "lengthRequired", "Uploads need a Content-Length."));
    }
    if (*length >= kMaxUploadBytes) return refuse(TooLarge(*length));
    if (const auto full =
            web::QuotaProblem(m_store, entry->ownerEmail, Growth(*length, entry->size))) {
        return refuse(GDataError(403, "quotaExceeded", *full));
    }
    return UploadPlan{std::nullopt,
                      std::make_shared<UploadSink>(m_contentDir, "", kMaxUploadBytes)};
}

HttpResponse UploadHandler::FinishMedia(const HttpRequest& header, UploadSink& sink) {
    const auto user = TokenUser(m_store, header);
    if (!user) return GDataError(401, "AuthenticationException", "Token invalid");
    const auto id = MediaEntryId(header.Path());
    if (!id) return EntryNotFound();
    // The entry may be gone, or the right to write taken away, while the
    // bytes were on their way.
    const auto entry = m_store.GetEntryFor(*user, *id);
    if (!entry || m_store.AccessOf(*user, *id) == Access::None) return EntryNotFound();
    if (m_store.AccessOf(*user, *id) < Access::Write) {
        return GDataError(403, "ServiceForbiddenException",
                          "You do not have permission to change this entry.");
    }
    const std::string ifMatch = Trim(header.Header("If-Match").value_or("*"));
    std::optional<StoredEntry> replaced;
    {
        std::lock_guard land(m_landMutex);
        const FileLock otherProcesses(m_landLockPath);
        const auto now = m_store.GetEntry(*id);
        if (!now) return EntryNotFound();
        if (const auto full =
                web::QuotaProblem(m_store, now->ownerEmail, Growth(sink.Size(), now->size))) {
            return GDataError(403, "quotaExceeded", *full);
        }
        replaced = m_store.ReplaceContent(*id, *user, sink.TempPath(), ifMatch);
    }
    if (!replaced) {
        return GDataError(412, "etagsMismatch",
                          "Mismatch: etags = [" + ifMatch + "], version = [" + entry->etag + "]");
    }
    HttpResponse r;
    r.Set("Content-Type", "application/atom+xml; charset=UTF-8; type=entry");
    r.Set("GData-Version", "3.0");
    r.Set("ETag", replaced->etag);
    r.body = EntryDocument(header.Origin(), *replaced);
    return r;
}

HttpResponse UploadHandler::ReplaceMediaAtOnce(const HttpRequest& request) {
    if (request.method != "PUT") {
        HttpResponse r = GDataError(405, "methodNotAllowed", "Method not allowed; use PUT");
        r.Set("Allow", "PUT");
        return r;
    }
    auto plan = PlanMedia(request);
    if (plan->refusal) return std::move(*plan->refusal);
    if (!plan->sink->Put(request.body) || !plan->sink->Finish()) {
        return GDataError(plan->sink->Status(), "uploadRefused", plan->sink->Reason());
    }
    return FinishMedia(request, *plan->sink);
}

HttpResponse UploadHandler::Finish(const HttpRequest& header, UploadSink& sink) {
    if (header.Path() == kUploadPath) return FinishForm(header, sink);
    if (header.Path().rfind(kMediaPrefix, 0) == 0) return FinishMedia(header, sink);
    return FinishConverted(header, sink);
}

HttpResponse UploadHandler::UploadPage(const HttpRequest& request) {
    HttpResponse r;
    r.Set("Content-Type", "text/html; charset=UTF-8");
    r.Set("Cache-control", "no-cache, no-store");
    const auto user = m_signIn.CookieUser(request);
    if (!user) {
        const std::string back = request.Origin() + request.target;
        r.status = 302;
        r.Set("Location", request.Origin() + "/accounts/ServiceLogin?service=writely&passive=true" +
                              "&continue=" + UrlEncode(back) + "&followup=" + UrlEncode(back));
        r.body = "<html><body><p>Sign in first.</p></body></html>";
        return r;
    }
    char used[64];
    std::snprintf(used, sizeof used, "%.2f",
                  static_cast<double>(m_store.UsageBytes(*user)) / (1024.0 * 1024.0));
    r.body =
        "<!DOCTYPE html><html><head><meta charset='utf-8'><title>Upload</title></head><body>"
        "<h1>Upload files</h1><p>Signed in as " +
        XmlEscape(*user) + "</p><p class='quota'>You are currently using " + used +
        " MB.</p><p class='limit'>Your storage limit is " +
        web::Megabytes(web::QuotaBytes(m_store, *user)) + " MB.</p></body></html>";
    return r;
}

}  // namespace tallowdesk::server
