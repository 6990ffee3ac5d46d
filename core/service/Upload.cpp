#include "Upload.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <stdexcept>

#include "BrowserSession.h"
#include "CurlHandles.h"
#include "FileHelpers.h"
#include "GDataRequests.h"
#include "ResponseBuffer.h"
#include "ServiceClient.h"
#include "ServiceExceptions.h"
#include "SignIn.h"
#include "TransferProgress.h"
#include "TransportSecurity.h"
#include "UniqueFd.h"
#include "model/FeedCatalogue.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk {

namespace {

struct Conversion {
    std::string_view extension;
    std::string_view mimeType;
};

// Searched in this order.
constexpr std::array<Conversion, 17> kConversions{{
    {"CSV", "text/csv"},
    {"TSV", "text/tab-separated-values"},
    {"TAB", "text/tab-separated-values"},
    {"HTML", "text/html"},
    {"HTM", "text/html"},
    {"DOC", "application/msword"},
    {"DOCX", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"ODS", "application/x-vnd.oasis.opendocument.spreadsheet"},
    {"ODT", "application/vnd.oasis.opendocument.text"},
    {"RTF", "application/rtf"},
    {"SXW", "application/vnd.sun.xml.writer"},
    {"TXT", "text/plain"},
    {"XLS", "application/vnd.ms-excel"},
    {"XLSX", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"PDF", "application/pdf"},
    {"PPT", "application/vnd.ms-powerpoint"},
    {"PPS", "application/vnd.ms-powerpoint"},
}};

constexpr std::size_t kMaxSlugLength = 250;
constexpr const char* kNoSessionMessage = "File upload POST failed: file_id is not generated.";

struct MimeFree {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using MimePtr = std::unique_ptr<curl_mime, MimeFree>;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

std::optional<std::string_view> MimeTypeForExtension(std::string_view extension) {
    const std::string wanted = Upper(extension);
    for (const Conversion& row : kConversions) {
        if (row.extension == wanted) return row.mimeType;
    }
    return std::nullopt;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::size_t Utf8SequenceLength(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;  // ASCII, or a stray byte kept on its own
}

long ResponseCode(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Opens the file to upload; a folder or other non-file is refused like a file
// that cannot be opened. The open does not block: a FIFO without a writer
// would otherwise hold the upload worker for good.
UniqueFd OpenForUpload(const std::string& path, std::uint64_t* size) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw std::runtime_error("open file failed!");
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw std::runtime_error("open file failed!");
    if (size) *size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

}  // namespace

std::optional<std::string_view> MimeTypeForFile(std::string_view fileName) {
    if (fileName.empty()) return std::nullopt;
    return MimeTypeForExtension(FileExtension(fileName));
}

bool IsConvertibleFile(std::string_view path) {
    if (path.empty()) return false;
    const std::string name = FileNameFromPath(path);
    if (name.empty()) return false;
    return MimeTypeForExtension(FileExtension(name)).has_value();
}

std::string BuildSlug(std::string_view fileName) {
    const std::string name = StripTrailingDot(fileName);
    std::string slug;
    // Whole characters only: a cut inside "%XX" or inside a multi-byte
    // character would leave a name the service cannot decode.
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t length =
            std::min(Utf8SequenceLength(static_cast<unsigned char>(name[pos])), name.size() - pos);
        const std::string piece = PercentEncode(std::string_view(name).substr(pos, length));
        if (slug.size() + piece.size() > kMaxSlugLength) break;
        slug += piece;
        pos += length;
    }
    return slug;
}

std::vector<std::string> BuildConvertedUploadHeaders(std::string_view writelyToken,
                                                     std::uint64_t size, std::string_view mimeType,
                                                     std::string_view slug) {
    return {"GData-Version:3.0", "Authorization:GoogleLogin auth=" + std::string(writelyToken),
            "Content-Length: " + std::to_string(size), "Content-Type: " + std::string(mimeType),
            "Slug: " + std::string(slug)};
}

std::optional<std::string> FolderIdFromUploadUrl(std::string_view uploadUrl) {
    constexpr std::string_view kMarker = "/folder%3A";
    const auto marker = uploadUrl.find(kMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    const std::string_view rest = uploadUrl.substr(marker + kMarker.size());
    auto end = rest.find("/contents");
    // A folder URL without "/contents" still names the folder: its id ends at
    // the next path, query or fragment separator.
    if (end == std::string_view::npos) end = rest.find_first_of("/?#");
    const std::string_view id = rest.substr(0, end);
    // The root folder is where an upload without a folder goes anyway; its
    // alias is not an entry a session can name as parent.
    if (id.empty() || id == "root") return std::nullopt;
    return std::string(id);
}

std::string JsonEscape(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0x0F];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

std::string BuildUploadSessionRequest(std::string_view fileName, std::uint64_t size,
                                      const std::optional<std::string>& folderId) {
    std::string json =
        R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[{"external":{"name":"file","filename":")";
    json += JsonEscape(fileName);
    json += R"(","formPost":{},"size":)";
    json += std::to_string(size);
    json += "}}";
    if (folderId) {
        json += R"(,{"inlined":{"name":"parentId","content":")";
        json += JsonEscape(*folderId);
        json += R"(","contentType":"text/plain"}})";
    }
    json +=
        R"(,{"inlined":{"name":"gdConvert","content":"false","contentType":"text/plain"}},{"inlined":{"name":"visibilitySetting","content":"{\"visibilityState\":\"private\",\"role\":0,\"restrictedToDomain\":false,\"visibilityEntries\":[{\"visibilityState\":\"private\",\"role\":0,\"restrictedToDomain\":false}]}","contentType":"text/plain"}}]}})";
    return json;
}

