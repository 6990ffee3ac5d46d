#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowdesk {

class ServiceClient;
class TransferProgressListener;

// Downloads and exports of one entry into a local file. Synchronous; runs on a
// transfer worker. The body is streamed to disk chunk by chunk under a
// temporary name in the target folder and renamed to filePath only when the
// whole body arrived with a good status; on any failure or cancel the
// temporary file is removed and a file already at filePath stays untouched.
// Progress goes to the listener (may be null); transferCancel stops the
// transfer at the next chunk. Failures throw std::runtime_error with a message
// for the user.
//
// url is the entry's content URL; kind its kind ("document", "file", ...).
// Kinds "pdf" and "file" are fetched as stored; every other kind is exported
// in exportFormat, or in its default format when none (or an empty one) is given.
void DownloadEntry(ServiceClient& client, const std::string& url, std::string_view kind,
                   const std::filesystem::path& filePath, TransferProgressListener* listener,
                   std::optional<std::string_view> exportFormat = std::nullopt);

// The URL DownloadEntry requests.
std::string DownloadRequestUrl(std::string_view url, std::string_view kind,
                               std::optional<std::string_view> exportFormat);

// Default export format of a kind: "doc", "ppt", "xls", "jpeg" for the four
// exportable kinds, "html" for any other.
std::string_view DefaultExportFormat(std::string_view kind);

// One entry of an export menu. value is the format sent to the service and
// also the extension of the local file.
struct ExportFormat {
    std::string_view kind;
    std::string_view menu;
    std::string_view label;
    int commandId;
    std::string_view value;
};

// Every export menu entry, grouped by kind in menu order.
const std::vector<ExportFormat>& ExportTable();
// The menu entries offered for a kind, in menu order; empty for kinds that
// cannot be exported.
std::vector<ExportFormat> ExportFormatsForKind(std::string_view kind);

// Removes the hidden partial files of the downloads still running; their
// threads then fail at the end instead of leaving a file. Runs at exit too.
void RemoveUnfinishedDownloads();

// Where the body is streamed before it is renamed to filePath: a hidden,
// unique name in the same folder. Exposed for tests.
std::filesystem::path DownloadTempPath(const std::filesystem::path& filePath, unsigned attempt);

}  // namespace tallowdesk
