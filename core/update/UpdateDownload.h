#pragma once

#include <cstdint>
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
    AlreadyRunning = 10,   // another install of this program is under way
    NotNewer = 11,         // the offered version is not newer than the running or installed one
};

// Everything one install needs; the defaults describe the running program.
struct UpdateInstallPlan {
    std::string version;               // the offered version, as "update.txt" gave it
    std::string runningVersion;        // RunningVersion()
    std::string folderUrl;             // UpdateFolderUrl()
    std::filesystem::path executable;  // the program to replace
    std::string publicKeyHex;          // BuiltInUpdateKey()
    std::filesystem::path tempRoot;    // parent of the private download folder
    std::filesystem::path updater;     // "tallowdesk-updater" beside the executable
    int waitPid = 0;                   // the process the updater waits for
    // A download that grows past this is no release of ours.
    std::uint64_t maxProgramBytes = std::uint64_t{256} << 20;
    // Release notes are a page of text; more is dropped, the update goes on.
    std::uint64_t maxReadmeBytes = std::uint64_t{1} << 20;
    // Starts the updater (argv[0] is its path); LaunchDetached by default.
    std::function<bool(const std::vector<std::string>&)> launch;
};

UpdateInstallPlan DefaultInstallPlan(std::string version);

struct UpdateInstallOutcome {
    UpdateInstallResult result = UpdateInstallResult::OpenFailed;
    std::filesystem::path stagedProgram;  // the verified new program (Started only)
};

// Refuses a version not newer than the running one (or than one already
// handed over in this run), and a second install while one runs. Else fetches
// the new program (the executable's file name in the update folder, at most
// maxProgramBytes), its signature (the same name + ".sig") and "readme.txt"
// (at most maxReadmeBytes, else left out)
// into a private folder of tempRoot, verifies the signature over the version
// and the file, and only then marks the program executable, removes
// "OldExecutable.bak" beside the executable and starts the updater with the
// version and the running one (it verifies again right before the swap). On any failure the
// private folder is removed, so nothing executable is left behind.
// Synchronous; run it on a worker.
UpdateInstallOutcome DownloadUpdate(const UpdateInstallPlan& plan);

// The version handed to the updater in this run; empty before. The program
// keeps running the old version until it is restarted, so checks compare with
// this too and the update just installed is not offered again.
std::string HandedOverVersion();

// The version a published one must be newer than: the running one, or the
// one handed over in this run when that is newer.
std::string VersionToBeat(const std::string& runningVersion);

// Whether the user may replace the executable (it and its folder writable).
// A program the system's package manager installed is not, and is updated
// through that instead.
bool ExecutableIsUserWritable(const std::filesystem::path& executable);

}  // namespace tallowdesk
