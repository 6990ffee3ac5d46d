#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tallowdesk {

// How the download and hand-over ended; the numbers are the program's
// result codes (Started is 0, everything else means "Upgrade failed").
enum class UpdateInstallResult {
    Started = 0,           // verified, staged, and the updater is running
    OpenFailed = 3,        // the new program could not be fetched (or not with 200)
    DownloadFailed = 5,    // its download broke off or could not be stored
    StartFailed = 8,       // the updater could not be started
    SignatureRefused = 9,  // missing, malformed or wrong signature
};

// Everything one install needs; the defaults describe the running program.
struct UpdateInstallPlan {
    std::string folderUrl;             // UpdateFolderUrl()
    std::filesystem::path executable;  // the program to replace
    std::string publicKeyHex;          // BuiltInUpdateKey()
    std::filesystem::path tempRoot;    // parent of the private download folder
    std::filesystem::path updater;     // "tallowdesk-updater" beside the executable
    int waitPid = 0;                   // the process the updater waits for
    // Starts the updater (argv[0] is its path); LaunchDetached by default.
    std::function<bool(const std::vector<std::string>&)> launch;
};

UpdateInstallPlan DefaultInstallPlan();

struct UpdateInstallOutcome {
    UpdateInstallResult result = UpdateInstallResult::OpenFailed;
    std::filesystem::path stagedProgram;  // the verified new program (Started only)
};

// Fetches the new program (the executable's file name in the update folder),
// its signature (the same name + ".sig") and "readme.txt" into a private
// folder of tempRoot, verifies the signature, and only then marks the program
// executable, removes "OldExecutable.bak" beside the executable and starts the
// updater. On any failure the private folder is removed, so nothing
// executable is left behind. Synchronous; run it on a worker.
UpdateInstallOutcome DownloadUpdate(const UpdateInstallPlan& plan);

// Whether the user may replace the executable (it and its folder writable).
// A program the system's package manager installed is not, and is updated
// through that instead.
bool ExecutableIsUserWritable(const std::filesystem::path& executable);

}  // namespace tallowdesk
