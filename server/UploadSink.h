#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "BackgroundSync.h"

namespace tallowdesk::server {

// Where the body of an upload goes while it arrives: straight into a
// temporary file of the content folder, never into memory. With a boundary
// the body is a multipart form and only the first part's bytes are kept.
class UploadSink {
public:
    // Creates the temporary file; throws std::runtime_error.
    UploadSink(std::string folder, std::string boundary, std::uint64_t maxBytes);
    ~UploadSink();  // removes the temporary file unless it was taken
    UploadSink(const UploadSink&) = delete;
    UploadSink& operator=(const UploadSink&) = delete;

    // False once the body was refused; Status() and Reason() say why.
    bool Put(std::string_view bytes);
    // After the last byte: checks the form was complete and syncs the file.
    bool Finish();

    const std::string& TempPath() const { return m_path; }
    std::uint64_t Size() const { return m_written; }
    // Headers of the file part of a form ("Content-Disposition: ..." lines).
    const std::string& PartHeaders() const { return m_partHeaders; }
    int Status() const { return m_status; }
    const std::string& Reason() const { return m_reason; }

private:
    bool Refuse(int status, std::string reason);
    bool PutData(std::string_view bytes);
    bool PutJoined();
    // Where the delimiter starts in bytes, or npos.
    std::size_t Find(std::string_view bytes) const;
    // Counts the bytes as the file's and writes them out in large pieces.
    bool Write(const char* data, std::size_t size);
    bool Flush();
    bool WriteOut(const char* first, std::size_t firstSize, const char* second,
                  std::size_t secondSize);

    enum class State { Preamble, Data, Epilogue };
    std::string m_path;
    std::string m_delimiter;  // "\r\n--" + boundary; empty for a raw body
    // Finds m_delimiter, skipping ahead by up to its length at each step: a
    // byte at a time (the first byte, then a compare) meets a '\r' every 256
    // bytes of a binary file. Points into m_delimiter, which never changes.
    std::boyer_moore_horspool_searcher<std::string::const_iterator> m_search;
    std::uint64_t m_maxBytes;
    int m_fd = -1;
    State m_state;
    std::string m_pending;  // bytes that may still be the start of a delimiter
    std::string m_partHeaders;
    std::uint64_t m_written = 0;  // the file's bytes so far
    std::string m_out;            // of those, what is not written yet
    std::uint64_t m_onDisk = 0;
    std::optional<BackgroundSync> m_sync;  // flushes the file to the disk as it grows
    int m_status = 0;
    std::string m_reason;
};

// A Beast body type that hands what it reads to an UploadSink.
struct UploadBody {
    using value_type = std::shared_ptr<UploadSink>;

    class reader {
    public:
        template <bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields>&, value_type& body) : m_body(body) {}

        void init(const boost::optional<std::uint64_t>&, boost::beast::error_code& ec) {
            ec = m_body ? boost::beast::error_code()
                        : boost::beast::http::error::bad_transfer_encoding;
        }

        template <class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence& buffers, boost::beast::error_code& ec) {
            std::size_t used = 0;
            for (auto it = boost::asio::buffer_sequence_begin(buffers);
                 it != boost::asio::buffer_sequence_end(buffers); ++it) {
                const boost::asio::const_buffer piece = *it;
                if (!m_body->Put({static_cast<const char*>(piece.data()), piece.size()})) {
                    ec = boost::beast::http::error::body_limit;
                    return used;
                }
                used += piece.size();
            }
            ec = {};
            return used;
        }

        void finish(boost::beast::error_code& ec) {
            ec = m_body->Finish() ? boost::beast::error_code()
                                  : boost::beast::http::error::partial_message;
        }

    private:
        value_type& m_body;
    };
};

}  // namespace tallowdesk::server
