#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tallowdesk {

// Local names built by the transfers. Titles come from the service and are
// untrusted: a name made from one never leaves the folder it is put in.

// The title as one path component: "/" and NUL become "_"; "." becomes "_",
// ".." becomes "__" and an empty title "untitled". Everything else is kept
// byte for byte.
std::string SafeFileName(std::string_view title);

// The longest name a local file system takes (NAME_MAX).
inline constexpr std::size_t kMaxLocalNameBytes = 255;

// name when it fits kMaxLocalNameBytes; else cut to fit at a UTF-8 character
// boundary, keeping an extension (the last "." and up to 16 bytes after it).
std::string FitLocalName(std::string name);

// folder + "/" + name, without doubling a "/" the folder already ends with.
// An empty folder means the current directory (name alone).
std::filesystem::path JoinLocalPath(const std::filesystem::path& folder, std::string_view name);

// ".doc", ".ppt", ".xls", ".jpeg" for the four exportable kinds; "" otherwise
// (a stored file's title normally carries its own extension).
std::string_view ExtensionForKind(std::string_view kind);

// Where a plain download of an entry goes: folder, safe title, extension by
// kind, shortened by FitLocalName.
std::filesystem::path DownloadPath(const std::filesystem::path& folder, std::string_view title,
                                   std::string_view kind);

// Where an export goes: folder, safe title, ".", the format (also the
// extension), shortened by FitLocalName.
std::filesystem::path ExportPath(const std::filesystem::path& folder, std::string_view title,
                                 std::string_view format);

inline constexpr std::size_t kMaxUploadFolderNameChars = 128;

// The title of the remote folder made for a local one: the last component of
// localPath (trailing "/" ignored), cut to its first 128 characters (whole
// UTF-8 sequences, however many bytes each takes).
std::string UploadFolderName(const std::filesystem::path& localPath);

}  // namespace tallowdesk
