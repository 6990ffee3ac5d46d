#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "transfer/TransferOps.h"
#include "transfer/TransferProgressSink.h"

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

// Passes every report on; a file that stops waits at its first progress.
class GateSink final : public TransferProgressSink {
public:
    GateSink(TransferProgressSink& inner, DownloadGate& gate, bool stops)
        : m_inner(inner), m_gate(gate), m_stops(stops) {}
    void SetCurrentNumber(std::uint64_t n) override { m_inner.SetCurrentNumber(n); }
    void SetTotal(std::uint64_t n) override { m_inner.SetTotal(n); }
    void SetName(const std::string& t) override { m_inner.SetName(t); }
    void SetSizeText(const std::string& t) override { m_inner.SetSizeText(t); }
    void SetRange(std::uint64_t b) override { m_inner.SetRange(b); }
    void SetMarquee(bool on) override { m_inner.SetMarquee(on); }
    void Progress(std::uint64_t done, std::uint64_t rate) override {
        m_inner.Progress(done, rate);
        if (m_stops && done > 0) m_gate.Wait();
    }
    void AddTransferDetail(const std::string& t) override { m_inner.AddTransferDetail(t); }
    void Finished() override { m_inner.Finished(); }

private:
    TransferProgressSink& m_inner;
    DownloadGate& m_gate;
    bool m_stops;
};

// The real transfer calls, with downloads passing the gate: every file, or
// only the one named (a file of several chunks, so a cancel lands inside it).
class GatedOps final : public TransferOps {
public:
    GatedOps(std::unique_ptr<TransferOps> inner, std::shared_ptr<DownloadGate> gate,
             std::optional<std::string> onlyFile = std::nullopt)
        : m_inner(std::move(inner)), m_gate(std::move(gate)), m_onlyFile(std::move(onlyFile)) {}
    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override {
        m_inner->GetFeed(url, doc);
    }
    void DownloadEntry(const std::string& url, const std::string& kind,
                       const std::filesystem::path& path, const std::optional<std::string>& format,
                       TransferProgressSink& sink) override {
        GateSink gated(sink, *m_gate, !m_onlyFile || path.filename() == *m_onlyFile);
        m_inner->DownloadEntry(url, kind, path, format, gated);
    }
    void UploadFile(const std::filesystem::path& path, const std::string& target,
                    const std::string& name, tinyxml2::XMLDocument& reply,
                    TransferProgressSink& sink) override {
        m_inner->UploadFile(path, target, name, reply, sink);
    }
    void ReplaceContent(const std::filesystem::path& path, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override {
        m_inner->ReplaceContent(path, editMediaUrl, reply, sink);
    }
    void CreateFolder(const std::string& title, const std::string& parent,
                      tinyxml2::XMLDocument& reply) override {
        m_inner->CreateFolder(title, parent, reply);
    }

private:
    std::unique_ptr<TransferOps> m_inner;
    std::shared_ptr<DownloadGate> m_gate;
    std::optional<std::string> m_onlyFile;
};

}  // namespace tallowdesk::test
