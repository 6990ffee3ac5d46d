#include "TransferProgress.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <type_traits>

#include "FileHelpers.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk {

static_assert(kReadAbort == CURL_READFUNC_ABORT);
static_assert(std::is_same_v<curl_off_t, std::int64_t>);

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

// Large enough that the queueing is rare, small enough that a window is
// written while the next arrives.
constexpr std::uint64_t kWriteBackWindow = 8u << 20;

// Errors are ignored here: the final sync reports them.
void WriteBehind(TransferProgress& progress) noexcept {
    while (progress.bytesDone - progress.writtenBack >= kWriteBackWindow) {
        const auto start = static_cast<off64_t>(progress.writtenBack);
        const auto window = static_cast<off64_t>(kWriteBackWindow);
        ::sync_file_range(progress.fd, start, window, SYNC_FILE_RANGE_WRITE);
        if (start >= window) {
            ::sync_file_range(
                progress.fd, start - window, window,
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        }
        progress.writtenBack += kWriteBackWindow;
    }
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

int SeekFileWithProgress(void* context, std::int64_t offset, int origin) noexcept {
    auto& progress = *static_cast<TransferProgress*>(context);
    if (origin != SEEK_SET || offset < 0) return CURL_SEEKFUNC_CANTSEEK;
    if (::lseek(progress.fd, offset, SEEK_SET) != offset) return CURL_SEEKFUNC_FAIL;
    progress.bytesDone = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
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
    if (progress.writeBehind) WriteBehind(progress);
    if (!Report(progress)) return 0;
    return offered;
}

}  // namespace tallowdesk
