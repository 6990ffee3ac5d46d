#include "TransferNames.h"

namespace tallowdesk {

std::string SafeFileName(std::string_view title) {
    if (title.empty()) return "untitled";
    // "." and ".." would name the folder itself or its parent.
    if (title == ".") return "_";
    if (title == "..") return "__";
    std::string name(title);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    return name;
}

namespace {

std::size_t CharacterBoundaryAtOrBefore(std::string_view text, std::size_t at) {
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

}  // namespace

std::string FitLocalName(std::string name) {
    if (name.size() <= kMaxLocalNameBytes) return name;
    constexpr std::size_t kMaxExtensionBytes = 16;
    std::string extension;
    if (const std::size_t dot = name.rfind('.');
        dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxExtensionBytes + 1)
        extension = name.substr(dot);
    name.resize(CharacterBoundaryAtOrBefore(name, kMaxLocalNameBytes - extension.size()));
    return name + extension;
}

std::filesystem::path JoinLocalPath(const std::filesystem::path& folder, std::string_view name) {
    std::string text = folder.native();
    if (!text.empty() && text.back() != '/') text += '/';
    text += name;
    return std::filesystem::path(std::move(text));
}

std::string_view ExtensionForKind(std::string_view kind) {
    if (kind == "document") return ".doc";
    if (kind == "presentation") return ".ppt";
    if (kind == "spreadsheet") return ".xls";
    if (kind == "drawing") return ".jpeg";
    return "";
}

std::filesystem::path DownloadPath(const std::filesystem::path& folder, std::string_view title,
                                   std::string_view kind) {
    return JoinLocalPath(folder,
                         FitLocalName(SafeFileName(title) + std::string(ExtensionForKind(kind))));
}

std::filesystem::path ExportPath(const std::filesystem::path& folder, std::string_view title,
                                 std::string_view format) {
    // The format comes from a fixed table, but it ends up in a path too.
    std::string extension(format);
    for (char& c : extension)
        if (c == '/' || c == '\0') c = '_';
    return JoinLocalPath(folder, FitLocalName(SafeFileName(title) + "." + extension));
}

std::string UploadFolderName(const std::filesystem::path& localPath) {
    std::string text = localPath.native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const std::size_t slash = text.rfind('/');
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    // Count characters, not bytes: a byte limit cuts non-ASCII names early.
    // Each character starts at a byte that is not a continuation byte.
    std::size_t chars = 0;
    for (std::size_t at = 0; at < name.size(); ++at) {
        if ((static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) continue;
        if (++chars > kMaxUploadFolderNameChars) {
            name.resize(at);
            break;
        }
    }
    return name;
}

}  // namespace tallowdesk
