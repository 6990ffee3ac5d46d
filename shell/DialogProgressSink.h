#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>

#include "transfer/TransferProgressSink.h"

namespace tallowdesk::shell {

// What a progress window receives from a transfer thread, on the UI thread.
class TransferProgressMessages {
public:
    virtual ~TransferProgressMessages() = default;
    virtual void SetCurrentNumber(std::uint64_t n) = 0;
    virtual void SetTotal(std::uint64_t n) = 0;
    virtual void SetName(const QString& text) = 0;
    virtual void SetSizeText(const QString& text) = 0;
    virtual void SetRange(std::uint64_t bytes) = 0;
    virtual void SetMarquee(bool on) = 0;
    // WM_TRANSFER_PROGRESS: bytes of the current file, rate in bytes per ms.
    virtual void Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) = 0;
    virtual void AddTransferDetail(const QString& text) = 0;
    // "Transfer thread Finished".
    virtual void TransferFinished() = 0;
};

// The transfer loops' sink for a progress window: every call is handed to
// the window on the UI thread, and does nothing once the window is gone (a
// dialog closed by Cancel). Control texts are posted; progress is posted at
// most once at a time, carrying the latest figures; "finished" is sent, so
// the loop clears transferBusy only after the window has handled it.
// Called on the transfer threads.
class DialogProgressSink final : public TransferProgressSink {
public:
    template <typename Dialog>
    explicit DialogProgressSink(Dialog* dialog) : m_object(dialog), m_iface(dialog) {}

    void SetCurrentNumber(std::uint64_t n) override;
    void SetTotal(std::uint64_t n) override;
    void SetName(const std::string& text) override;
    void SetSizeText(const std::string& text) override;
    void SetRange(std::uint64_t bytes) override;
    void SetMarquee(bool on) override;
    void Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) override;
    void AddTransferDetail(const std::string& text) override;
    void Finished() override;

private:
    template <typename Fn>
    void Post(Fn fn) const;

    struct LatestProgress {
        std::atomic<bool> queued{false};
        std::atomic<std::uint64_t> done{0};
        std::atomic<std::uint64_t> rate{0};
    };

    QPointer<QObject> m_object;
    TransferProgressMessages* m_iface;
    std::shared_ptr<LatestProgress> m_progress = std::make_shared<LatestProgress>();
};

}  // namespace tallowdesk::shell