namespace {

// The same clean-up whichever way the URL came: an escaped "&" is restored and
// the URL ends at the first of the file's own parameters or a double quote
// (the end of the JSON string), else the session answers 404.
std::string CleanSessionUrl(std::string url) {
    ReplaceAll(url, "\\u0026", "&");
    std::size_t cut = std::string::npos;
    for (const std::string_view end : {"&file_id", "?file_id", "\""})
        cut = std::min(cut, url.find(end));
    if (cut != std::string::npos) url.resize(cut);
    return url;
}

}  // namespace

std::optional<std::string> ExtractSessionUrl(std::string_view headers, std::string_view body) {
    if (headers.empty()) return std::nullopt;
    // Only the last response counts: redirects and "100 Continue" come first.
    // The header is matched as a whole name, so "Content-Location" is not it.
    std::optional<std::string> location;
    std::size_t lineStart = 0;
    while (lineStart < headers.size()) {
        auto lineEnd = headers.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = headers.size();
        std::string_view line = headers.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lineStart = lineEnd + 1;
        if (line.substr(0, 5) == "HTTP/") {
            location.reset();
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !EqualsIgnoreCase(line.substr(0, colon), "Location"))
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (!value.empty()) location = std::string(value);
    }
    if (location) return CleanSessionUrl(std::move(*location));

    constexpr std::string_view kUrlKey = "\"url\":\"https:";
    const auto key = body.find(kUrlKey);
    if (key == std::string_view::npos) return std::nullopt;
    return CleanSessionUrl(std::string(body.substr(key + kUrlKey.size() - 6)));
}

std::optional<std::string> ExtractUploadedEntryId(std::string_view body) {
    constexpr std::string_view kQueryId = "?id\\u003d";
    if (const auto at = body.find(kQueryId); at != std::string_view::npos) {
        const auto start = at + kQueryId.size();
        auto end = body.find("\\u0026", start);
        if (end == std::string_view::npos) end = body.find('"', start);
        const std::string_view id = body.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!id.empty()) return std::string(id);
        return std::nullopt;
    }
    constexpr std::string_view kJsonId = "\"id\":\"";
    if (const auto at = body.find(kJsonId); at != std::string_view::npos) {
        const auto start = at + kJsonId.size();
        const auto end = body.find('"', start);
        if (end == std::string_view::npos || end == start) return std::nullopt;
        return std::string(body.substr(start, end - start));
    }
    return std::nullopt;
}

