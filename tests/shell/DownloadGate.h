#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tallowdesk::test {

// Holds a download at its first progress report until the test opens it, so
// that a command (Cancel, Exit, Sign Out) lands while the transfer runs.
struct DownloadGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool reached = false;
    bool open = false;

    void Wait() {
        std::unique_lock lock(mutex);
        if (!armed || open) return;
        reached = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(20), [this] { return open; });
    }
    bool Reached() {
        std::lock_guard lock(mutex);
        return reached;
    }
    void Arm() {
        std::lock_guard lock(mutex);
        armed = true;
        reached = open = false;
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

}  // namespace tallowdesk::test
