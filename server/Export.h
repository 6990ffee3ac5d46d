#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Store.h"

namespace tallowdesk::server {

// The format of a native entry's stored bytes: its uploaded type when it
// kept one, else HTML for documents and presentations, CSV for spreadsheets,
// SVG for drawings.
std::string StoredFormat(const StoredEntry& entry);
std::string FormatType(const std::string& format);  // MIME type of an export format

std::string ReadFileText(const std::string& path);
std::string HtmlToText(const std::string& html);
std::vector<std::vector<std::string>> ParseCsv(const std::string& csv);
std::string RowsToTsv(const std::vector<std::vector<std::string>>& rows);
std::string RowsToHtml(const std::string& title, const std::vector<std::vector<std::string>>& rows);

struct Converted {
    std::string folder;  // temporary, to be removed by the caller
    std::string file;
};
// Converts with LibreOffice when it is installed; otherwise (or when it
// fails) nothing, with the reason in `error`.
std::optional<Converted> ConvertWithOffice(const std::string& source,
                                           const std::string& sourceFormat,
                                           const std::string& format, std::string& error);

}  // namespace tallowdesk::server
