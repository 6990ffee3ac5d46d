#pragma once

#include <optional>
#include <string>

namespace tallowdesk::server {

// A lock on a file of the data folder (flock), let go when the object goes.
// Every running service process holds it shared for as long as it runs; the
// clean-up at start holds it exclusively, which it only gets when no other
// process is running on the folder. flock locks belong to the open file,
// so two holders in one process exclude each other like two processes.
class FolderLock {
public:
    // The exclusive lock, or nothing at once when somebody holds it.
    static std::optional<FolderLock> TryExclusive(const std::string& path);
    // The shared lock, waiting while an exclusive holder finishes.
    static FolderLock Shared(const std::string& path);
    // The exclusive lock, waiting while anybody else holds it.
    static FolderLock Exclusive(const std::string& path);

    ~FolderLock();
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    explicit FolderLock(int fd) : m_fd(fd) {}
    static FolderLock Wait(const std::string& path, int operation);
    int m_fd = -1;
};

// The lock file of a data folder.
std::string LiveLockPath(const std::string& dataDir);
// Held exclusively while a process sets the folder up (database schema,
// paging secret, certificate), so processes started together do it once.
std::string SetupLockPath(const std::string& dataDir);

}  // namespace tallowdesk::server
