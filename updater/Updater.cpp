#include "Updater.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <thread>

#include "update/ProcessLaunch.h"

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

// Copies from into a new file at to (same folder as the target, so the final
// rename stays on one file system), flushed to disk.
bool CopyFlushed(const fs::path& from, const fs::path& to, mode_t mode) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char block[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, block, sizeof block);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, block + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    ok = ok && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    ::close(in);
    return ok;
}

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
        } else {
            return std::nullopt;
        }
    }
    if (out.target.empty() || out.newProgram.empty()) return std::nullopt;
    return out;
}

std::string RunUpdate(const UpdaterArgs& args) {
    // The new program sits alone in the private folder the download made
    // for it; only such a folder is removed afterwards.
    const fs::path from = args.newProgram.parent_path();
    const FolderRemover staging{
        from.filename().string().rfind("tallowdesk-update-", 0) == 0 ? from : fs::path()};
    if (!WaitForExit(args.waitPid, args.waitLimit)) return "the program did not end";

    struct stat old {};
    if (::stat(args.target.c_str(), &old) != 0) return "cannot read " + args.target.string();
    const fs::path folder = args.target.parent_path();
    const fs::path backup = folder / "OldExecutable.bak";
    const fs::path incoming = folder / ".tallowdesk-update.new";

    std::error_code ec;
    fs::remove(incoming, ec);
    if (!CopyFlushed(args.newProgram, incoming, old.st_mode & 07777)) {
        fs::remove(incoming, ec);
        return "cannot write the new program beside " + args.target.string();
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
