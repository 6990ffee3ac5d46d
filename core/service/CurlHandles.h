#pragma once

typedef void CURL;
typedef void CURLSH;
struct curl_slist;

namespace tallowdesk {

// Runs curl_global_init once per process; later calls only repeat its verdict.
// Throws std::runtime_error when libcurl cannot be initialised.
void EnsureCurlGlobalInit();

// Sole owner of one libcurl easy handle. Empty when curl_easy_init failed.
//
// A Reuse::Thread handle comes from the calling thread's own small pool and
// goes back to it when released, with every option reset to libcurl's default
// (method, headers, body, range, callbacks, share) but its live connections and
// TLS sessions kept: the next request to the same host skips the TCP and TLS
// handshakes. Such a handle must be released on the thread that made it, and
// must not switch on its own cookie engine (a client's cookie share is fine).
class CurlEasy {
public:
    enum class Reuse { None, Thread };

    explicit CurlEasy(Reuse reuse = Reuse::None);
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CurlEasy(CurlEasy&& other) noexcept;
    CurlEasy& operator=(CurlEasy&& other) noexcept;

    CURL* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    // Gives the handle back now (to the pool, or to libcurl); empty afterwards.
    void Release() noexcept;

private:
    CURL* m_handle = nullptr;
    bool m_pooled = false;
};

// The connections the calling thread's requests have opened so far (a reused
// connection is not counted again): shows whether reuse works.
unsigned long ConnectionsOpenedOnThisThread();

// Sole owner of a libcurl header list. Append throws std::bad_alloc when the
// list cannot grow, so a request never goes out with headers missing.
class CurlSlist {
public:
    CurlSlist() = default;
    // Takes over a list libcurl handed out (e.g. CURLINFO_COOKIELIST).
    explicit CurlSlist(curl_slist* list) : m_list(list) {}
    ~CurlSlist();
    CurlSlist(const CurlSlist&) = delete;
    CurlSlist& operator=(const CurlSlist&) = delete;
    CurlSlist(CurlSlist&& other) noexcept;
    CurlSlist& operator=(CurlSlist&& other) noexcept;

    void Append(const char* line);
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

// Sole owner of a libcurl share handle. Empty when curl_share_init failed.
class CurlShare {
public:
    CurlShare() = default;
    explicit CurlShare(CURLSH* share) : m_share(share) {}
    ~CurlShare();
    CurlShare(const CurlShare&) = delete;
    CurlShare& operator=(const CurlShare&) = delete;
    CurlShare(CurlShare&& other) noexcept;
    CurlShare& operator=(CurlShare&& other) noexcept;

    CURLSH* get() const { return m_share; }
    explicit operator bool() const { return m_share != nullptr; }

private:
    CURLSH* m_share = nullptr;
};

}  // namespace tallowdesk
