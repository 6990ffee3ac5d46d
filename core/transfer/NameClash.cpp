#include "NameClash.h"

#include <string>
#include <system_error>

#include "TransferNames.h"

namespace tallowdesk {

namespace fs = std::filesystem;

namespace {

// text cut to at most bytes, never inside a UTF-8 character.
std::string CutTo(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    text.resize(bytes);
    return text;
}

}  // namespace

std::optional<ClashChoice> ClashPolicy::Decide(const fs::path& path, bool folder) {
    std::optional<ClashChoice>& all = folder ? m_allFolders : m_allFiles;
    if (all) return all;
    if (!m_asker) return std::nullopt;
    const ClashAnswer answer = m_asker(ClashQuestion{path, folder});
    if (answer.forAll) all = answer.choice;
    return answer.choice;
}

fs::path NumberedFreeName(const fs::path& path, bool folder,
                          const std::function<bool(const fs::path&)>& taken) {
    const auto inUse = [&taken](const fs::path& p) {
        if (taken) return taken(p);
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec));
    };
    const fs::path name = path.filename();
    // A folder's dots are part of its name; ".profile" has no extension.
    std::string stem = folder ? name.string() : name.stem().string();
    std::string extension = folder ? std::string() : name.extension().string();
    if (extension.size() > 17) {  // not an extension a person would keep apart
        stem = name.string();
        extension.clear();
    }
    for (unsigned n = 2;; ++n) {
        const std::string number = " (" + std::to_string(n) + ")";
        // The number must survive a name at the file system's limit.
        const std::size_t room = kMaxLocalNameBytes - number.size() - extension.size();
        fs::path candidate = path.parent_path() / (CutTo(stem, room) + number + extension);
        if (!inUse(candidate)) return candidate;
    }
}

fs::path ReplacementTempPath(const fs::path& path) {
    const std::string suffix = ".part";
    return path.parent_path() /
           ("." + CutTo(path.filename().string(), kMaxLocalNameBytes - 1 - suffix.size()) + suffix);
}

}  // namespace tallowdesk
