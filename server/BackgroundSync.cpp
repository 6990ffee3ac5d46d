#include "BackgroundSync.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <utility>

namespace tallowdesk::server {

BackgroundSync::BackgroundSync(int fd, SyncFunction sync)
    : m_fd(fd),
      m_sync(sync ? std::move(sync) : SyncFunction([](int f) { return ::fdatasync(f); })) {}

BackgroundSync::~BackgroundSync() {
    Stop();
}

void BackgroundSync::Written(std::uint64_t bytes) {
#ifdef __linux__
    if (bytes - m_writeBackStarted >= kWriteBackStep) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_writeBackStarted),
                          static_cast<off_t>(bytes - m_writeBackStarted), SYNC_FILE_RANGE_WRITE);
        m_writeBackStarted = bytes;
    }
#endif
    if (bytes - m_requested < kStep) return;
    m_requested = bytes;
    {
        std::lock_guard lock(m_mutex);
        if (m_stop) return;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                // No thread: the one sync at the end does it all, as it would anyway.
                m_stop = true;
                return;
            }
        }
        m_target = bytes;
    }
    m_wake.notify_one();
}

bool BackgroundSync::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard lock(m_mutex);
    return !m_failed;
}

void BackgroundSync::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_target > m_synced; });
        if (m_stop) return;  // what is left is the caller's own sync
        const std::uint64_t target = m_target;
        lock.unlock();
        const int result = m_sync(m_fd);
        lock.lock();
        if (result != 0) m_failed = true;
        m_synced = target;
    }
}

}  // namespace tallowdesk::server
