#include "Server.h"

#include <sys/resource.h>

#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Crypto.h"
#include "DemoContent.h"
#include "Limits.h"
#include "RequestLog.h"
#include "Router.h"
#include "Store.h"
#include "UploadSink.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::server {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

constexpr std::uint32_t kHeaderLimit = 16 * 1024;
constexpr auto kIdleTimeout = std::chrono::seconds(60);
// A client sends its first bytes (the TLS hello) at once after connecting.
constexpr auto kHandshakeTimeout = std::chrono::seconds(10);
// How long a kept-alive connection may wait for its next request, and how
// long any wait may last once the connections near their cap: idle ones
// then make room for new ones quickly.
constexpr auto kKeepAliveTimeout = std::chrono::seconds(30);
constexpr auto kCrowdedTimeout = std::chrono::seconds(2);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr std::uint64_t kDrainLimit = 4 * 1024 * 1024;

std::string HttpDate() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buffer;
}

// Counts open connections against their cap; one Slot per connection.
class ConnectionGate {
public:
    explicit ConnectionGate(int cap) : m_cap(cap) {}
    class Slot {
    public:
        explicit Slot(std::shared_ptr<ConnectionGate> gate) : m_gate(std::move(gate)) {
            ++m_gate->m_open;
        }
        ~Slot() {
            if (m_gate) --m_gate->m_open;
        }
        Slot(Slot&& other) noexcept = default;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        Slot& operator=(Slot&&) = delete;
        bool Crowded() const { return m_gate && m_gate->Crowded(); }

    private:
        // Shared: a session may outlive the listener while the service stops.
        std::shared_ptr<ConnectionGate> m_gate;
    };
    bool Full() const { return m_open.load() >= m_cap; }
    bool Crowded() const { return m_open.load() * 4 >= m_cap * 3; }

private:
    int m_cap;
    std::atomic<int> m_open{0};
};

using Slot = ConnectionGate::Slot;

bool IsParseError(const beast::error_code& ec) {
    return ec.category() == beast::error_code(http::error::bad_target).category();
}

// Reads requests one after the other on one connection and answers each
// through the router. `Derived` supplies Stream() and DoClose().
template <class Derived>
class Session {
public:
    Session(beast::flat_buffer buffer, Router& router, bool secure, Slot slot,
            net::thread_pool& slow)
        : m_buffer(std::move(buffer)),
          m_router(router),
          m_secure(secure),
          m_slot(std::move(slot)),
          m_slow(slow) {}

protected:
    void DoRead() {
        m_header.emplace();
        m_header->header_limit(kHeaderLimit);
        // Limits are set once the request is known: uploads have their own.
        m_header->body_limit(std::numeric_limits<std::uint64_t>::max());
        m_parser.reset();
        m_upload.reset();
        m_sink.reset();
        beast::get_lowest_layer(Self().Stream())
            .expires_after(m_slot.Crowded() ? kCrowdedTimeout : kKeepAliveTimeout);
        http::async_read_header(
            Self().Stream(), m_buffer, *m_header,
            beast::bind_front_handler(&Session::OnHeader, Self().shared_from_this()));
    }

    beast::flat_buffer m_buffer;

private:
    Derived& Self() { return static_cast<Derived&>(*this); }

    template <class Fields>
    HttpRequest ToRequest(const http::request_header<Fields>& in) {
        HttpRequest request;
        request.method = std::string(in.method_string());
        request.target = std::string(in.target());
        for (const auto& field : in) {
            request.headers.emplace_back(std::string(field.name_string()),
                                         std::string(field.value()));
        }
        request.secure = m_secure;
        beast::error_code ec;
        const auto peer = beast::get_lowest_layer(Self().Stream()).socket().remote_endpoint(ec);
        if (!ec) request.remoteAddress = peer.address().to_string();
        return request;
    }

