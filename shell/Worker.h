#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

namespace tallowdesk::shell {

// Starts fn(block) on a thread of its own; the thread owns the block and
// frees it when fn returns. fn catches its own failures in the documented
// order; the outer catch only guarantees that nothing escapes a thread.
//
// Threads are detached: exit never waits for a hung request. Whatever a worker
// touches afterwards is kept alive by its block (shared pointers) or reached
// through a port that notices the receiver is gone.
// Workers started and not yet finished. Tests wait for none before they end:
// a worker still inside a TLS request when the process exits touches the TLS
// library's state after its exit handlers freed it.
inline std::atomic<int>& RunningWorkers() {
    static std::atomic<int> running{0};
    return running;
}

template <typename Block, typename Fn>
void StartWorker(std::unique_ptr<Block> block, Fn fn) {
    ++RunningWorkers();
    std::thread([b = std::move(block), fn = std::move(fn)]() mutable {
        try {
            fn(*b);
        } catch (...) {
        }
        b.reset();
        --RunningWorkers();
    }).detach();
}

}  // namespace tallowdesk::shell
