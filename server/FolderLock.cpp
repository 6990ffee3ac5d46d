#include "FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace tallowdesk::server {

namespace {

int OpenLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("Cannot open the lock file " + path);
    return fd;
}

}  // namespace

std::optional<FolderLock> FolderLock::TryExclusive(const std::string& path) {
    const int fd = OpenLockFile(path);
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FolderLock(fd);
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return std::nullopt;
    throw std::runtime_error("Cannot lock " + path);
}

FolderLock FolderLock::Shared(const std::string& path) {
    return Wait(path, LOCK_SH);
}

FolderLock FolderLock::Exclusive(const std::string& path) {
    return Wait(path, LOCK_EX);
}

FolderLock FolderLock::Wait(const std::string& path, int operation) {
    const int fd = OpenLockFile(path);
    int rc;
    while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        ::close(fd);
        throw std::runtime_error("Cannot lock " + path);
    }
    return FolderLock(fd);
}

FolderLock::~FolderLock() {
    if (m_fd >= 0) ::close(m_fd);
}

FolderLock::FolderLock(FolderLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

std::string LiveLockPath(const std::string& dataDir) {
    return (std::filesystem::path(dataDir) / "live.lock").string();
}

std::string SetupLockPath(const std::string& dataDir) {
    return (std::filesystem::path(dataDir) / "setup.lock").string();
}

}  // namespace tallowdesk::server
