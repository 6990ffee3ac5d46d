#include "UploadSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "Crypto.h"

namespace tallowdesk::server {

namespace {

constexpr std::size_t kMaxPartHeaderBytes = 16 * 1024;

}  // namespace

UploadSink::UploadSink(std::string folder, std::string boundary, std::uint64_t maxBytes)
    : m_maxBytes(maxBytes), m_state(boundary.empty() ? State::Data : State::Preamble) {
    if (!boundary.empty()) m_delimiter = "\r\n--" + boundary;
    for (int attempt = 0; attempt < 10 && m_fd < 0; ++attempt) {
        m_path = (std::filesystem::path(folder) / (".upload-" + RandomToken(24))).string();
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (m_fd < 0) throw std::runtime_error("Cannot create an upload file in " + folder);
}

UploadSink::~UploadSink() {
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
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Refuse(507, "The service could not store the file.");
        data += n;
        size -= static_cast<std::size_t>(n);
        m_written += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool UploadSink::Put(std::string_view bytes) {
    if (m_status != 0) return false;
    if (m_delimiter.empty()) return Write(bytes.data(), bytes.size());
    if (m_state == State::Epilogue) return true;
    m_pending.append(bytes);
    if (m_state == State::Preamble) {
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
        m_pending.erase(0, headersEnd + 4);
        m_state = State::Data;
    }
    const auto at = m_pending.find(m_delimiter);
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
    if (::fsync(m_fd) != 0 || ::close(m_fd) != 0) {
        m_fd = -1;
        return Refuse(507, "The service could not store the file.");
    }
    m_fd = -1;
    return true;
}

}  // namespace tallowdesk::server
