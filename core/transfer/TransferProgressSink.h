#pragma once

#include <cstdint>
#include <string>

namespace tallowdesk {

// Where a transfer reports: the progress window of the shell, or the
// command-line client's printer. Implemented by the caller and borrowed by the
// loops for the length of one call.
//
// Thread: every call comes from the thread that runs the loop, except that an
// upload's counting pass may call SetTotal from a second thread at the same
// time; an implementation must accept that. Text arguments live only for the
// call: an implementation that queues the call copies them.
class TransferProgressSink {
public:
    virtual ~TransferProgressSink() = default;

    virtual void SetCurrentNumber(std::uint64_t n) = 0;  // number of the file now transferred
    virtual void SetTotal(std::uint64_t n) = 0;          // total number of files
    virtual void SetName(const std::string& text) = 0;   // title or local path, UTF-8
    virtual void SetSizeText(const std::string& text) = 0;
    // The bar counts bytes of the current file from 0 to bytes.
    virtual void SetRange(std::uint64_t bytes) = 0;
    // An animated bar for a file of unknown size; off before SetRange is used.
    virtual void SetMarquee(bool on) = 0;
    // From the streaming callbacks: bytes of the current file so far, and the
    // average rate since its start in bytes per millisecond (0 before the
    // first millisecond has passed).
    virtual void Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) = 0;
    // One warning or error line for the details list.
    virtual void AddTransferDetail(const std::string& text) = 0;
    // The loop is done; the last call it makes.
    virtual void Finished() = 0;
};

}  // namespace tallowdesk
