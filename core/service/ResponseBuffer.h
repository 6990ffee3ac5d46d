#pragma once

#include <cstddef>
#include <string>

typedef void CURL;

namespace tallowdesk {

// Collects a response body (or its headers) from libcurl. Owned by the one
// operation that performs the transfer; not shared between threads.
class ResponseBuffer {
public:
    // libcurl write/header callback. Returns 0 when the buffer cannot grow, which
    // makes libcurl fail the transfer instead of going on with bytes lost.
    static std::size_t Append(char* data, std::size_t size, std::size_t count,
                              void* buffer) noexcept;

    // Routes the handle's response body into this buffer.
    void CollectBody(CURL* handle);
    // Routes the handle's response header lines into this buffer.
    void CollectHeaders(CURL* handle);

    const std::string& Text() const { return m_data; }
    bool Empty() const { return m_data.empty(); }
    void Clear() { m_data.clear(); }

private:
    std::string m_data;
};

}  // namespace tallowdesk