    void OnHeader(beast::error_code ec, std::size_t) {
        if (ec) return OnError(ec);
        const auto& in = m_header->get();
        m_version = in.version();
        m_keepAlive = in.keep_alive();
        if (!m_header->is_done()) {
            auto plan = m_router.PlanUpload(ToRequest(in));
            if (plan && plan->refusal) {
                // Refused before a byte of the body is read.
                m_drain = true;
                return Send(*plan->refusal, m_version, false, false);
            }
            if (plan) {
                m_upload.emplace(std::move(*m_header));
                m_upload->body_limit(std::numeric_limits<std::uint64_t>::max());
                m_upload->get().body() = plan->sink;
                m_sink = plan->sink;
                return Continue([self = Self().shared_from_this()] { self->ReadUpload(); });
            }
            // Everything but a planned upload is small by nature (forms,
            // Atom entries, rules, session requests): refused unread when
            // announced larger, cut off when it grows larger.
            const auto length = m_header->content_length();
            if (length && *length > kMaxSmallBody) return SendBare(413, "Request body too large");
        }
        m_parser.emplace(std::move(*m_header));
        m_parser->body_limit(kMaxSmallBody);
        if (m_parser->is_done()) return OnRead({}, 0);
        Continue([self = Self().shared_from_this()] { self->ReadBody(); });
    }

    // libcurl announces larger bodies with "Expect: 100-continue" and waits a
    // second for the interim answer before it sends them.
    template <class Next>
    void Continue(Next next) {
        const auto expect =
            m_upload ? m_upload->get()[http::field::expect] : m_parser->get()[http::field::expect];
        if (!EqualsIgnoreCase(std::string_view(expect.data(), expect.size()), "100-continue")) {
            return next();
        }
        auto interim =
            std::make_shared<http::response<http::empty_body>>(http::status::continue_, m_version);
        http::async_write(Self().Stream(), *interim,
                          [interim, next](beast::error_code wec, std::size_t) {
                              if (!wec) next();
                          });
    }

    void ReadBody() {
        http::async_read(Self().Stream(), m_buffer, *m_parser,
                         beast::bind_front_handler(&Session::OnRead, Self().shared_from_this()));
    }

