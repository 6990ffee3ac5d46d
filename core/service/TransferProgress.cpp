#include "TransferProgress.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "FileHelpers.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk {

static_assert(kReadAbort == CURL_READFUNC_ABORT);

namespace {

// False when the listener threw: the transfer must stop, not lose the error.
bool Report(TransferProgress& progress) noexcept {
    if (!progress.listener) return true;
    try {
        progress.listener->OnProgress(
            progress.bytesDone, RatePerMs(progress.bytesDone, progress.startMs, NowMilliseconds()));
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace

std::uint64_t RatePerMs(std::uint64_t bytesDone, std::int64_t startMs, std::int64_t nowMs) {
    if (nowMs <= startMs) return 0;
    return bytesDone / static_cast<std::uint64_t>(nowMs - startMs);
}

std::size_t ReadFromFileWithProgress(char* buffer, std::size_t size, std::size_t count,
                                     void* context) noexcept {
    auto& progress = *static_cast<TransferProgress*>(context);
    if (transferCancel.load()) return kReadAbort;
    const std::uint64_t left = progress.readLimit - progress.bytesDone;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(size * count, left));
    if (wanted == 0) return 0;
    ssize_t got;
    do {
        got = ::read(progress.fd, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return kReadAbort;
    if (got == 0) {
        // Shorter than announced: the file changed under us.
        const bool announced = progress.readLimit != std::numeric_limits<std::uint64_t>::max();
        return announced ? kReadAbort : 0;
    }
    progress.bytesDone += static_cast<std::uint64_t>(got);
    if (!Report(progress)) return kReadAbort;
    return static_cast<std::size_t>(got);
}

std::size_t WriteToFileWithProgress(char* data, std::size_t size, std::size_t count,
                                    void* context) noexcept {
    auto& progress = *static_cast<TransferProgress*>(context);
    const std::size_t offered = size * count;
    if (transferCancel.load()) return 0;
    std::size_t written = 0;
    while (written < offered) {
        const ssize_t n = ::write(progress.fd, data + written, offered - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        written += static_cast<std::size_t>(n);
    }
    if (offered == 0) return 0;
    progress.bytesDone += offered;
    if (!Report(progress)) return 0;
    return offered;
}

}  // namespace tallowdesk
