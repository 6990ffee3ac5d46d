#include "TlsResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "Headers.h"

namespace tallowdesk::test {

namespace {

SSL_CTX* Ctx(void* p) {
    return static_cast<SSL_CTX*>(p);
}

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// Self-signed P-256 certificate for 127.0.0.1, written to certFile.
SSL_CTX* MakeContext(const std::string& certFile) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* cert = X509_new();
    if (!key || !cert) throw std::runtime_error("key generation");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    if (X509_sign(cert, key, EVP_sha256()) == 0) throw std::runtime_error("certificate signing");

    FILE* out = std::fopen(certFile.c_str(), "w");
    if (!out) throw std::runtime_error("certificate file");
    PEM_write_X509(out, cert);
    std::fclose(out);

    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ctx;
}

bool ReadSome(SSL* ssl, std::string& into) {
    char chunk[4096];
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void WriteAll(SSL* ssl, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const int n = SSL_write(ssl, text.data() + sent, static_cast<int>(text.size() - sent));
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string TlsResponder::Request::Header(const std::string& name) const {
    return HeaderValue(headerLines, name);
}

TlsResponder::TlsResponder() {
    // A client that aborts mid-transfer has closed its socket; writing the
    // reply must then fail quietly, not kill the test process.
    static const bool sigpipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)sigpipeIgnored;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tallowdesk-tls-" + std::to_string(::getpid()) + "-" +
                      std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(dir);
    m_certFile = (dir / "cert.pem").string();
    m_ctx = MakeContext(m_certFile);

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 8) != 0) {
        throw std::runtime_error("listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

TlsResponder::~TlsResponder() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
    SSL_CTX_free(Ctx(m_ctx));
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(m_certFile).parent_path(), ec);
}

void TlsResponder::Push(Reply reply) {
    std::lock_guard guard(m_lock);
    m_replies.push_back(std::move(reply));
}

std::vector<TlsResponder::Request> TlsResponder::Requests() {
    std::lock_guard guard(m_lock);
    return m_requests;
}

void TlsResponder::Serve() {
    while (!m_stop) {
        pollfd waiting{m_listenFd, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A client that stalls must not hold the responder (and the test) for ever.
        const timeval deadline{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &deadline, sizeof deadline);
        HandleConnection(fd);
        ::close(fd);
    }
}

void TlsResponder::HandleConnection(int fd) {
    SSL* ssl = SSL_new(Ctx(m_ctx));
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) {  // e.g. the client refused our certificate
        SSL_free(ssl);
        return;
    }
    std::string data;
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!ReadSome(ssl, data)) {
            SSL_free(ssl);
            return;
        }
    }
    Request request;
    {
        const std::string head = data.substr(0, headEnd);
        std::size_t lineStart = 0;
        bool first = true;
        while (lineStart <= head.size()) {
            auto lineEnd = head.find("\r\n", lineStart);
            if (lineEnd == std::string::npos) lineEnd = head.size();
            const std::string line = head.substr(lineStart, lineEnd - lineStart);
            if (first) {
                const auto sp1 = line.find(' ');
                const auto sp2 = line.find(' ', sp1 + 1);
                request.method = line.substr(0, sp1);
                request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
                first = false;
            } else {
                request.headerLines.push_back(line);
            }
            lineStart = lineEnd + 2;
        }
    }
    std::string rest = data.substr(headEnd + 4);
    if (Lower(request.Header("Expect")) == "100-continue") {
        WriteAll(ssl, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    if (Lower(request.Header("Transfer-Encoding")) == "chunked") {
        while (true) {
            auto lineEnd = rest.find("\r\n");
            while (lineEnd == std::string::npos && ReadSome(ssl, rest)) lineEnd = rest.find("\r\n");
            if (lineEnd == std::string::npos) break;
            const std::size_t size = std::stoul(rest.substr(0, lineEnd), nullptr, 16);
            while (rest.size() < lineEnd + 2 + size + 2 && ReadSome(ssl, rest)) {
            }
            if (size == 0) break;
            request.body += rest.substr(lineEnd + 2, size);
            rest.erase(0, lineEnd + 2 + size + 2);
        }
    } else if (const std::string length = request.Header("Content-Length"); !length.empty()) {
        const std::size_t wanted = std::stoul(length);
        while (rest.size() < wanted && ReadSome(ssl, rest)) {
        }
        request.body = rest.substr(0, wanted);
    }

    Reply reply{500, "no reply scripted", {}};
    {
        std::lock_guard guard(m_lock);
        m_requests.push_back(request);
        if (!m_replies.empty()) {
            reply = std::move(m_replies.front());
            m_replies.pop_front();
        }
    }
    std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n";
    for (const std::string& line : reply.headers) response += line + "\r\n";
    response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n" + reply.body;
    WriteAll(ssl, response);
    SSL_shutdown(ssl);
    SSL_free(ssl);
}

}  // namespace tallowdesk::test
