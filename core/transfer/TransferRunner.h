#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "TransferProgressSink.h"

namespace tallowdesk {

// Runs the transfers of one download or upload loop on up to `threads` threads
// at once, while the loop's sink still sees its calls in the order the same
// loop running one transfer after another makes them: every line and every
// item's texts whole and in item order, so that a printer or a summary built
// from the calls cannot tell the two apart.
//
// How: the loop's own calls and each transfer's calls go to a queue of slots in
// the order they were started. Only the oldest slot reaches the sink directly;
// a later one records its calls (text copied) and replays them once every slot
// before it has finished. Progress of a recorded slot is dropped (the sink shows
// the oldest running transfer).
//
// A thread keeps its connections between the transfers it runs, so each
// thread gets its own keep-alive connection to the service.
class TransferRunner {
public:
    using Job = std::function<void(TransferProgressSink&)>;

    TransferRunner(TransferProgressSink& sink, unsigned threads);
    ~TransferRunner();  // waits for the running transfers
    TransferRunner(const TransferRunner&) = delete;
    TransferRunner& operator=(const TransferRunner&) = delete;

    // The sink for the loop's own calls (from the loop's thread only).
    TransferProgressSink& LoopSink();

    // Starts job on a free thread, waiting for one while all are busy. The job
    // reports to the sink it is given and must not throw (what escapes is
    // dropped). writes: the local path the job will create, for WaitForPath.
    void Submit(Job job, std::filesystem::path writes = {});
    // Returns once no running job writes path: a later item of the same name
    // then meets the finished file, as it would one after another.
    void WaitForPath(const std::filesystem::path& path);
    // Returns once every submitted job has finished and reported.
    void WaitAll();

private:
    struct Slot;
    class SlotSink;
    struct Task {
        Job job;
        std::shared_ptr<Slot> slot;
        std::filesystem::path writes;
    };

    void Call(const std::shared_ptr<Slot>& slot, std::function<void(TransferProgressSink&)> call);
    void Progress(const std::shared_ptr<Slot>& slot, std::uint64_t bytes, std::uint64_t rate);
    // With m_mutex held: marks slot done and lets the next ones through.
    void Finish(const std::shared_ptr<Slot>& slot);
    void Work();

    TransferProgressSink& m_sink;
    std::mutex m_mutex;  // guards everything below and every call into m_sink
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Slot>> m_slots;  // oldest first; the front one is live
    std::shared_ptr<Slot> m_loopSlot;
    std::unique_ptr<SlotSink> m_loopSink;
    std::deque<Task> m_tasks;  // submitted, not yet taken by a thread
    std::vector<std::filesystem::path> m_writing;
    unsigned m_busy = 0;  // tasks taken or waiting
    const unsigned m_threads;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

}  // namespace tallowdesk
