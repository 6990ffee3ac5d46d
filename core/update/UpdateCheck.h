#pragma once

#include <string>
#include <string_view>

namespace tallowdesk {

// What the check found; the numbers are the program's result codes.
enum class UpdateCheckResult {
    Available = 1,         // a newer version is published
    NoConnection = 2,      // no connection could be set up
    OpenFailed = 3,        // "update.txt" could not be fetched (or not with 200)
    NothingRead = 4,       // it was empty
    NoRunningVersion = 6,  // the running program has no version
    NotNewer = 7,          // not newer, or a version text is not well formed
};

struct UpdateCheckOutcome {
    UpdateCheckResult result = UpdateCheckResult::NoConnection;
    std::string publishedVersion;  // the text of "update.txt" as compared
};

// "https://" + UpdateHost + "/updatefiles/": where "update.txt", the program,
// its signature and "readme.txt" are published.
std::string UpdateFolderUrl();

// Reads folderUrl + "update.txt" (at most 4096 bytes) and compares it with
// runningVersion. Synchronous; run it on a worker.
UpdateCheckOutcome CheckForUpdate(const std::string& folderUrl, const std::string& runningVersion);

// The decision on texts already read: exposed so the rules are tested apart
// from the network. published is used as read: a line break makes it
// malformed.
UpdateCheckOutcome JudgeUpdateText(std::string_view published, std::string_view runningVersion);

}  // namespace tallowdesk