namespace {

enum class BodyMethod { Post, Put };

// Sends the open file as the whole body of one request, with progress, and
// returns the answer's status (its body is in response). The length is known,
// so the body goes out plain rather than chunked. A transport failure throws
// `failure`.
long SendFileBody(CURL* handle, BodyMethod method, UniqueFd& file, std::uint64_t size,
                  TransferProgressListener* listener, const std::string& url,
                  ResponseBuffer& response, const char* failure) {
    TransferProgress progress{file.get(), 0, listener, NowMilliseconds(), size};
    if (method == BodyMethod::Post) {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    } else {
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    }
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadFromFileWithProgress);
    curl_easy_setopt(handle, CURLOPT_READDATA, &progress);
    curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &SeekFileWithProgress);
    curl_easy_setopt(handle, CURLOPT_SEEKDATA, &progress);
    response.CollectBody(handle);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    if (curl_easy_perform(handle) != CURLE_OK) {
        response.ThrowIfOverflowed();
        throw std::runtime_error(failure);
    }
    file.Close();
    return ResponseCode(handle);
}

}  // namespace

void UploadConverted(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                     tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                     std::string_view name) {
    const auto& token = client.Credentials().writelyToken;
    if (!token) RequireSignedIn();
    if (path.empty()) throw std::runtime_error("the file name is invalid!");
    std::uint64_t size = 0;
    UniqueFd file = OpenForUpload(path, &size);
    const std::string fileName = name.empty() ? FileNameFromPath(path) : std::string(name);
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();

    // The type is the file's own, whatever name it is given.
    const auto mimeType = MimeTypeForFile(FileNameFromPath(path));
    if (!mimeType) {
        throw GDocsUnsupportTypeException(
            "The type of this file is not supported to be converted.");
    }
    CurlSlist headers;
    for (const std::string& line :
         BuildConvertedUploadHeaders(*token, size, *mimeType, BuildSlug(fileName))) {
        headers.Append(line.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    ApplyTransportSecurity(handle);

    ResponseBuffer response;
    if (SendFileBody(handle, BodyMethod::Post, file, size, listener, uploadUrl, response,
                     "Failed to upload file") != 201) {
        throw GDocsUnsupportTypeException(ParseErrorBody(response.Text()));
    }
    document.Clear();
    document.Parse(response.Text().data(), response.Text().size());
}

void UploadResumable(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                     tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                     std::string_view name) {
    if (path.empty()) throw std::runtime_error("File name is NULL.");
    const std::optional<std::string> folderId = FolderIdFromUploadUrl(uploadUrl);

    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();
    PrepareBrowserRequest(client, handle);
    const ServiceCredentials& credentials = client.Credentials();

    const std::string docs = "https://" + Hosts().docsHost;
    const std::string sessionUrl =
        docs + "/upload/resumableupload?authuser=0&user=" + credentials.email.value_or("");
    const std::string referer = docs + "/DocAction?action=updoc&hl=en";
    curl_easy_setopt(handle, CURLOPT_URL, sessionUrl.c_str());
    curl_easy_setopt(handle, CURLOPT_REFERER, referer.c_str());

    const std::string fileName = name.empty() ? FileNameFromPath(path) : std::string(name);
    const std::uint64_t size = FileSizeOf(path);
    if (size >= kMaxResumableUploadBytes) {
        throw std::runtime_error(
            "The size of this file is too large to upload: single file whose size is more than 1 "
            "GB is not allowed.");
    }

    const std::string request = BuildUploadSessionRequest(fileName, size, folderId);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.c_str());
    ResponseBuffer sessionHeaders(kMaxHeaderBytes);
    sessionHeaders.CollectHeaders(handle);
    ResponseBuffer sessionBody(kMaxPageBytes);
    sessionBody.CollectBody(handle);
    // The outcome shows in what came back; a failed exchange leaves no headers.
    curl_easy_perform(handle);
    sessionHeaders.ThrowIfOverflowed();
    sessionBody.ThrowIfOverflowed();
    const std::optional<std::string> target =
        ExtractSessionUrl(sessionHeaders.Text(), sessionBody.Text());
    if (!target) throw std::runtime_error(kNoSessionMessage);

    UniqueFd file = OpenForUpload(path, nullptr);
    TransferProgress progress{file.get(), 0, listener, NowMilliseconds(), size};
    MimePtr form(curl_mime_init(handle));
    if (!form) throw std::runtime_error("File upload  failed.");
    curl_mimepart* part = curl_mime_addpart(form.get());
    if (!part || curl_mime_name(part, "Filedata") != CURLE_OK ||
        curl_mime_type(part, "application/octet-stream") != CURLE_OK ||
        curl_mime_filename(part, fileName.c_str()) != CURLE_OK ||
        curl_mime_data_cb(part, static_cast<curl_off_t>(size), &ReadFromFileWithProgress,
                          &SeekFileWithProgress, nullptr, &progress) != CURLE_OK) {
        throw std::runtime_error("File upload  failed.");
    }
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(handle, CURLOPT_MIMEPOST, form.get());
    ResponseBuffer uploadBody;
    uploadBody.CollectBody(handle);
    curl_easy_setopt(handle, CURLOPT_URL, target->c_str());
    const CURLcode sent = curl_easy_perform(handle);
    file.Close();
    if (sent != CURLE_OK) {
        uploadBody.ThrowIfOverflowed();
        throw std::runtime_error("File upload  failed.");
    }
    if (ResponseCode(handle) != 200) throw std::runtime_error(uploadBody.Text());
    if (uploadBody.Empty()) {
        throw UploadedFileGetInfoException("Getting uploaded file informaiton failed.");
    }

    const std::optional<std::string> id = ExtractUploadedEntryId(uploadBody.Text());
    if (!id) return;  // stored, but the service named no entry to show
    // Back to the pool first, so the entry is read over this connection.
    form.reset();
    easy.Release();
    try {
        GetFeed(client, DocumentListUrl() + "/" + *id, document);
    } catch (...) {
        throw UploadedFileGetInfoException("File information retrieval failed");
    }
}

void UploadFileByRoute(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                       tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                       bool autoConvert, std::string_view name) {
    if (autoConvert && IsConvertibleFile(path)) {
        try {
            UploadConverted(client, path, uploadUrl, document, listener, name);
            return;
        } catch (...) {
            // A cancelled upload is not retried: it would only open a session
            // on the service and fail at the first chunk.
            if (transferCancel.load()) throw std::runtime_error("File upload  failed.");
        }
        document.Clear();
    }
    UploadResumable(client, path, uploadUrl, document, listener, name);
}

void UploadFileByRoute(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                       tinyxml2::XMLDocument& document, TransferProgressListener* listener) {
    UploadFileByRoute(client, path, uploadUrl, document, listener,
                      ConfigFile().GetFileAutoConvert());
}

std::vector<std::string> BuildReplaceContentHeaders(std::string_view writelyToken,
                                                    std::uint64_t size, std::string_view mimeType) {
    return {"GData-Version:3.0", "Authorization:GoogleLogin auth=" + std::string(writelyToken),
            "Content-Length: " + std::to_string(size), "Content-Type: " + std::string(mimeType),
            // Whatever changed meanwhile: the user chose to replace what is there.
            "If-Match: *"};
}

void ReplaceEntryContent(ServiceClient& client, const std::string& path,
                         const std::string& editMediaUrl, tinyxml2::XMLDocument& document,
                         TransferProgressListener* listener) {
    const auto& token = client.Credentials().writelyToken;
    if (!token) RequireSignedIn();
    if (path.empty()) throw std::runtime_error("the file name is invalid!");
    if (editMediaUrl.empty()) throw std::runtime_error("Invalid Entry .");
    std::uint64_t size = 0;
    UniqueFd file = OpenForUpload(path, &size);
    if (size >= kMaxResumableUploadBytes) {
        throw std::runtime_error(
            "The size of this file is too large to upload: single file whose size is more than 1 "
            "GB is not allowed.");
    }
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();
    const std::string_view mimeType =
        MimeTypeForFile(FileNameFromPath(path)).value_or("application/octet-stream");
    CurlSlist headers;
    for (const std::string& line : BuildReplaceContentHeaders(*token, size, mimeType))
        headers.Append(line.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    ApplyTransportSecurity(handle);

    ResponseBuffer response;
    const long status = SendFileBody(handle, BodyMethod::Put, file, size, listener, editMediaUrl,
                                     response, "File upload  failed.");
    if (status != 200 && status != 201) throw std::runtime_error(ParseErrorBody(response.Text()));
    document.Clear();
    document.Parse(response.Text().data(), response.Text().size());
}

}  // namespace tallowdesk
