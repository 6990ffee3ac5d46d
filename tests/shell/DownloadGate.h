#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tallowdesk::test {

// Holds a download at its first progress report until the test opens it, so
// that a command (Cancel, Exit, Sign Out) lands while the transfer runs.
// Every member takes the lock itself: callers never hold it.
class DownloadGate {
public:
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
    void Disarm() {
        std::lock_guard lock(mutex);
        armed = false;
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool reached = false;
    bool open = false;
};

}  // namespace tallowdesk::test
