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
    std::string version;                     // its version, signed with it
    std::string publicKeyHex;                // BuiltInUpdateKey()
    std::string installedVersion;            // the newer of this build's and the running one
    std::chrono::milliseconds waitLimit{0};  // 0: wait as long as the program runs
    bool start = true;                       // start the new version afterwards
};

// Reads "--wait-pid N --target PATH --new PATH --version V
// [--running-version V] [--wait-limit-ms N] [--no-start]"; the key is this
// build's. Nothing on a missing or unknown argument.
std::optional<UpdaterArgs> ParseUpdaterArgs(const std::vector<std::string>& args);

// One update at a time: holds a lock beside the target for its whole run.
// Waits for the program to end; then refuses a new program that is not in a
// folder only this user owns and can write (0700), a version not newer than
// the installed one, and a file whose signature (with the version, from the
// ".sig" beside it) does not hold: the bytes are verified as they are copied
// beside the target, right before the swap. Keeps the old executable as
// "OldExecutable.bak" beside it, moves the new one into place in one rename
// (with the old one's permissions) and starts it. On any failure after the
// old executable was touched it is put back. The new program's private folder
// is removed in every case but the lock held by another updater. Returns an empty text on success,
// else what went wrong (for the updater's standard error).
std::string RunUpdate(const UpdaterArgs& args);

}  // namespace tallowdesk::updater
