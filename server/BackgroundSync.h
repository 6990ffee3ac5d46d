#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tallowdesk::server {

// Has the disk take a file while it is still being written, so the sync
// that must come before the answer waits for the last stretch only. Write-
// back of each kWriteBackStep is started on the writing thread, and a thread
// of its own syncs the file each time another kStep bytes were written: a
// virtual disk keeps what it was given in the host's cache until it is asked
// to flush, and one flush of a whole gigabyte at the end took half a second.
//
// The writing thread reports its progress; the sync thread starts with the
// first step, so a small file never has one. Does not own the descriptor,
// which must stay open until Stop() returns.
class BackgroundSync {
public:
    static constexpr std::uint64_t kWriteBackStep = 8 * 1024 * 1024;
    static constexpr std::uint64_t kStep = 32 * 1024 * 1024;
    using SyncFunction = std::function<int(int fd)>;  // 0, or -1 and errno

    // `sync` is ::fdatasync but for tests.
    explicit BackgroundSync(int fd, SyncFunction sync = {});
    ~BackgroundSync();  // Stop()
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;

    // The file holds `bytes` bytes so far.
    void Written(std::uint64_t bytes);
    // Waits for a sync under way and ends the thread. False if any sync
    // failed: the kernel reports a write-back error to one sync only, so
    // the caller's own sync afterwards may not see it again.
    bool Stop();

private:
    void Run();

    int m_fd;
    SyncFunction m_sync;
    // The writing thread's own.
    std::uint64_t m_writeBackStarted = 0;
    std::uint64_t m_requested = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_target = 0;
    std::uint64_t m_synced = 0;
    bool m_stop = false;
    bool m_failed = false;
    std::thread m_thread;
};

}  // namespace tallowdesk::server