    // Piece by piece, so the idle timeout counts from the last bytes that
    // came rather than from the start of a long upload.
    void ReadUpload() {
        beast::get_lowest_layer(Self().Stream()).expires_after(kIdleTimeout);
        http::async_read_some(
            Self().Stream(), m_buffer, *m_upload,
            [self = Self().shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec || self->m_upload->is_done()) return self->OnUpload(ec, 0);
                self->ReadUpload();
            });
    }

    void OnUpload(beast::error_code ec, std::size_t) {
        if (ec && m_sink && m_sink->Status() != 0) {
            HttpResponse refusal = GDataError(
                m_sink->Status(), m_sink->Status() == 413 ? "fileTooLarge" : "uploadRefused",
                m_sink->Reason());
            m_upload.reset();
            m_sink.reset();  // the partial file goes now
            m_drain = true;
            return Send(refusal, m_version, false, false);
        }
        if (ec) {
            m_sink.reset();
            return OnError(ec);
        }
        HttpRequest request = ToRequest(m_upload->get());
        HttpResponse answer = m_router.FinishUpload(request, *m_sink);
        // The parser holds the sink too: both go before the answer does, so
        // no temporary file outlives the request the client sees answered.
        m_upload.reset();
        m_sink.reset();
        Send(answer, m_version, m_keepAlive, false);
    }

    void OnError(beast::error_code ec) {
        if (ec == http::error::end_of_stream) return Self().DoClose();
        if (ec == http::error::header_limit) {
            return SendBare(431, "Request header fields too large");
        }
        if (ec == http::error::body_limit) return SendBare(413, "Request body too large");
        if (IsParseError(ec)) return SendBare(400, "Malformed HTTP request");
        // timeout or connection gone
    }

    void OnRead(beast::error_code ec, std::size_t) {
        if (ec) return OnError(ec);
        const auto& in = m_parser->get();
        HttpRequest request = ToRequest(in);
        request.body = in.body();
        const unsigned version = in.version();
        const bool keepAlive = in.keep_alive();
        const bool head = request.method == "HEAD";
        if (m_router.IsSlow(request)) {
            // Password hashing runs on its own threads so that sign-ins
            // never hold up the answers of other connections.
            net::post(m_slow, [self = Self().shared_from_this(), request = std::move(request),
                               version, keepAlive, head]() mutable {
                auto answer = std::make_shared<HttpResponse>(self->m_router.Handle(request));
                auto executor = self->Stream().get_executor();
                net::post(executor, [self, answer, version, keepAlive, head] {
                    self->Send(*answer, version, keepAlive, head);
                });
            });
            return;
        }
        HttpResponse answer = m_router.Handle(request);
        Send(answer, version, keepAlive, head);
    }

    void SendBare(int status, const std::string& text) {
        m_drain = true;
        HttpResponse answer;
        answer.status = status;
        answer.Set("Content-Type", "text/plain; charset=UTF-8");
        answer.body = text + "\n";
        Send(answer, 11, false, false);
    }

    void Send(const HttpResponse& answer, unsigned version, bool keepAlive, bool head) {
        if (!answer.bodyFile.empty() && !head) {
            // File contents go out in pieces straight from disk.
            http::file_body::value_type file;
            beast::error_code ec;
            file.open(answer.bodyFile.c_str(), beast::file_mode::scan, ec);
            if (!answer.removeAfterOpen.empty()) {
                std::error_code ignored;
                std::filesystem::remove_all(answer.removeAfterOpen, ignored);
            }
            if (ec) return SendBare(500, "The stored content cannot be read");
            auto response = std::make_shared<http::response<http::file_body>>();
            Fill(*response, answer, version, keepAlive);
            response->body() = std::move(file);
            response->prepare_payload();
            return WriteFile(response, !keepAlive);
        }
        auto response = std::make_shared<http::response<http::string_body>>();
        Fill(*response, answer, version, keepAlive);
        response->body() = head ? std::string() : answer.body;
        response->prepare_payload();
        if (head) response->content_length(answer.body.size());
        Write(response, !keepAlive);
    }

    template <class Body>
    static void Fill(http::response<Body>& response, const HttpResponse& answer, unsigned version,
                     bool keepAlive) {
        response.version(version);
        response.result(static_cast<unsigned>(answer.status));
        response.set(http::field::server, "tallowdesk-server");
        response.set(http::field::date, HttpDate());
        for (const auto& [name, value] : answer.headers) response.insert(name, value);
        response.keep_alive(keepAlive);
    }

    template <class Body>
    void Write(std::shared_ptr<http::response<Body>> response, bool close) {
        m_response = response;
        http::async_write(
            Self().Stream(), *response,
            beast::bind_front_handler(&Session::OnWrite, Self().shared_from_this(), close));
    }

    // Large files go out piece by piece with the idle timeout renewed for each.
    void WriteFile(std::shared_ptr<http::response<http::file_body>> response, bool close) {
        m_response = response;
        auto serializer = std::make_shared<http::response_serializer<http::file_body>>(*response);
        WriteFilePiece(serializer, close);
    }

    void WriteFilePiece(std::shared_ptr<http::response_serializer<http::file_body>> serializer,
                        bool close) {
        beast::get_lowest_layer(Self().Stream()).expires_after(kIdleTimeout);
        http::async_write_some(Self().Stream(), *serializer,
                               [self = Self().shared_from_this(), serializer, close](
                                   beast::error_code ec, std::size_t bytes) {
                                   if (ec || serializer->is_done())
                                       return self->OnWrite(close, ec, bytes);
                                   self->WriteFilePiece(serializer, close);
                               });
    }

    void OnWrite(bool close, beast::error_code ec, std::size_t) {
        m_response.reset();
        if (ec) return;
        if (close && m_drain) return Drain();
        if (close) return Self().DoClose();
        DoRead();
    }

    // After refusing a request we have not read to its end, read and drop the
    // rest for a moment: closing with unread data would reset the connection
    // and the client could lose our answer. Bounded in time and bytes, since
    // a refused upload may be a gigabyte long.
    void Drain() {
        if (m_drained == 0) {
            beast::get_lowest_layer(Self().Stream()).expires_after(kDrainTimeout);
        }
        Self().Stream().async_read_some(
            net::buffer(m_scratch),
            [self = Self().shared_from_this()](beast::error_code ec, std::size_t bytes) {
                self->m_drained += bytes;
                if (ec || self->m_drained > kDrainLimit) return self->DoClose();
                self->Drain();
            });
    }

    Router& m_router;
    bool m_secure;
    Slot m_slot;
    net::thread_pool& m_slow;
    std::optional<http::request_parser<http::empty_body>> m_header;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<http::request_parser<UploadBody>> m_upload;
    std::shared_ptr<UploadSink> m_sink;
    unsigned m_version = 11;
    bool m_keepAlive = false;
    std::shared_ptr<void> m_response;  // the answer being written
    bool m_drain = false;
    std::uint64_t m_drained = 0;
    std::array<char, 4096> m_scratch{};
};

