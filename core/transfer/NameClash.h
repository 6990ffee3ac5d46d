#pragma once

#include <filesystem>
#include <functional>
#include <optional>

namespace tallowdesk {

// What to do when a transfer meets a name that is already taken, as file
// managers ask it: put the new one in its place (for a folder: fill the one
// that is there), keep both under a numbered name, or leave this one out.
enum class ClashChoice { Replace, KeepBoth, Skip };

struct ClashQuestion {
    std::filesystem::path path;  // the name that is taken
    bool folder = false;         // the incoming item is a folder
};

struct ClashAnswer {
    ClashChoice choice = ClashChoice::Skip;
    bool forAll = false;  // the same answer for every later clash of this kind
};

// Asks the user; called on the transfer thread, may block until answered.
using ClashAsker = std::function<ClashAnswer(const ClashQuestion&)>;

// One transfer's clash decisions: asks once per clash unless the user chose
// an answer for all files (or all folders), which then holds for the rest of
// this transfer only. Without an asker every clash keeps the behaviour that
// needs no question: files are replaced, folders refused. Transfer thread.
class ClashPolicy {
public:
    explicit ClashPolicy(ClashAsker asker = {}) : m_asker(std::move(asker)) {}
    // The choice for path, asking when needed; nullopt when there is nothing
    // to ask (no asker) so the caller keeps its own default.
    std::optional<ClashChoice> Decide(const std::filesystem::path& path, bool folder);

private:
    ClashAsker m_asker;
    std::optional<ClashChoice> m_allFiles;
    std::optional<ClashChoice> m_allFolders;
};

// The first free numbered variant of path: "name (2).ext", "name (3).ext",
// ... (a folder or a name without extension: "name (2)"). taken tells whether
// a candidate is in use; by default, whether it exists on disk.
std::filesystem::path NumberedFreeName(
    const std::filesystem::path& path, bool folder,
    const std::function<bool(const std::filesystem::path&)>& taken = {});

// A hidden sibling of path to write a replacement into, renamed over path
// only once it is complete, so a failed download never costs the old file.
std::filesystem::path ReplacementTempPath(const std::filesystem::path& path);

}  // namespace tallowdesk
