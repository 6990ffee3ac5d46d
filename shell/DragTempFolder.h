#pragma once

#include <QtGlobal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tallowdesk::shell {

// The private folder that rows dragged out of the list are downloaded into
// at the drop: "tallowdeskTemp" under the base folder. Each drag removes the
// previous one with its files; when that fails the name gets a random
// five-character suffix. Plain class, UI thread.
class DragTempFolder {
public:
    // suffix makes the random part and removeTree removes a folder with all
    // it holds, true when nothing is left (both replaced by tests).
    explicit DragTempFolder(
        std::optional<std::filesystem::path> base,
        std::function<std::string()> suffix = RandomSuffix,
        std::function<bool(const std::filesystem::path&)> removeTree = RemoveTree);

    // The folder for a new drag, emptied and created; nothing when it cannot
    // be had (the drag must not start then).
    std::optional<std::filesystem::path> Prepare();

    // The user's runtime folder when it is usable, else the system's
    // temporary folder; nothing when neither exists.
    static std::optional<std::filesystem::path> SystemBase();
    // Five characters out of digits and letters.
    static std::string RandomSuffix();
    static bool RemoveTree(const std::filesystem::path& folder);

private:
    std::optional<std::filesystem::path> m_base;
    std::function<std::string()> m_suffix;
    std::function<bool(const std::filesystem::path&)> m_removeTree;
    std::optional<std::filesystem::path> m_last;  // the previous drag's folder
};

inline constexpr const char* kTempPathFailedText =
    QT_TRANSLATE_NOOP("DragTempFolder", " Cannot get/access temp path.");

}  // namespace tallowdesk::shell
