#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tallowdesk {

// Receives the progress of one streamed upload or download: the bytes moved so
// far and the average rate since the start in bytes per millisecond (0 before
// the first millisecond has passed). Implemented by the progress window or the
// command-line printer; called on the thread that runs the transfer, once per
// chunk. A listener that throws stops the transfer like a cancel.
class TransferProgressListener {
public:
    virtual ~TransferProgressListener() = default;
    virtual void OnProgress(std::uint64_t bytesDone, std::uint64_t ratePerMs) = 0;
};

// Lets any object with Progress(bytesDone, rate) (the transfer loops'
// TransferProgressSink) listen without depending on this header.
template <typename Sink>
class ProgressToSink final : public TransferProgressListener {
public:
    explicit ProgressToSink(Sink& sink) : m_sink(sink) {}
    void OnProgress(std::uint64_t bytesDone, std::uint64_t ratePerMs) override {
        m_sink.Progress(bytesDone, ratePerMs);
    }

private:
    Sink& m_sink;
};

// The context of one streamed transfer, handed to the libcurl callbacks below.
// Owned by the operation on its stack; the descriptor belongs to the operation.
struct TransferProgress {
    int fd = -1;
    std::uint64_t bytesDone = 0;
    TransferProgressListener* listener = nullptr;  // may be null
    std::int64_t startMs = 0;                      // NowMilliseconds() at the start
    // Uploads announce their length before sending; reading stops there, and a
    // file that ends earlier fails the transfer instead of sending a short body.
    std::uint64_t readLimit = std::numeric_limits<std::uint64_t>::max();
    // Downloads: the file is handed to the disk in windows while it arrives
    // (see WriteToFileWithProgress), so the sync before the rename has little
    // left to do. writtenBack is where the next window starts.
    bool writeBehind = false;
    std::uint64_t writtenBack = 0;
};

// libcurl's CURL_READFUNC_ABORT.
inline constexpr std::size_t kReadAbort = 0x10000000;

// bytesDone / elapsed milliseconds, 0 while no millisecond has passed.
std::uint64_t RatePerMs(std::uint64_t bytesDone, std::int64_t startMs, std::int64_t nowMs);

// libcurl read callback streaming the upload from progress->fd. Returns the
// bytes read, 0 at the end, or kReadAbort on transferCancel, a read error or a
// listener that throws.
std::size_t ReadFromFileWithProgress(char* buffer, std::size_t size, std::size_t count,
                                     void* progress) noexcept;

// libcurl seek callback for uploads from progress->fd: a request that has to
// be sent again (a kept-alive connection the service had just closed) starts
// over from the offset libcurl asks for. Returns libcurl's CURL_SEEKFUNC_*.
int SeekFileWithProgress(void* progress, std::int64_t offset, int origin) noexcept;

// libcurl write callback streaming a download into progress->fd; with
// writeBehind, each completed window is queued for writing to disk at once and
// the window before it waited for, which keeps the dirty pages of a large
// download bounded. Returns the offered count, or 0 (libcurl then fails with a write error) on
// transferCancel, a write error or a listener that throws.
std::size_t WriteToFileWithProgress(char* data, std::size_t size, std::size_t count,
                                    void* progress) noexcept;

}  // namespace tallowdesk