class PlainSession : public Session<PlainSession>,
                     public std::enable_shared_from_this<PlainSession> {
public:
    PlainSession(beast::tcp_stream&& stream, beast::flat_buffer&& buffer, Router& router, Slot slot,
                 net::thread_pool& slow)
        : Session(std::move(buffer), router, false, std::move(slot), slow),
          m_stream(std::move(stream)) {}

    void Run() { DoRead(); }
    beast::tcp_stream& Stream() { return m_stream; }
    void DoClose() {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

private:
    beast::tcp_stream m_stream;
};

class SslSession : public Session<SslSession>, public std::enable_shared_from_this<SslSession> {
public:
    SslSession(beast::tcp_stream&& stream, ssl::context& context, beast::flat_buffer&& buffer,
               Router& router, Slot slot, net::thread_pool& slow)
        : Session(std::move(buffer), router, true, std::move(slot), slow),
          m_stream(std::move(stream), context) {}

    void Run() {
        beast::get_lowest_layer(m_stream).expires_after(kHandshakeTimeout);
        // The detector already read the start of the handshake into the buffer.
        m_stream.async_handshake(
            ssl::stream_base::server, m_buffer.data(),
            beast::bind_front_handler(&SslSession::OnHandshake, shared_from_this()));
    }
    beast::ssl_stream<beast::tcp_stream>& Stream() { return m_stream; }
    void DoClose() {
        beast::get_lowest_layer(m_stream).expires_after(kHandshakeTimeout);
        m_stream.async_shutdown([self = shared_from_this()](beast::error_code) {});
    }

private:
    void OnHandshake(beast::error_code ec, std::size_t used) {
        if (ec) return;
        m_buffer.consume(used);
        DoRead();
    }

    beast::ssl_stream<beast::tcp_stream> m_stream;
};

// Looks at the first bytes of a new connection to tell TLS from plain HTTP.
class Detector : public std::enable_shared_from_this<Detector> {
public:
    Detector(tcp::socket&& socket, ssl::context& context, Router& router, Slot slot,
             net::thread_pool& slow)
        : m_stream(std::move(socket)),
          m_context(context),
          m_router(router),
          m_slot(std::move(slot)),
          m_slow(slow) {}

    void Run() {
        m_stream.expires_after(m_slot.Crowded() ? kCrowdedTimeout : kHandshakeTimeout);
        beast::async_detect_ssl(m_stream, m_buffer,
                                beast::bind_front_handler(&Detector::OnDetect, shared_from_this()));
    }

private:
    void OnDetect(beast::error_code ec, bool tls) {
        if (ec) return;
        if (tls) {
            std::make_shared<SslSession>(std::move(m_stream), m_context, std::move(m_buffer),
                                         m_router, std::move(m_slot), m_slow)
                ->Run();
        } else {
            std::make_shared<PlainSession>(std::move(m_stream), std::move(m_buffer), m_router,
                                           std::move(m_slot), m_slow)
                ->Run();
        }
    }

    beast::tcp_stream m_stream;
    ssl::context& m_context;
    Router& m_router;
    Slot m_slot;
    net::thread_pool& m_slow;
    beast::flat_buffer m_buffer;
};

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(net::io_context& io, ssl::context& context, Router& router, const tcp::endpoint& at,
             int maxConnections, net::thread_pool& slow)
        : m_io(io),
          m_acceptor(io),
          m_retry(io),
          m_context(context),
          m_router(router),
          m_gate(std::make_shared<ConnectionGate>(maxConnections)),
          m_slow(slow) {
        m_acceptor.open(at.protocol());
        m_acceptor.set_option(net::socket_base::reuse_address(true));
        m_acceptor.bind(at);
        m_acceptor.listen(net::socket_base::max_listen_connections);
    }

    unsigned short Port() const { return m_acceptor.local_endpoint().port(); }
    void Run() { DoAccept(); }

private:
    void DoAccept() {
        m_acceptor.async_accept(net::make_strand(m_io),
                                beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
    }

    void OnAccept(beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !m_acceptor.is_open()) return;
        if (ec) {
            // Out of file descriptors (or another passing failure): the
            // waiting connection stays queued, so trying again at once would
            // spin. Wait, longer each time, until an accept succeeds.
            m_backoff = std::min<std::chrono::milliseconds>(
                std::max(m_backoff * 2, std::chrono::milliseconds(20)),
                std::chrono::milliseconds(1000));
            m_retry.expires_after(m_backoff);
            m_retry.async_wait([self = shared_from_this()](beast::error_code wec) {
                if (!wec) self->DoAccept();
            });
            return;
        }
        m_backoff = std::chrono::milliseconds(0);
        if (m_gate->Full()) {
            // Closed at once rather than left queued: the client learns now.
            beast::error_code ignored;
            socket.close(ignored);
        } else {
            std::make_shared<Detector>(std::move(socket), m_context, m_router, Slot(m_gate), m_slow)
                ->Run();
        }
        DoAccept();
    }

    net::io_context& m_io;
    tcp::acceptor m_acceptor;
    net::steady_timer m_retry;
    std::chrono::milliseconds m_backoff{0};
    ssl::context& m_context;
    Router& m_router;
    std::shared_ptr<ConnectionGate> m_gate;
    net::thread_pool& m_slow;
};

