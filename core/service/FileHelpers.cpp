#include "FileHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace tallowdesk {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string FileNameFromPath(std::string_view path) {
    if (path.empty()) throw std::runtime_error("the filePath can not be empty");
    if (path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::uint64_t FileSizeOf(const std::string& path) {
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("create file failed. ");
    struct stat info {};
    const bool measured = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!measured) {
        throw std::runtime_error(
            "get file size failed. Note: only windows2000 and above are supported.");
    }
    // A folder opens fine here but is not a file whose size means anything.
    if (!S_ISREG(info.st_mode)) throw std::runtime_error("create file failed. ");
    return static_cast<std::uint64_t>(info.st_size);
}

std::int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FileExtension(std::string_view name) {
    if (name.empty()) throw std::runtime_error("the file name can not be empty");
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

std::string StripTrailingDot(std::string_view name) {
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return std::string(name);
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool DeleteFolderTree(const std::string& path) {
    if (!IsDirectory(path)) return true;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

}  // namespace tallowdesk
