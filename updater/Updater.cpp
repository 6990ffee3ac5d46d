#include "Updater.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <thread>
#include <utility>

#include "update/ProcessLaunch.h"
#include "update/SignatureVerifier.h"
#include "update/Version.h"

namespace tallowdesk::updater {

namespace fs = std::filesystem;

namespace {

bool ParseInt(const std::string& text, long long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// A process that has ended but was not yet reaped by its parent still
// answers kill(pid, 0): its state in /proc tells.
bool ProcessRuns(int pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

bool WaitForExit(int pid, std::chrono::milliseconds limit) {
    if (pid <= 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ProcessRuns(pid)) {
        if (limit.count() > 0 && std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Sole owner of a file descriptor.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool WriteAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t w = ::write(fd, data, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

// Copies the open file in into a new file at to (same folder as the target,
// so the final rename stays on one file system), flushed to disk; digest, when
// given, sees exactly the bytes written.
bool CopyFlushed(int in, const fs::path& to, mode_t mode, Sha512Stream* digest) {
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) return false;
    char block[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, block, sizeof block);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (digest && !digest->Update(block, static_cast<std::size_t>(n))) return false;
        if (!WriteAllTo(out.get(), block, static_cast<std::size_t>(n))) return false;
    }
    if (::fchmod(out.get(), mode) != 0 || ::fsync(out.get()) != 0) return false;
    return ::close(out.release()) == 0;
}

bool CopyFlushed(const fs::path& from, const fs::path& to, mode_t mode) {
    const Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    return in.get() >= 0 && CopyFlushed(in.get(), to, mode, nullptr);
}

// Opens the folder of the new program, refusing a link, and keeps it only
// when no one else can change what is in it: a folder owned by us with no
// access for group or others. Files are then opened relative to this very
// folder, so swapping the path afterwards changes nothing.
int OpenPrivateFolder(const fs::path& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return -1;
    return fd.release();
}

// Opens a regular file of ours in that folder without following a link.
int OpenOwnFile(int folder, const std::string& name) {
    Fd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 022) != 0)
        return -1;
    return fd.release();
}

std::string ReadSignature(int folder, const std::string& name) {
    const Fd fd(OpenOwnFile(folder, name));
    if (fd.get() < 0) return {};
    std::string signature(SignatureVerifier::kSignatureBytes + 1, '\0');
    std::size_t got = 0;
    while (got < signature.size()) {
        const ssize_t n = ::read(fd.get(), signature.data() + got, signature.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    signature.resize(got);  // one byte too many makes it malformed
    return signature;
}

// Holds an exclusive lock on a file beside the target: a second updater for
// the same program gives up instead of racing on the same temporary name.
class UpdateLock {
public:
    explicit UpdateLock(const fs::path& file)
        : m_fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
        m_held = m_fd.get() >= 0 && ::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0;
    }
    bool Held() const { return m_held; }

private:
    Fd m_fd;
    bool m_held = false;
};

void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

struct FolderRemover {
    fs::path folder;
    ~FolderRemover() {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }
};

}  // namespace

std::optional<UpdaterArgs> ParseUpdaterArgs(const std::vector<std::string>& args) {
    UpdaterArgs out;
    out.publicKeyHex = BuiltInUpdateKey();
    out.installedVersion = RunningVersion();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-start") {
            out.start = false;
            continue;
        }
        if (i + 1 >= args.size()) return std::nullopt;
        const std::string& value = args[++i];
        long long number = 0;
        if (arg == "--wait-pid") {
            if (!ParseInt(value, number) || number < 0) return std::nullopt;
            out.waitPid = static_cast<int>(number);
        } else if (arg == "--wait-limit-ms") {
            if (!ParseInt(value, number) || number < 0) return std::nullopt;
            out.waitLimit = std::chrono::milliseconds(number);
        } else if (arg == "--target") {
            out.target = value;
        } else if (arg == "--new") {
            out.newProgram = value;
        } else if (arg == "--version") {
            out.version = value;
        } else if (arg == "--running-version") {
            // The program may be newer than this updater (only the program is
            // replaced); the newer of the two is the one to beat.
            if (CompareVersions(value, out.installedVersion) == 1) out.installedVersion = value;
        } else {
            return std::nullopt;
        }
    }
    if (out.target.empty() || out.newProgram.empty() || out.version.empty()) return std::nullopt;
    return out;
}

std::string RunUpdate(const UpdaterArgs& args) {
    const fs::path folder = args.target.parent_path();
    // Before anything else: a second updater must not touch the first one's
    // files, not even the download folder it is about to install from.
    const UpdateLock lock(folder / ".tallowdesk-update.lock");
    if (!lock.Held()) return "another update of " + args.target.string() + " is running";
    // The new program sits alone in the private folder the download made
    // for it; only such a folder is removed afterwards.
    const fs::path from = args.newProgram.parent_path();
    const FolderRemover staging{
        from.filename().string().rfind("tallowdesk-update-", 0) == 0 ? from : fs::path()};
    if (!WaitForExit(args.waitPid, args.waitLimit)) return "the program did not end";

    // What was verified at download time may have changed since: everything
    // is checked again here, on the bytes that go into place.
    if (CompareVersions(args.version, args.installedVersion) != 1)
        return "version " + args.version + " is not newer than " + args.installedVersion;
    const Fd source(OpenPrivateFolder(from));
    if (source.get() < 0) return "the new program's folder is not private to this user";
    const std::string name = args.newProgram.filename().string();
    const std::string signature = ReadSignature(source.get(), name + ".sig");
    const Fd in(OpenOwnFile(source.get(), name));
    if (in.get() < 0) return "cannot read " + args.newProgram.string();

    struct stat old {};
    if (::stat(args.target.c_str(), &old) != 0) return "cannot read " + args.target.string();
    const fs::path backup = folder / "OldExecutable.bak";
    const fs::path incoming = folder / ".tallowdesk-update.new";

    std::error_code ec;
    fs::remove(incoming, ec);
    Sha512Stream digest;
    // Not executable until its signature held.
    if (!CopyFlushed(in.get(), incoming, 0600, &digest)) {
        fs::remove(incoming, ec);
        return "cannot write the new program beside " + args.target.string();
    }
    if (!SignatureVerifier(args.publicKeyHex)
             .VerifyDigest(digest.Final(), args.version, signature)) {
        fs::remove(incoming, ec);
        return "the new program's signature does not hold; nothing was replaced";
    }
    if (::chmod(incoming.c_str(), old.st_mode & 07777) != 0) {
        fs::remove(incoming, ec);
        return "cannot give the new program the old one's permissions";
    }
    // The old program stays reachable under both names until the new one is
    // in place, so there is no moment without an executable.
    fs::remove(backup, ec);
    if (::link(args.target.c_str(), backup.c_str()) != 0 &&
        !CopyFlushed(args.target, backup, old.st_mode & 07777)) {
        fs::remove(incoming, ec);
        return "cannot keep the old program as " + backup.string();
    }
    if (::rename(incoming.c_str(), args.target.c_str()) != 0) {
        fs::remove(incoming, ec);
        return "cannot move the new program into place";
    }
    SyncFolder(folder);
    if (args.start && !LaunchDetached({args.target.string()})) {
        // The new one does not start: put the old one back.
        ::rename(backup.c_str(), args.target.c_str());
        SyncFolder(folder);
        return "cannot start the new program; the old one is back";
    }
    return {};
}

}  // namespace tallowdesk::updater
