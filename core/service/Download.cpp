#include "Download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

#include "CurlHandles.h"
#include "FileHelpers.h"
#include "GDataRequests.h"
#include "ServiceClient.h"
#include "SignIn.h"
#include "TransferProgress.h"
#include "TransportSecurity.h"
#include "UniqueFd.h"

namespace tallowdesk {

namespace {
constexpr long kDownloadBufferBytes = 256 * 1024;
}  // namespace

namespace {

constexpr const char* kTransferFailed = "File Downloading/Exporting Failed.";
constexpr const char* kCreateFailed = "create file failed";
constexpr std::size_t kMaxTempStemBytes = 200;  // leaves room for the suffix within NAME_MAX
constexpr unsigned kTempAttempts = 100;

// The partial files of the downloads running now. Never freed: a transfer
// thread still running while the process exits may reach it.
struct PartialFiles {
    std::mutex mutex;
    std::set<std::string> paths;
};

PartialFiles& Partials() {
    static PartialFiles* partials = [] {
        auto* p = new PartialFiles;
        // Quit and window close end the process without waiting for the
        // transfer threads, whose guards then never run.
        std::atexit(RemoveUnfinishedDownloads);
        return p;
    }();
    return *partials;
}

// Removes the temporary file unless the download was committed.
class TempFileGuard {
public:
    explicit TempFileGuard(std::filesystem::path path) : m_path(std::move(path)) {
        PartialFiles& partials = Partials();
        std::lock_guard lock(partials.mutex);
        partials.paths.insert(m_path.string());
    }
    ~TempFileGuard() {
        if (!m_committed) ::unlink(m_path.c_str());
        PartialFiles& partials = Partials();
        std::lock_guard lock(partials.mutex);
        partials.paths.erase(m_path.string());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Commit() { m_committed = true; }

private:
    std::filesystem::path m_path;
    bool m_committed = false;
};

UniqueFd CreateTempFile(const std::filesystem::path& filePath, std::filesystem::path& tempPath) {
    for (unsigned attempt = 0; attempt < kTempAttempts; ++attempt) {
        tempPath = DownloadTempPath(filePath, attempt);
        UniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd) return fd;
        if (errno != EEXIST) break;
    }
    throw std::runtime_error(kCreateFailed);
}

// The service's reason for a refused download, from the error document it
// answered with (written to the temporary file like any body); at most the
// first 64 KiB are read, and anything that is no error document gives none.
std::string RefusalReason(const std::filesystem::path& tempPath) {
    constexpr std::size_t kMaxErrorBytes = 64 * 1024;
    UniqueFd fd(::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    std::string body(kMaxErrorBytes, '\0');
    const ssize_t got = ::pread(fd.get(), body.data(), body.size(), 0);
    if (got <= 0) return {};
    body.resize(static_cast<std::size_t>(got));
    return ParseErrorBody(body);
}

}  // namespace

std::string_view DefaultExportFormat(std::string_view kind) {
    if (kind == "document") return "doc";
    if (kind == "presentation") return "ppt";
    if (kind == "spreadsheet") return "xls";
    if (kind == "drawing") return "jpeg";
    return "html";
}

std::string DownloadRequestUrl(std::string_view url, std::string_view kind,
                               std::optional<std::string_view> exportFormat) {
    std::string request(url);
    if (kind == "pdf" || kind == "file") return request;
    const std::string_view format =
        exportFormat && !exportFormat->empty() ? *exportFormat : DefaultExportFormat(kind);
    // Content URLs of exportable entries carry a query already; one that does
    // not still gets a well-formed one.
    request += request.find('?') == std::string::npos ? "?" : "&";
    request += "exportFormat=" + PercentEncode(format);
    return request;
}

const std::vector<ExportFormat>& ExportTable() {
    static const std::vector<ExportFormat> table{
        {"document", "DOWNLOADDOC", "Microsoft Word", 32799, "doc"},
        {"document", "DOWNLOADDOC", "HTML Format", 32801, "html"},
        {"document", "DOWNLOADDOC", "JPEG", 32821, "jpeg"},
        {"document", "DOWNLOADDOC", "Open Document Format", 32802, "odt"},
        {"document", "DOWNLOADDOC", "PDF", 32803, "pdf"},
        {"document", "DOWNLOADDOC", "PNG", 32804, "png"},
        {"document", "DOWNLOADDOC", "Rich Format", 32805, "rtf"},
        {"document", "DOWNLOADDOC", "TXT File", 32807, "txt"},
        {"document", "DOWNLOADDOC", "Zip Archive", 32809, "zip"},
        {"presentation", "DOWNLOADPPT", "PDF", 40070, "pdf"},
        {"presentation", "DOWNLOADPPT", "PNG", 40071, "png"},
        {"presentation", "DOWNLOADPPT", "PowerPoint", 40072, "ppt"},
        {"presentation", "DOWNLOADPPT", "Flash Format", 40073, "swf"},
        {"presentation", "DOWNLOADPPT", "TXT File", 40078, "txt"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "Microsoft Excel", 32815, "xls"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "CSV", 32816, "csv"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "PDF", 32817, "pdf"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "Open Document Spreadsheet", 32818, "ods"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "TSV", 32819, "tsv"},
        {"spreadsheet", "DOWNLOADSPREADSHEET", "HTML Format", 32820, "html"},
        {"drawing", "DOWNLOADDRAW", "JPEG", 32822, "jpeg"},
        {"drawing", "DOWNLOADDRAW", "PDF", 32823, "pdf"},
        {"drawing", "DOWNLOADDRAW", "PNG", 32824, "png"},
        {"drawing", "DOWNLOADDRAW", "SVG", 32825, "svg"},
    };
    return table;
}

std::vector<ExportFormat> ExportFormatsForKind(std::string_view kind) {
    std::vector<ExportFormat> formats;
    for (const ExportFormat& format : ExportTable()) {
        if (format.kind == kind) formats.push_back(format);
    }
    return formats;
}

void RemoveUnfinishedDownloads() {
    PartialFiles& partials = Partials();
    std::lock_guard lock(partials.mutex);
    // A name is unique to its download: one already renamed into place is
    // simply not found.
    for (const std::string& path : partials.paths) ::unlink(path.c_str());
}

std::filesystem::path DownloadTempPath(const std::filesystem::path& filePath, unsigned attempt) {
    static std::atomic<unsigned> sequence{0};
    std::string stem = filePath.filename().string();
    if (stem.size() > kMaxTempStemBytes) stem.resize(kMaxTempStemBytes);
    const std::string name = "." + stem + ".tdpart-" + std::to_string(::getpid()) + "-" +
                             std::to_string(sequence.fetch_add(1)) + "-" + std::to_string(attempt);
    return filePath.parent_path() / name;
}

void DownloadEntry(ServiceClient& client, const std::string& url, std::string_view kind,
                   const std::filesystem::path& filePath, TransferProgressListener* listener,
                   std::optional<std::string_view> exportFormat) {
    const ServiceCredentials& credentials = client.Credentials();
    if (!credentials.writelyToken) RequireSignedIn();
    if (filePath.empty() || !filePath.has_filename()) {
        throw std::runtime_error("File name is invalid");
    }
    // Spreadsheets are exported by the spreadsheet service, with its token.
    const auto& token = kind == "spreadsheet" ? credentials.wiseToken : credentials.writelyToken;
    if (!token) RequireSignedIn();
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();

    ApplyTransportSecurity(handle);
    CurlSlist headers;
    headers.Append("GData-Version:3.0");
    headers.Append(("Authorization:GoogleLogin auth=" + *token).c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    const std::string request = DownloadRequestUrl(url, kind, exportFormat);
    curl_easy_setopt(handle, CURLOPT_URL, request.c_str());

    // A folder in the way would only make the final rename fail after the
    // whole transfer.
    std::error_code ec;
    if (std::filesystem::is_directory(filePath, ec)) throw std::runtime_error(kCreateFailed);
    std::filesystem::path tempPath;
    UniqueFd file = CreateTempFile(filePath, tempPath);
    TempFileGuard guard(tempPath);

    TransferProgress progress{file.get(), 0, listener, NowMilliseconds()};
    progress.writeBehind = true;
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteToFileWithProgress);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &progress);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // Larger pieces than libcurl's 16 KiB cut the per-callback cost (a write
    // and a progress report each) on fast local links.
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);

    if (curl_easy_perform(handle) != CURLE_OK) throw std::runtime_error(kTransferFailed);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    // Redirects are not followed, so a 3xx answer carries no file either:
    // its body must not be kept as the download.
    // The service says why (a conversion it cannot make, say): that goes
    // with the failure line.
    if (status >= 300) {
        std::string text = "File downloading/converting failed.";
        if (status < 400) throw std::runtime_error(text);
        if (const std::string reason = RefusalReason(tempPath); !reason.empty())
            text += " " + reason;
        throw std::runtime_error(text);
    }
    // Flushed before the rename, so a crash cannot swap a good file for an
    // empty one. Most of it is on disk already (write-behind while receiving).
    if (::fdatasync(file.get()) != 0 || !file.Close()) throw std::runtime_error(kTransferFailed);
    if (::rename(tempPath.c_str(), filePath.c_str()) != 0) throw std::runtime_error(kCreateFailed);
    guard.Commit();
}

}  // namespace tallowdesk