// Connections use one descriptor, or two while a file goes up or down; the
// rest of the limit stays for the database and logs.
int ConnectionCap(int wanted) {
    if (wanted > 0) return wanted;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1024;
    const auto room = static_cast<long long>(limit.rlim_cur) - 64;
    return static_cast<int>(std::clamp<long long>(room / 2, 8, 1024));
}

}  // namespace

struct Server::Impl {
    ServerOptions options;
    std::unique_ptr<Store> store;
    std::unique_ptr<RequestLog> log;
    std::unique_ptr<Router> router;
    std::unique_ptr<ssl::context> tls;
    // Destroyed before the state above: pending handlers hold sessions that use it.
    std::unique_ptr<net::thread_pool> slow;
    std::unique_ptr<net::io_context> io;
    std::shared_ptr<Listener> listener;
    std::vector<std::thread> threads;
    unsigned short port = 0;
    bool started = false;
};

Server::Server(ServerOptions options) : m_impl(std::make_unique<Impl>()) {
    if (options.dataDir.empty()) options.dataDir = tallowdesk::DefaultServerDataDir();
    if (options.pageSize == 0) throw std::runtime_error("The page size must be at least 1");
    std::filesystem::create_directories(options.dataDir);
    m_impl->options = options;
    m_impl->store = std::make_unique<Store>(options.dataDir, options.passwordIterations);
    const Reconciliation& found = m_impl->store->LastReconciliation();
    for (const auto& name : found.quarantined) {
        std::cerr << "tallowdesk-server: content/" << name
                  << " belongs to no entry; moved to quarantine/\n";
    }
    for (const auto& id : found.missing) {
        std::cerr << "tallowdesk-server: the content of entry " << id << " is missing\n";
    }
    if (!options.requestLogPath.empty()) {
        m_impl->log =
            std::make_unique<RequestLog>(options.requestLogPath, options.redactRequestLog);
    }
    m_impl->router =
        std::make_unique<Router>(*m_impl->store, options.pageSize, m_impl->log.get(),
                                 (std::filesystem::path(options.dataDir) / "content").string());
    m_impl->router->Updates().SetFolder(options.updateDir);
    const bool loopback = options.bindAddress.rfind("127.", 0) == 0 || options.bindAddress == "::1";
    m_impl->router->Web().Accounts().SetOpenSignUp(options.openSignUp.value_or(loopback));
    m_impl->router->SetHostNames(options.hostNames);
}

