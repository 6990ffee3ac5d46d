#include "CurlHandles.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "TransportSecurity.h"

namespace tallowdesk {

void EnsureCurlGlobalInit() {
    // Once per process: a per-client init/cleanup pair would tear libcurl down
    // under workers of an earlier client that are still running.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
    if (result != CURLE_OK) {
        throw std::runtime_error("HTTP library  initialization failed.");
    }
}

namespace {

// Handles kept per thread between requests, so their live connections and TLS
// sessions serve the next request instead of a new handshake each time. A
// handle never crosses threads: each thread has its own list.
struct IdleHandles {
    pid_t owner = ::getpid();
    std::uint64_t trust = 0;
    std::vector<CURL*> handles;

    ~IdleHandles() {
        if (owner != ::getpid()) return;
        for (CURL* handle : handles) curl_easy_cleanup(handle);
    }

    // A forked child inherits the parent's connections: closing or using them
    // would talk over the parent's TLS streams, so they are dropped untouched.
    void ForgetIfForked() {
        if (owner == ::getpid()) return;
        handles.clear();
        owner = ::getpid();
    }

    // Kept connections were verified against the CAs trusted then.
    void DropIfTrustChanged() {
        const std::uint64_t now = TrustGeneration();
        if (now == trust) return;
        for (CURL* handle : handles) curl_easy_cleanup(handle);
        handles.clear();
        trust = now;
    }
};

// Enough for a request that makes another while its own handle is still held
// (an upload reads back its entry).
constexpr std::size_t kMaxIdleHandles = 2;

thread_local IdleHandles t_idle;
thread_local unsigned long t_connectionsOpened = 0;

curl_socket_t OpenCountedSocket(void*, curlsocktype, curl_sockaddr* address) {
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0) return CURL_SOCKET_BAD;
    ++t_connectionsOpened;
    return fd;
}

void ApplyDefaults(CURL* handle) {
    // Workers call libcurl from many threads; its signal-based DNS time-outs
    // are not safe there.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // Requests are small writes answered at once: never wait for an ACK
    // before sending the rest (libcurl's default, stated so it stays).
    curl_easy_setopt(handle, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &OpenCountedSocket);
}

CURL* LeaseHandle() {
    t_idle.ForgetIfForked();
    t_idle.DropIfTrustChanged();
    if (t_idle.handles.empty()) return curl_easy_init();
    CURL* handle = t_idle.handles.back();
    t_idle.handles.pop_back();
    return handle;
}

void ReturnHandle(CURL* handle) {
    // The share belongs to a client that may be gone by the next request, and
    // a reset keeps shares; every option (method, headers, body, range,
    // callbacks) goes back to its default, connections and TLS sessions stay.
    // The cookie file list is not freed by a reset (libcurl would lose it);
    // a null cookie file frees it, and with the share still attached it
    // leaves the shared cookies alone.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_setopt(handle, CURLOPT_SHARE, nullptr);
    curl_easy_reset(handle);
    ApplyDefaults(handle);
    t_idle.ForgetIfForked();
    if (t_idle.handles.size() < kMaxIdleHandles) {
        try {
            t_idle.handles.push_back(handle);
            return;
        } catch (const std::bad_alloc&) {
        }
    }
    curl_easy_cleanup(handle);
}

}  // namespace

CurlEasy::CurlEasy(Reuse reuse) {
    EnsureCurlGlobalInit();
    m_pooled = reuse == Reuse::Thread;
    m_handle = m_pooled ? LeaseHandle() : curl_easy_init();
    if (m_handle) ApplyDefaults(m_handle);
}

CurlEasy::~CurlEasy() {
    Release();
}

CurlEasy::CurlEasy(CurlEasy&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_pooled(other.m_pooled) {}

CurlEasy& CurlEasy::operator=(CurlEasy&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_pooled = other.m_pooled;
    }
    return *this;
}

void CurlEasy::Release() noexcept {
    CURL* handle = std::exchange(m_handle, nullptr);
    if (!handle) return;
    if (m_pooled)
        ReturnHandle(handle);
    else
        curl_easy_cleanup(handle);
}

unsigned long ConnectionsOpenedOnThisThread() {
    return t_connectionsOpened;
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
