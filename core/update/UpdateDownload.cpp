#include "UpdateDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "ProcessLaunch.h"
#include "SignatureVerifier.h"
#include "UpdateCheck.h"
#include "UpdateTransfer.h"
#include "Version.h"

namespace tallowdesk {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSignatureBytes = 1024;

std::mutex handedOverLock;
std::string handedOver;  // guarded by handedOverLock
std::atomic<bool> installing{false};

// Holds the one install of this process for its lifetime.
class InstallClaim {
public:
    InstallClaim() : m_claimed(!installing.exchange(true)) {}
    ~InstallClaim() {
        if (m_claimed) installing = false;
    }
    InstallClaim(const InstallClaim&) = delete;
    InstallClaim& operator=(const InstallClaim&) = delete;
    bool Claimed() const { return m_claimed; }

private:
    bool m_claimed;
};

// Sole owner of a file descriptor opened for writing.
class OutputFile {
public:
    explicit OutputFile(const fs::path& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)) {}
    ~OutputFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::fsync(fd) == 0 && ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The private folder of one download; removed with everything in it unless
// kept for the updater.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& root) {
        std::string pattern = (root / "tallowdesk-update-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_path = pattern;  // mode 0700
    }
    ~StagingFolder() {
        if (!m_path.empty() && !m_keep) {
            std::error_code ignored;
            fs::remove_all(m_path, ignored);
        }
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const fs::path& Path() const { return m_path; }
    void Keep() { m_keep = true; }

private:
    fs::path m_path;
    bool m_keep = false;
};

enum class FileFetch { Ok, NotOpened, Broken };

FileFetch FetchToFile(const std::string& url, const fs::path& target, std::uint64_t maxBytes) {
    OutputFile out(target);
    if (!out.IsOpen()) return FileFetch::Broken;
    bool written = true;
    std::uint64_t total = 0;
    const auto fetched = update_detail::FetchUrl(url, [&](const char* data, std::size_t n) {
        total += n;
        written = total <= maxBytes && out.Write(data, n);
        return written;
    });
    const bool closed = out.Close();
    if (!fetched.opened) return FileFetch::NotOpened;
    return fetched.complete && written && closed ? FileFetch::Ok : FileFetch::Broken;
}

bool WriteSmallFile(const fs::path& target, const std::string& content) {
    OutputFile out(target);
    return out.IsOpen() && out.Write(content.data(), content.size()) && out.Close();
}

}  // namespace

UpdateInstallPlan DefaultInstallPlan(std::string version) {
    UpdateInstallPlan plan;
    plan.version = std::move(version);
    plan.runningVersion = RunningVersion();
    plan.folderUrl = UpdateFolderUrl();
    plan.executable = RunningExecutable();
    plan.publicKeyHex = BuiltInUpdateKey();
    std::error_code ec;
    plan.tempRoot = fs::temp_directory_path(ec);
    if (ec) plan.tempRoot = "/tmp";
    plan.updater = plan.executable.parent_path() / "tallowdesk-updater";
    plan.waitPid = static_cast<int>(::getpid());
    plan.launch = &LaunchDetached;
    return plan;
}

bool ExecutableIsUserWritable(const fs::path& executable) {
    if (executable.empty()) return false;
    return ::access(executable.c_str(), W_OK) == 0 &&
           ::access(executable.parent_path().c_str(), W_OK | X_OK) == 0;
}

std::string HandedOverVersion() {
    const std::lock_guard<std::mutex> lock(handedOverLock);
    return handedOver;
}

std::string VersionToBeat(const std::string& runningVersion) {
    std::string pending = HandedOverVersion();
    return !pending.empty() && CompareVersions(pending, runningVersion) == 1 ? pending
                                                                             : runningVersion;
}

UpdateInstallOutcome DownloadUpdate(const UpdateInstallPlan& plan) {
    UpdateInstallOutcome outcome;
    // Two dialogs (the silent offer and the menu's) may both ask.
    const InstallClaim claim;
    if (!claim.Claimed()) {
        outcome.result = UpdateInstallResult::AlreadyRunning;
        return outcome;
    }
    if (plan.runningVersion.empty() ||
        CompareVersions(plan.version, VersionToBeat(plan.runningVersion)) != 1) {
        outcome.result = UpdateInstallResult::NotNewer;
        return outcome;
    }
    const std::string name = plan.executable.filename().string();
    if (name.empty()) {
        outcome.result = UpdateInstallResult::OpenFailed;
        return outcome;
    }
    StagingFolder staging(plan.tempRoot);
    if (staging.Path().empty()) {
        outcome.result = UpdateInstallResult::DownloadFailed;
        return outcome;
    }
    const fs::path program = staging.Path() / name;
    const FileFetch fetched = FetchToFile(plan.folderUrl + name, program, plan.maxProgramBytes);
    if (fetched == FileFetch::NotOpened) {
        outcome.result = UpdateInstallResult::OpenFailed;
        return outcome;
    }
    if (fetched == FileFetch::Broken) {
        outcome.result = UpdateInstallResult::DownloadFailed;
        return outcome;
    }

    std::string signature;
    bool signatureFits = true;
    const auto signatureFetch = update_detail::FetchUrl(
        plan.folderUrl + name + ".sig", [&](const char* data, std::size_t n) {
            if (signature.size() + n > kMaxSignatureBytes) {
                signatureFits = false;
                return false;
            }
            signature.append(data, n);
            return true;
        });
    // Release notes are a courtesy: a missing "readme.txt" does not stop the update.
    const fs::path readme = staging.Path() / "readme.txt";
    if (FetchToFile(plan.folderUrl + "readme.txt", readme, plan.maxReadmeBytes) != FileFetch::Ok) {
        std::error_code ignored;
        fs::remove(readme, ignored);  // no half of one either
    }

    const SignatureVerifier verifier(plan.publicKeyHex);
    if (!signatureFetch.complete || !signatureFits ||
        !verifier.Verify(program, plan.version, signature)) {
        outcome.result = UpdateInstallResult::SignatureRefused;
        return outcome;
    }
    // The updater checks it again right before the swap, from this folder.
    if (!WriteSmallFile(staging.Path() / (name + ".sig"), signature)) {
        outcome.result = UpdateInstallResult::DownloadFailed;
        return outcome;
    }
    // Only a verified program becomes executable, in a folder only we can write.
    if (::chmod(program.c_str(), 0700) != 0) {
        outcome.result = UpdateInstallResult::DownloadFailed;
        return outcome;
    }

    std::error_code ignored;
    fs::remove(plan.executable.parent_path() / "OldExecutable.bak", ignored);
    const std::vector<std::string> argv = {plan.updater.string(),
                                           "--wait-pid",
                                           std::to_string(plan.waitPid),
                                           "--target",
                                           plan.executable.string(),
                                           "--new",
                                           program.string(),
                                           "--version",
                                           plan.version,
                                           "--running-version",
                                           plan.runningVersion};
    if (!plan.launch || !plan.launch(argv)) {
        outcome.result = UpdateInstallResult::StartFailed;
        return outcome;
    }
    // The updater removes the folder once the program is in place.
    staging.Keep();
    {
        const std::lock_guard<std::mutex> lock(handedOverLock);
        handedOver = plan.version;
    }
    outcome.result = UpdateInstallResult::Started;
    outcome.stagedProgram = program;
    return outcome;
}

}  // namespace tallowdesk
