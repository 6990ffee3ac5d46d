#include "ResponseBuffer.h"

#include <curl/curl.h>

#include <limits>
#include <stdexcept>

namespace tallowdesk {

std::size_t ResponseBuffer::Append(char* data, std::size_t size, std::size_t count,
                                   void* buffer) noexcept {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return 0;
    const std::size_t bytes = size * count;
    auto* self = static_cast<ResponseBuffer*>(buffer);
    if (bytes > self->m_limit - self->m_data.size()) {
        self->m_overflowed = true;
        return 0;
    }
    try {
        self->m_data.append(data, bytes);
    } catch (...) {
        return 0;
    }
    return bytes;
}

void ResponseBuffer::CollectBody(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &ResponseBuffer::Append);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
}

void ResponseBuffer::CollectHeaders(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &ResponseBuffer::Append);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
}

void ResponseBuffer::ThrowIfOverflowed() const {
    if (!m_overflowed) return;
    throw std::runtime_error("The service's answer is larger than " +
                             std::to_string(m_limit >> 20) +
                             " MiB, more than this program accepts; it was not read.");
}

}  // namespace tallowdesk
