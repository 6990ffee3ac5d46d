#include "CurlHandles.h"

#include <curl/curl.h>

#include <new>
#include <stdexcept>
#include <utility>

namespace tallowdesk {

void EnsureCurlGlobalInit() {
    // Once per process: a per-client init/cleanup pair would tear libcurl down
    // under workers of an earlier client that are still running.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
    if (result != CURLE_OK) {
        throw std::runtime_error("HTTP library  initialization failed.");
    }
}

CurlEasy::CurlEasy() {
    EnsureCurlGlobalInit();
    m_handle = curl_easy_init();
    // Workers call libcurl from many threads; its signal-based DNS time-outs
    // are not safe there.
    if (m_handle) curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
}

CurlEasy::~CurlEasy() {
    if (m_handle) curl_easy_cleanup(m_handle);
}

CurlEasy::CurlEasy(CurlEasy&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

CurlEasy& CurlEasy::operator=(CurlEasy&& other) noexcept {
    if (this != &other) {
        if (m_handle) curl_easy_cleanup(m_handle);
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

CurlSlist::~CurlSlist() {
    if (m_list) curl_slist_free_all(m_list);
}

CurlSlist::CurlSlist(CurlSlist&& other) noexcept : m_list(std::exchange(other.m_list, nullptr)) {}

CurlSlist& CurlSlist::operator=(CurlSlist&& other) noexcept {
    if (this != &other) {
        if (m_list) curl_slist_free_all(m_list);
        m_list = std::exchange(other.m_list, nullptr);
    }
    return *this;
}

void CurlSlist::Append(const char* line) {
    curl_slist* grown = curl_slist_append(m_list, line);
    if (!grown) throw std::bad_alloc();
    m_list = grown;
}

CurlShare::~CurlShare() {
    if (m_share) curl_share_cleanup(m_share);
}

CurlShare::CurlShare(CurlShare&& other) noexcept : m_share(std::exchange(other.m_share, nullptr)) {}

CurlShare& CurlShare::operator=(CurlShare&& other) noexcept {
    if (this != &other) {
        if (m_share) curl_share_cleanup(m_share);
        m_share = std::exchange(other.m_share, nullptr);
    }
    return *this;
}

}  // namespace tallowdesk