Server::~Server() {
    Stop();
}

unsigned short Server::Start() {
    if (m_impl->started) throw std::runtime_error("The server has already been started");
    EnsureCertificate(CertPath(), KeyPath());
    auto tls = std::make_unique<ssl::context>(ssl::context::tls_server);
    tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                     ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    tls->use_certificate_chain_file(CertPath());
    tls->use_private_key_file(KeyPath(), ssl::context::pem);
    m_impl->tls = std::move(tls);

    m_impl->slow = std::make_unique<net::thread_pool>(
        static_cast<std::size_t>(std::max(1, m_impl->options.hashThreads)));
    m_impl->io = std::make_unique<net::io_context>(m_impl->options.ioThreads);
    beast::error_code ec;
    const auto address = net::ip::make_address(m_impl->options.bindAddress, ec);
    if (ec) throw std::runtime_error("Invalid bind address " + m_impl->options.bindAddress);
    try {
        m_impl->listener = std::make_shared<Listener>(*m_impl->io, *m_impl->tls, *m_impl->router,
                                                      tcp::endpoint(address, m_impl->options.port),
                                                      ConnectionCap(m_impl->options.maxConnections),
                                                      *m_impl->slow);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error("Cannot listen on " + m_impl->options.bindAddress + ":" +
                                 std::to_string(m_impl->options.port) + ": " + e.what());
    }
    m_impl->port = m_impl->listener->Port();
    m_impl->listener->Run();
    m_impl->started = true;
    for (int i = 0; i < std::max(1, m_impl->options.ioThreads); ++i) {
        m_impl->threads.emplace_back([io = m_impl->io.get()] { io->run(); });
    }
    return m_impl->port;
}

void Server::Stop() {
    if (!m_impl || !m_impl->io) return;
    // Sign-ins still hashing finish first; their answers then go nowhere.
    m_impl->slow->join();
    m_impl->io->stop();
    for (auto& t : m_impl->threads) {
        if (t.joinable()) t.join();
    }
    m_impl->threads.clear();
    m_impl->listener.reset();
    m_impl->io.reset();
    m_impl->slow.reset();
}

unsigned short Server::Port() const {
    return m_impl->port;
}
const std::string& Server::DataDir() const {
    return m_impl->options.dataDir;
}
std::string Server::CertPath() const {
    return (std::filesystem::path(m_impl->options.dataDir) / "cert.pem").string();
}
std::string Server::KeyPath() const {
    return (std::filesystem::path(m_impl->options.dataDir) / "key.pem").string();
}

Store& Server::GetStore() {
    return *m_impl->store;
}

void Server::AddUser(const std::string& email, const std::string& password,
                     const std::string& displayName) {
    m_impl->store->AddAccount(email, password,
                              displayName.empty() ? email.substr(0, email.find('@')) : displayName);
}

void Server::SeedDemo() {
    SeedDemoContent(*m_impl->store);
}

void Server::SetCaptchaRequired(const std::string& email, bool required) {
    m_impl->store->SetCaptchaRequired(NormalEmail(email), required);
}

void Server::SetAccountDisabled(const std::string& email, bool disabled) {
    m_impl->store->SetDisabled(NormalEmail(email), disabled);
}

std::optional<std::string> Server::CaptchaAnswer(const std::string& token) const {
    return m_impl->router->SignIn().CaptchaAnswer(token);
}

void Server::SetSessionUrlStyle(AnswerStyle style) {
    m_impl->router->Uploads().SetSessionUrlStyle(style);
}

void Server::SetEntryIdStyle(AnswerStyle style) {
    m_impl->router->Uploads().SetEntryIdStyle(style);
}

void Server::SetPageSize(std::size_t pageSize) {
    if (pageSize == 0) throw std::runtime_error("The page size must be at least 1");
    m_impl->router->Feeds().SetPageSize(pageSize);
}

}  // namespace tallowdesk::server
