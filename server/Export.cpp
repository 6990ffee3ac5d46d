#include "Export.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Crypto.h"
#include "HttpMessage.h"

extern char** environ;

namespace tallowdesk::server {

namespace fs = std::filesystem;

namespace {

const std::pair<const char*, const char*> kFormatTypes[] = {
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"rtf", "application/rtf"},
    {"sxw", "application/vnd.sun.xml.writer"},
    {"txt", "text/plain"},
    {"html", "text/html"},
    {"zip", "application/zip"},
    {"pdf", "application/pdf"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"svg", "image/svg+xml"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ods", "application/x-vnd.oasis.opendocument.spreadsheet"},
    {"csv", "text/csv"},
    {"tsv", "text/tab-separated-values"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"swf", "application/x-shockwave-flash"},
};

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const auto end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::string StoredFormat(const StoredEntry& entry) {
    if (!entry.mime.empty()) {
        for (const auto& [format, type] : kFormatTypes) {
            if (entry.mime == type) return format;
        }
    }
    if (entry.kind == "spreadsheet") return "csv";
    if (entry.kind == "drawing") return "svg";
    return "html";
}

std::string FormatType(const std::string& format) {
    for (const auto& [f, type] : kFormatTypes) {
        if (format == f) return type;
    }
    return "application/octet-stream";
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string HtmlToText(const std::string& html) {
    std::string out;
    bool inTag = false;
    std::string tag;
    for (std::size_t i = 0; i < html.size(); ++i) {
        const char c = html[i];
        if (inTag) {
            if (c == '>') {
                inTag = false;
                // Block ends become line ends, so paragraphs stay apart.
                std::string name = tag.substr(tag[0] == '/' ? 1 : 0);
                name = name.substr(0, name.find_first_of(" /\t"));
                for (char& ch : name)
                    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                if (name == "br" ||
                    ((tag[0] == '/') &&
                     (name == "p" || name == "div" || name == "li" || name == "tr" ||
                      (name.size() == 2 && name[0] == 'h' &&
                       std::isdigit(static_cast<unsigned char>(name[1])))))) {
                    out += '\n';
                }
                tag.clear();
            } else {
                tag += c;
            }
            continue;
        }
        if (c == '<') {
            inTag = true;
            continue;
        }
        if (c == '&') {
            static const std::pair<const char*, char> kEntities[] = {
                {"&amp;", '&'},   {"&lt;", '<'},   {"&gt;", '>'},  {"&quot;", '"'},
                {"&apos;", '\''}, {"&#39;", '\''}, {"&nbsp;", ' '}};
            bool matched = false;
            for (const auto& [entity, ch] : kEntities) {
                if (html.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                    out += ch;
                    i += std::char_traits<char>::length(entity) - 1;
                    matched = true;
                    break;
                }
            }
            if (matched) continue;
        }
        out += c;
    }
    return out;
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        any = true;
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(cell));
            cell.clear();
        } else if (c == '\n') {
            row.push_back(std::move(cell));
            cell.clear();
            rows.push_back(std::move(row));
            row.clear();
            any = false;
        } else if (c != '\r') {
            cell += c;
        }
    }
    if (any) {
        row.push_back(std::move(cell));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string RowsToTsv(const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i) out += '\t';
            for (char c : row[i]) out += (c == '\t' || c == '\n') ? ' ' : c;
        }
        out += '\n';
    }
    return out;
}

std::string RowsToHtml(const std::string& title,
                       const std::vector<std::vector<std::string>>& rows) {
    std::string out = "<!DOCTYPE html><html><head><meta charset='utf-8'><title>" +
                      XmlEscape(title) + "</title></head><body><table>";
    for (const auto& row : rows) {
        out += "<tr>";
        for (const auto& cell : row) out += "<td>" + XmlEscape(cell) + "</td>";
        out += "</tr>";
    }
    return out + "</table></body></html>";
}

std::optional<Converted> ConvertWithOffice(const std::string& source,
                                           const std::string& sourceFormat,
                                           const std::string& format, std::string& error) {
    const auto office = FindProgram("soffice");
    if (!office) {
        error = "Converting to " + format + " needs LibreOffice on the server.";
        return std::nullopt;
    }
    const fs::path folder = fs::path(source).parent_path() / (".export-" + RandomToken(20));
    fs::create_directories(folder);
    const fs::path input = folder / ("document." + sourceFormat);
    std::error_code ec;
    fs::create_symlink(source, input, ec);
    const std::string profile = "-env:UserInstallation=file://" + (folder / "profile").string();
    const std::string outdir = folder.string();
    std::vector<std::string> args = {*office, profile,    "--headless", "--convert-to",
                                     format,  "--outdir", outdir,       input.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (!ec && ::posix_spawn(&pid, office->c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    const fs::path output = folder / ("document." + format);
    if (status != 0 || !fs::exists(output)) {
        fs::remove_all(folder, ec);
        error = "LibreOffice could not convert this entry to " + format + ".";
        return std::nullopt;
    }
    return Converted{folder.string(), output.string()};
}

}  // namespace tallowdesk::server
