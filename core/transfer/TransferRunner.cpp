#include "TransferRunner.h"

#include <algorithm>
#include <string>
#include <utility>

namespace tallowdesk {

struct TransferRunner::Slot {
    std::vector<std::function<void(TransferProgressSink&)>> calls;  // while not live
    bool done = false;
};

// Forwards to the runner with its slot; the loop's sink has none and follows
// the runner's current loop slot.
class TransferRunner::SlotSink final : public TransferProgressSink {
public:
    SlotSink(TransferRunner& runner, std::shared_ptr<Slot> slot)
        : m_runner(runner), m_slot(std::move(slot)) {}

    void SetCurrentNumber(std::uint64_t n) override {
        Call([n](TransferProgressSink& s) { s.SetCurrentNumber(n); });
    }
    void SetTotal(std::uint64_t n) override {
        Call([n](TransferProgressSink& s) { s.SetTotal(n); });
    }
    void SetName(const std::string& text) override {
        Call([text](TransferProgressSink& s) { s.SetName(text); });
    }
    void SetSizeText(const std::string& text) override {
        Call([text](TransferProgressSink& s) { s.SetSizeText(text); });
    }
    void SetRange(std::uint64_t bytes) override {
        Call([bytes](TransferProgressSink& s) { s.SetRange(bytes); });
    }
    void SetMarquee(bool on) override {
        Call([on](TransferProgressSink& s) { s.SetMarquee(on); });
    }
    void Progress(std::uint64_t bytesDone, std::uint64_t rate) override {
        m_runner.Progress(m_slot, bytesDone, rate);
    }
    void AddTransferDetail(const std::string& text) override {
        Call([text](TransferProgressSink& s) { s.AddTransferDetail(text); });
    }
    void Finished() override {
        Call([](TransferProgressSink& s) { s.Finished(); });
    }

private:
    void Call(std::function<void(TransferProgressSink&)> call) {
        m_runner.Call(m_slot, std::move(call));
    }

    TransferRunner& m_runner;
    const std::shared_ptr<Slot> m_slot;  // null: the loop's
};

TransferRunner::TransferRunner(TransferProgressSink& sink, unsigned threads)
    : m_sink(sink),
      m_loopSlot(std::make_shared<Slot>()),
      m_loopSink(std::make_unique<SlotSink>(*this, nullptr)),
      m_threads(std::max(1u, threads)) {
    m_slots.push_back(m_loopSlot);
    for (unsigned i = 0; i < m_threads; ++i) m_workers.emplace_back([this] { Work(); });
}

TransferProgressSink& TransferRunner::LoopSink() {
    return *m_loopSink;
}

TransferRunner::~TransferRunner() {
    WaitAll();
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_workers) t.join();
}

void TransferRunner::Submit(Job job, std::filesystem::path writes) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_busy < m_threads; });
    // The loop's calls so far come before the job's, the later ones after.
    auto jobSlot = std::make_shared<Slot>();
    const std::shared_ptr<Slot> before = std::exchange(m_loopSlot, std::make_shared<Slot>());
    m_slots.push_back(jobSlot);
    m_slots.push_back(m_loopSlot);
    Finish(before);
    if (!writes.empty()) m_writing.push_back(writes);
    m_tasks.push_back({std::move(job), std::move(jobSlot), std::move(writes)});
    ++m_busy;
    lock.unlock();
    m_changed.notify_all();
}

void TransferRunner::WaitForPath(const std::filesystem::path& path) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        return std::find(m_writing.begin(), m_writing.end(), path) == m_writing.end();
    });
}

void TransferRunner::WaitAll() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_busy == 0; });
}

void TransferRunner::Call(const std::shared_ptr<Slot>& slot,
                          std::function<void(TransferProgressSink&)> call) {
    std::lock_guard lock(m_mutex);
    Slot& target = slot ? *slot : *m_loopSlot;
    if (m_slots.front().get() == &target)
        call(m_sink);
    else
        target.calls.push_back(std::move(call));
}

void TransferRunner::Progress(const std::shared_ptr<Slot>& slot, std::uint64_t bytes,
                              std::uint64_t rate) {
    std::lock_guard lock(m_mutex);
    if (m_slots.front() == slot) m_sink.Progress(bytes, rate);
}

void TransferRunner::Finish(const std::shared_ptr<Slot>& slot) {
    slot->done = true;
    // The loop's slot is never done while it is the last one, so the queue
    // never runs empty.
    while (m_slots.front()->done) {
        m_slots.pop_front();
        for (auto& call : m_slots.front()->calls) call(m_sink);
        m_slots.front()->calls.clear();
    }
}

void TransferRunner::Work() {
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
        if (m_tasks.empty()) return;
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        {
            SlotSink sink(*this, task.slot);
            try {
                task.job(sink);
            } catch (...) {
                // The loops' jobs report their own failures as detail lines.
            }
        }
        lock.lock();
        Finish(task.slot);
        if (!task.writes.empty()) {
            const auto at = std::find(m_writing.begin(), m_writing.end(), task.writes);
            if (at != m_writing.end()) m_writing.erase(at);
        }
        --m_busy;
        lock.unlock();
        m_changed.notify_all();
    }
}

}  // namespace tallowdesk
