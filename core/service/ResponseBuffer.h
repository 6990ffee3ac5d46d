#pragma once

#include <cstddef>
#include <string>

typedef void CURL;

namespace tallowdesk {

// How much of one answer is kept in memory. Downloads stream to disk and have
// no such limit; everything read whole is bounded so a hostile or broken
// service cannot exhaust memory.
inline constexpr std::size_t kMaxFeedBytes = 64u << 20;    // feeds, entries, error bodies
inline constexpr std::size_t kMaxPageBytes = 8u << 20;     // the storage page, sign-in pages
inline constexpr std::size_t kMaxPictureBytes = 4u << 20;  // the CAPTCHA picture
inline constexpr std::size_t kMaxHeaderBytes = 1u << 20;   // the header lines of one exchange
inline constexpr std::size_t kMaxReplyBytes = 1u << 20;    // a ClientLogin reply

// Collects a response body (or its headers) from libcurl, up to a limit.
// Owned by the one operation that performs the transfer; not shared between
// threads.
class ResponseBuffer {
public:
    explicit ResponseBuffer(std::size_t limit = kMaxFeedBytes) : m_limit(limit) {}

    // libcurl write/header callback. Returns 0 when the buffer cannot grow or
    // would pass its limit, which makes libcurl fail the transfer instead of
    // going on with bytes lost.
    static std::size_t Append(char* data, std::size_t size, std::size_t count,
                              void* buffer) noexcept;

    // Routes the handle's response body into this buffer.
    void CollectBody(CURL* handle);
    // Routes the handle's response header lines into this buffer.
    void CollectHeaders(CURL* handle);

    const std::string& Text() const { return m_data; }
    bool Empty() const { return m_data.empty(); }
    void Clear() {
        m_data.clear();
        m_overflowed = false;
    }

    // True once an answer passed the limit (the transfer was stopped).
    bool Overflowed() const { return m_overflowed; }
    // Throws std::runtime_error naming the limit when Overflowed().
    void ThrowIfOverflowed() const;

private:
    std::string m_data;
    std::size_t m_limit;
    bool m_overflowed = false;
};

}  // namespace tallowdesk
