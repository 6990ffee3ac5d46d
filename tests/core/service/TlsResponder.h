#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tallowdesk::test {

// A tiny HTTPS responder on 127.0.0.1 (port 0) with a certificate made at start-up.
// It answers connections one after another with scripted replies (one per
// request, "Connection: close") and records what it received.
class TlsResponder {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::vector<std::string> headers;  // extra header lines, e.g. "Set-Cookie: a=b"
    };
    struct Request {
        std::string method;
        std::string target;
        std::vector<std::string> headerLines;               // as sent, in order
        std::string body;                                   // de-chunked
        std::string Header(const std::string& name) const;  // value, or "" when absent
    };

    TlsResponder();
    ~TlsResponder();
    TlsResponder(const TlsResponder&) = delete;
    TlsResponder& operator=(const TlsResponder&) = delete;

    void Push(Reply reply);
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string Url(const std::string& path) const { return "https://" + HostPort() + path; }
    const std::string& CertFile() const { return m_certFile; }
    std::vector<Request> Requests();

private:
    void Serve();
    void HandleConnection(int fd);

    void* m_ctx = nullptr;  // SSL_CTX
    int m_listenFd = -1;
    int m_port = 0;
    std::string m_certFile;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::deque<Reply> m_replies;
    std::vector<Request> m_requests;
    std::thread m_thread;
};

}  // namespace tallowdesk::test
