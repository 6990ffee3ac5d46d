#include "UploadSink.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "Crypto.h"

namespace tallowdesk::server {

namespace {

constexpr std::size_t kMaxPartHeaderBytes = 16 * 1024;
// Bytes go to the file in writes this large.
constexpr std::size_t kWriteSize = 256 * 1024;

}  // namespace

UploadSink::UploadSink(std::string folder, std::string boundary, std::uint64_t maxBytes)
    : m_delimiter(boundary.empty() ? std::string() : "\r\n--" + boundary),
      m_search(m_delimiter.cbegin(), m_delimiter.cend()),
      m_maxBytes(maxBytes),
      m_state(boundary.empty() ? State::Data : State::Preamble) {
    for (int attempt = 0; attempt < 10 && m_fd < 0; ++attempt) {
        m_path = (std::filesystem::path(folder) / (".upload-" + RandomToken(24))).string();
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (m_fd < 0) throw std::runtime_error("Cannot create an upload file in " + folder);
    m_sync.emplace(m_fd);
    m_out.reserve(kWriteSize);
}

UploadSink::~UploadSink() {
    m_sync.reset();  // its thread may be syncing the file
    if (m_fd >= 0) ::close(m_fd);
    ::unlink(m_path.c_str());
}

bool UploadSink::Refuse(int status, std::string reason) {
    if (m_status == 0) {
        m_status = status;
        m_reason = std::move(reason);
    }
    return false;
}

bool UploadSink::Write(const char* data, std::size_t size) {
    if (size == 0) return true;
    if (m_written + size >= m_maxBytes) {
        return Refuse(413, "The file is too large: single files of " + std::to_string(m_maxBytes) +
                               " bytes or more are not accepted.");
    }
    m_written += size;
    if (m_out.size() + size < kWriteSize) {
        m_out.append(data, size);
        return true;
    }
    // Large enough: what waits and these bytes go in one write, uncopied.
    const bool ok = WriteOut(m_out.data(), m_out.size(), data, size);
    m_out.clear();
    return ok;
}

bool UploadSink::Flush() {
    const bool ok = WriteOut(m_out.data(), m_out.size(), nullptr, 0);
    m_out.clear();
    return ok;
}

bool UploadSink::WriteOut(const char* first, std::size_t firstSize, const char* second,
                          std::size_t secondSize) {
    iovec pieces[2] = {{const_cast<char*>(first), firstSize},
                       {const_cast<char*>(second), secondSize}};
    iovec* next = pieces;
    int count = 2;
    while (count > 0) {
        if (next->iov_len == 0) {
            ++next;
            --count;
            continue;
        }
        const ssize_t n = ::writev(m_fd, next, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Refuse(507, "The service could not store the file.");
        m_onDisk += static_cast<std::uint64_t>(n);
        auto left = static_cast<std::size_t>(n);
        while (left > 0) {
            const std::size_t step = std::min(left, next->iov_len);
            next->iov_base = static_cast<char*>(next->iov_base) + step;
            next->iov_len -= step;
            left -= step;
            if (next->iov_len == 0 && count > 1) {
                ++next;
                --count;
            }
        }
    }
    m_sync->Written(m_onDisk);
    return true;
}

bool UploadSink::Put(std::string_view bytes) {
    if (m_status != 0) return false;
    if (m_delimiter.empty()) return Write(bytes.data(), bytes.size());
    if (m_state == State::Epilogue) return true;
    if (m_state == State::Preamble) {
        m_pending.append(bytes);
        // The form starts with "--boundary" (no leading CRLF) and the part's headers.
        const std::string first = m_delimiter.substr(2) + "\r\n";
        const auto headersEnd = m_pending.find("\r\n\r\n");
        if (headersEnd == std::string::npos) {
            if (m_pending.size() > kMaxPartHeaderBytes) {
                return Refuse(400, "The form's first part has no end of headers.");
            }
            return true;
        }
        if (m_pending.compare(0, first.size(), first) != 0) {
            return Refuse(400, "The form does not start with its boundary.");
        }
        m_partHeaders = m_pending.substr(first.size(), headersEnd + 2 - first.size());
        m_state = State::Data;
        const std::string rest = m_pending.substr(headersEnd + 4);
        m_pending.clear();
        return PutData(rest);
    }
    return PutData(bytes);
}

// The file part's bytes up to the delimiter that ends them. m_pending holds
// the last few bytes of earlier pieces that may be the delimiter's start;
// the rest is searched where it lies, without copying it first.
bool UploadSink::PutData(std::string_view bytes) {
    const std::size_t tail = m_delimiter.size() - 1;
    if (!m_pending.empty()) {
        if (bytes.size() < tail) {
            m_pending.append(bytes);
            return PutJoined();
        }
        // A delimiter starting in m_pending ends within the next `tail` bytes.
        std::string joint = m_pending;
        joint.append(bytes.substr(0, tail));
        const std::size_t at = Find(joint);
        if (at != std::string::npos) {
            m_state = State::Epilogue;
            m_pending.clear();
            return Write(joint.data(), at);
        }
        const bool ok = Write(m_pending.data(), m_pending.size());
        m_pending.clear();
        if (!ok) return false;
    }
    const std::size_t at = Find(bytes);
    if (at != std::string_view::npos) {
        m_state = State::Epilogue;
        return Write(bytes.data(), at);
    }
    const std::size_t keep = std::min(bytes.size(), tail);
    if (!Write(bytes.data(), bytes.size() - keep)) return false;
    m_pending.assign(bytes.substr(bytes.size() - keep));
    return true;
}

std::size_t UploadSink::Find(std::string_view bytes) const {
    const auto found = std::search(bytes.begin(), bytes.end(), m_search);
    return found == bytes.end() ? std::string_view::npos
                                : static_cast<std::size_t>(found - bytes.begin());
}

// Small pieces: everything pending is searched as one.
bool UploadSink::PutJoined() {
    const std::size_t at = Find(m_pending);
    if (at != std::string::npos) {
        m_state = State::Epilogue;
        const bool ok = Write(m_pending.data(), at);
        m_pending.clear();
        return ok;
    }
    // Keep what could be the start of a delimiter split across reads.
    const std::size_t keep = std::min(m_pending.size(), m_delimiter.size() - 1);
    const std::size_t ready = m_pending.size() - keep;
    if (!Write(m_pending.data(), ready)) return false;
    m_pending.erase(0, ready);
    return true;
}

bool UploadSink::Finish() {
    if (m_status != 0) return false;
    if (!m_delimiter.empty() && m_state != State::Epilogue) {
        return Refuse(400, "The form ended before the end of its file part.");
    }
    if (!Flush()) return false;
    const bool synced = m_sync->Stop() && ::fsync(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed) return Refuse(507, "The service could not store the file.");
    return true;
}

}  // namespace tallowdesk::server
