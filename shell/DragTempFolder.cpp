#include "DragTempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <system_error>

namespace tallowdesk::shell {
namespace fs = std::filesystem;

namespace {

bool IsUsableDirectory(const fs::path& p) {
    std::error_code ec;
    return !p.empty() && fs::is_directory(fs::symlink_status(p, ec)) && !ec;
}

// A new folder only this user can enter. An existing one is never taken
// over: another user may have made it first, to read or plant files.
bool MakePrivateFolder(const fs::path& p) {
    if (::mkdir(p.c_str(), 0700) != 0) return false;
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

bool DragTempFolder::RemoveTree(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !ec && !fs::exists(fs::symlink_status(path, ec));
}

DragTempFolder::DragTempFolder(std::optional<fs::path> base, std::function<std::string()> suffix,
                               std::function<bool(const fs::path&)> removeTree)
    : m_base(std::move(base)), m_suffix(std::move(suffix)), m_removeTree(std::move(removeTree)) {}

std::optional<fs::path> DragTempFolder::SystemBase() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
        if (IsUsableDirectory(runtime)) return fs::path(runtime);
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec || !IsUsableDirectory(temp)) return std::nullopt;
    return temp;
}

std::string DragTempFolder::RandomSuffix() {
    static constexpr char kChars[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxy";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kChars) - 2);
    std::string out;
    for (int i = 0; i < 5; ++i) out += kChars[pick(device)];
    return out;
}

std::optional<fs::path> DragTempFolder::Prepare() {
    if (!m_base || !IsUsableDirectory(*m_base)) return std::nullopt;
    // A suffixed folder of an earlier drag goes too when it can.
    if (m_last && m_last->filename() != "tallowdeskTemp") m_removeTree(*m_last);
    fs::path folder = *m_base / "tallowdeskTemp";
    if (!m_removeTree(folder)) folder = *m_base / ("tallowdeskTemp" + m_suffix());
    if (!MakePrivateFolder(folder)) {
        std::string pattern = (*m_base / "tallowdeskTemp-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return std::nullopt;
        folder = pattern;
    }
    m_last = folder;
    return folder;
}

}  // namespace tallowdesk::shell
