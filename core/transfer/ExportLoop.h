#pragma once

#include <filesystem>
#include <string>

namespace tallowdesk {

class TransferOps;
class TransferProgressSink;

// One document to convert into a chosen format and save locally.
struct ExportRequest {
    std::string contentUrl;  // the entry's content src
    std::string title;
    std::string kind;
    std::string format;  // export format value, also the file extension
    std::filesystem::path destFolder;
};

inline constexpr const char* kExportFailedText = "File converting failed";

// Saves the export as destFolder/title.format. On any failure reports the one
// detail line "File converting failed" (the export window shows it as its
// message) and returns false. Calls sink.Finished() last. Leaves transferBusy
// alone: an export may run beside a download or upload.
//
// Synchronous: runs on the caller's thread.
bool RunExport(const ExportRequest& request, TransferOps& ops, TransferProgressSink& sink);

}  // namespace tallowdesk
