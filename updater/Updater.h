#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallowdesk::updater {

struct UpdaterArgs {
    int waitPid = 0;                         // the running program; 0 waits for nothing
    std::filesystem::path target;            // the executable to replace
    std::filesystem::path newProgram;        // the verified new one (in its private folder)
    std::chrono::milliseconds waitLimit{0};  // 0: wait as long as the program runs
    bool start = true;                       // start the new version afterwards
};

// Reads "--wait-pid N --target PATH --new PATH [--wait-limit-ms N] [--no-start]".
// Nothing on a missing or unknown argument.
std::optional<UpdaterArgs> ParseUpdaterArgs(const std::vector<std::string>& args);

// Waits for the program to end, keeps the old executable as
// "OldExecutable.bak" beside it, moves the new one into place in one rename
// (with the old one's permissions) and starts it. On any failure after the
// old executable was touched it is put back. The new program's private folder
// is removed in every case. Returns an empty text on success, else what went
// wrong (for the updater's standard error).
std::string RunUpdate(const UpdaterArgs& args);

}  // namespace tallowdesk::updater
