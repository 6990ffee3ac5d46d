#include "ResponseBuffer.h"

#include <curl/curl.h>

#include <limits>

namespace tallowdesk {

std::size_t ResponseBuffer::Append(char* data, std::size_t size, std::size_t count,
                                   void* buffer) noexcept {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return 0;
    const std::size_t bytes = size * count;
    auto* self = static_cast<ResponseBuffer*>(buffer);
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

}  // namespace tallowdesk
