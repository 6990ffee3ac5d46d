#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallowdesk {

// Small text and file helpers of the transfer code. Local paths are POSIX
// paths: only "/" separates; a backslash is an ordinary file-name character.

// Replaces every occurrence of from by to, scanning left to right; inserted
// text is never searched again. An empty from leaves text unchanged.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Last component of path, after dropping one trailing "/". Throws on an empty path.
std::string FileNameFromPath(std::string_view path);

// Size in bytes of the regular file at path. Throws when it cannot be opened
// or measured.
std::uint64_t FileSizeOf(const std::string& path);

// Wall-clock time in milliseconds since the Unix epoch.
std::int64_t NowMilliseconds();

// Text after the last "." of name; empty when there is none. Throws on an empty name.
std::string FileExtension(std::string_view name);

// name without its final "." (only when it ends with one).
std::string StripTrailingDot(std::string_view name);

bool IsDirectory(const std::string& path);

// Removes the folder and everything below it. A path that is not an existing
// folder counts as done.
bool DeleteFolderTree(const std::string& path);

}  // namespace tallowdesk
