#pragma once

#include <atomic>

namespace tallowdesk {

// Process-wide transfer state shared by the shell's commands, the progress
// windows and the transfer loops (any thread).
//
// transferBusy: true while a download or upload loop runs; commands refuse a
// new download, upload or paste while it is set. A command may claim it
// itself (compare_exchange) before starting its thread, which closes the gap
// between its check and the loop's start; the loop sets it again harmlessly
// and always clears it at its end. Exports do not touch it.
//
// transferCancel: raised by Cancel in any progress window; the loops test it
// before each item and the streaming callbacks before each chunk. Every
// command that starts a transfer, and every "finished" handler, resets it.
extern std::atomic<bool> transferBusy;
extern std::atomic<bool> transferCancel;

// The export threads running now (a cancelled one may still wind down after
// its window has gone), so the end of a transfer beside them does not clear
// a Cancel they have yet to see.
extern std::atomic<int> exportsRunning;

// Holds transferBusy raised for its lifetime (the span of one download or
// upload loop), so an early return cannot leave it set.
class TransferBusyScope {
public:
    TransferBusyScope() { transferBusy = true; }
    ~TransferBusyScope() { transferBusy = false; }
    TransferBusyScope(const TransferBusyScope&) = delete;
    TransferBusyScope& operator=(const TransferBusyScope&) = delete;
};

}  // namespace tallowdesk
