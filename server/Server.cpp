#include "Server.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "Crypto.h"
#include "DemoContent.h"
#include "FolderLock.h"
#include "HalfOpenGate.h"
#include "Limits.h"
#include "NetworkAddress.h"
#include "RequestLog.h"
#include "Router.h"
#include "SharedState.h"
#include "SourceKey.h"
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
using IdleClock = std::chrono::steady_clock;
// A client sends its first bytes (the TLS hello) at once after connecting,
// and its first request right after the handshake: all of that within this
// time from the connection's start, or it is closed.
constexpr auto kFirstRequestTimeout = std::chrono::seconds(10);
// How long a closing TLS connection waits for the peer's close_notify.
constexpr auto kShutdownTimeout = std::chrono::seconds(10);
// Half-open connections (no whole first request head yet) from one source
// at most, unless configured.
constexpr std::size_t kHalfOpenPerSource = 128;
// How long a kept-alive connection may wait for its next request, and how
// long any wait may last once the connections near their cap: idle ones
// then make room for new ones quickly.
constexpr auto kKeepAliveTimeout = std::chrono::seconds(30);
constexpr auto kCrowdedTimeout = std::chrono::seconds(2);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr std::uint64_t kDrainLimit = 4 * 1024 * 1024;
// Uploads reach the parser and downloads leave the disk in pieces this large:
// a TLS record holds at most 16 KiB, and handing those on one by one costs
// more in calls than the bytes cost to copy.
constexpr std::size_t kPieceSize = 256 * 1024;
// A reply buffer that grew for a long feed is not kept for the connection's life.
constexpr std::size_t kKeptReplyCapacity = 1024 * 1024;

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

// What closes a connection that must make way for a newer half-open one.
// Set and run only on the connection's own executor, by whichever object
// holds its socket at the time (the detector, then the session).
struct AbortHook {
    std::function<void()> abort;
};

// A connection until its first request head has come: its place among the
// half-open ones and the time by which that head must be there.
struct FirstRequest {
    std::unique_ptr<HalfOpenGate::Ticket> ticket;
    std::shared_ptr<AbortHook> hook;
    std::chrono::steady_clock::time_point deadline;

    // The head came: the connection is a client's now.
    void Done() {
        ticket.reset();
        if (hook) hook->abort = nullptr;
    }
};

// Sole owner of an open file's descriptor.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0) ::close(m_fd);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// What a connection may do, fixed by the address it came in on.
struct ConnectionPolicy {
    // Plain HTTP carries passwords and session cookies in the clear: only
    // loopback connections, which never leave the machine, may use it.
    bool httpsOnly = false;
    std::vector<std::string> trustedProxies;
    std::string publicOrigin;                 // empty: URLs follow the Host header
    std::chrono::milliseconds idleTimeout{};  // ServerOptions::idleTimeout
};
using PolicyPtr = std::shared_ptr<const ConnectionPolicy>;
using TlsPtr = std::shared_ptr<ssl::context>;

// The TLS context new connections start with. Swapped whole when the
// certificate is read again; a connection keeps the one it began with.
class TlsSource {
public:
    TlsPtr Get() const {
        std::lock_guard guard(m_lock);
        return m_current;
    }
    void Set(TlsPtr context) {
        std::lock_guard guard(m_lock);
        m_current = std::move(context);
    }

private:
    mutable std::mutex m_lock;
    TlsPtr m_current;
};

// TLS 1.2 with forward-secret AEAD suites only; the CBC ones (padding
// oracles, Lucky Thirteen) and static RSA key exchange are left out. Every
// TLS 1.3 suite is AEAD. RSA variants are for a --cert with an RSA key.
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

TlsPtr MakeTlsContext(const std::string& certPath, const std::string& keyPath) {
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_server);
    tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                     ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                     ssl::context::no_compression);
    SSL_CTX* native = tls->native_handle();
    if (SSL_CTX_set_cipher_list(native, kTls12Ciphers) != 1) {
        throw std::runtime_error("The TLS cipher list was refused");
    }
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE);
    try {
        tls->use_certificate_chain_file(certPath);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error("Cannot read the certificate " + certPath + ": " + e.what());
    }
    try {
        tls->use_private_key_file(keyPath, ssl::context::pem);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error("Cannot read the key " + keyPath + ": " + e.what());
    }
    if (SSL_CTX_check_private_key(native) != 1) {
        throw std::runtime_error("The key " + keyPath + " does not belong to the certificate " +
                                 certPath);
    }
    return tls;
}

// "127.0.0.1:443", "[::1]:443".
std::string EndpointText(const tcp::endpoint& at) {
    const std::string address = at.address().to_string();
    return (at.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(at.port());
}

bool IsParseError(const beast::error_code& ec) {
    return ec.category() == beast::error_code(http::error::bad_target).category();
}

// Reads requests one after the other on one connection and answers each
// through the router. `Derived` supplies Stream() and DoClose().
template <class Derived>
class Session {
public:
    Session(beast::flat_buffer buffer, Router& router, bool secure, Slot slot,
            net::thread_pool& slow, PolicyPtr policy, FirstRequest first)
        : m_buffer(std::move(buffer)),
          m_first(std::move(first)),
          m_router(router),
          m_secure(secure),
          m_slot(std::move(slot)),
          m_slow(slow),
          m_policy(std::move(policy)) {}

protected:
    // From now on a newer half-open connection that needs the place closes
    // this one (on its executor).
    void TakeAbortHook() {
        if (!m_first.hook) return;
        m_first.hook->abort = [weak = Self().weak_from_this()] {
            if (const auto self = weak.lock()) beast::get_lowest_layer(self->Stream()).close();
        };
    }

    void DoRead() {
        m_header.emplace();
        m_header->header_limit(kHeaderLimit);
        // Limits are set once the request is known: uploads have their own.
        m_header->body_limit(std::numeric_limits<std::uint64_t>::max());
        m_parser.reset();
        m_upload.reset();
        m_sink.reset();
        if (m_first.ticket) {
            beast::get_lowest_layer(Self().Stream()).expires_at(m_first.deadline);
        } else {
            beast::get_lowest_layer(Self().Stream())
                .expires_after(m_slot.Crowded() ? kCrowdedTimeout : kKeepAliveTimeout);
        }
        http::async_read_header(
            Self().Stream(), m_buffer, *m_header,
            beast::bind_front_handler(&Session::OnHeader, Self().shared_from_this()));
    }

    beast::flat_buffer m_buffer;
    FirstRequest m_first;

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
        request.publicOrigin = m_policy->publicOrigin;
        beast::error_code ec;
        const auto peer = beast::get_lowest_layer(Self().Stream()).socket().remote_endpoint(ec);
        if (!ec) {
            request.remoteAddress = SourceAddress(peer.address().to_string(), request.headers,
                                                  m_policy->trustedProxies);
        }
        return request;
    }

    // Plain HTTP on an address other machines reach: the request goes to
    // https on the same port, or is refused when it names no host of ours.
    HttpResponse HttpsOnly(const HttpRequest& request) const {
        HttpResponse answer;
        answer.Set("Content-Type", "text/plain; charset=UTF-8");
        const auto host = request.Header("Host");
        if (host && !host->empty() && m_router.HostAllowed(request) &&
            request.target.rfind('/', 0) == 0) {
            answer.status = 308;
            answer.Set("Location",
                       (request.publicOrigin.empty() ? "https://" + *host : request.publicOrigin) +
                           request.target);
            answer.body = "This service answers over https only.\n";
        } else {
            answer.status = 400;
            answer.body = "This service answers over https only.\n";
        }
        return answer;
    }

    void OnHeader(beast::error_code ec, std::size_t) {
        if (ec) return OnError(ec);
        m_first.Done();
        const auto& in = m_header->get();
        m_version = in.version();
        m_keepAlive = in.keep_alive();
        if (!m_secure && m_policy->httpsOnly) {
            // Nothing of the request is acted on, and whatever body follows is dropped.
            m_drain = true;
            return Send(HttpsOnly(ToRequest(in)), m_version, false, false);
        }
        // A body framed by anything but a final "chunked" has no end we could
        // agree on with a proxy in front: read on, it would be answered as a
        // second request.
        if (in.find(http::field::transfer_encoding) != in.end()) {
            std::string codings;
            const auto [first, last] = in.equal_range(http::field::transfer_encoding);
            for (auto field = first; field != last; ++field) {
                if (!codings.empty()) codings += ',';
                codings.append(field->value().data(), field->value().size());
            }
            if (!EndsInChunked(codings)) {
                m_keepAlive = false;
                return SendBare(400, "Unsupported Transfer-Encoding");
            }
        }
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
                // Only the parser and the session hold the sink: a body that
                // came whole with the header is answered before this returns,
                // and the temporary file must be gone by then.
                m_sink = std::move(plan->sink);
                plan.reset();
                m_upload->get().body() = m_sink;
                return Continue([self = Self().shared_from_this()] {
                    self->WatchIdle();
                    self->ReadUpload();
                });
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

    // Hands what is buffered to the parser (and so to the upload's file),
    // then reads on in large pieces: a whole piece, or the rest of a body of
    // known length, whichever is shorter.
    void ReadUpload() {
        while (m_buffer.size() > 0 && !m_upload->is_done()) {
            beast::error_code ec;
            const std::size_t used = m_upload->put(m_buffer.data(), ec);
            m_buffer.consume(used);
            if (ec == http::error::need_more) break;
            if (ec) return OnUpload(ec, 0);
            if (used == 0) break;
        }
        if (m_upload->is_done()) return OnUpload({}, 0);
        std::size_t target = m_buffer.size() + 1;
        if (const auto left = m_upload->content_length_remaining()) {
            target = std::max<std::size_t>(
                target, static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, *left)));
        }
        FillUpload(std::min(target, kPieceSize));
    }

    void FillUpload(std::size_t target) {
        Self().Stream().async_read_some(
            m_buffer.prepare(kPieceSize - m_buffer.size()),
            [self = Self().shared_from_this(), target](beast::error_code ec, std::size_t bytes) {
                self->m_buffer.commit(bytes);
                self->m_lastProgress = IdleClock::now();
                if (ec) return self->OnUpload(ec, 0);
                if (self->m_buffer.size() < target) return self->FillUpload(target);
                self->ReadUpload();
            });
    }

    void OnUpload(beast::error_code ec, std::size_t) {
        EndIdleWatch();
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
        m_buffer.shrink_to_fit();
        Send(answer, m_version, m_keepAlive, false);
    }

    // A long body is watched by one timer of its own, told of each read or
    // write, instead of the stream's timer: that one is set again and
    // cancelled around every TLS record of 16 KiB, a system call and two
    // handlers apiece. It cuts the connection off once no byte has moved
    // for the idle time, so the pending read or write fails.
    void WatchIdle() {
        beast::get_lowest_layer(Self().Stream()).expires_never();
        m_watching = true;
        m_lastProgress = IdleClock::now();
        if (!m_idleTimer) m_idleTimer.emplace(Self().Stream().get_executor());
        ArmIdle();
    }

    void ArmIdle() {
        m_idleTimer->expires_at(m_lastProgress + m_policy->idleTimeout);
        m_idleTimer->async_wait([weak = Self().weak_from_this()](beast::error_code ec) {
            const auto self = weak.lock();
            if (ec || !self || !self->m_watching) return;
            if (IdleClock::now() - self->m_lastProgress >= self->m_policy->idleTimeout) {
                return beast::get_lowest_layer(self->Stream()).close();
            }
            self->ArmIdle();
        });
    }

    // What follows the body (the answer, the next request) has the stream's
    // own timer again.
    void EndIdleWatch() {
        m_watching = false;
        if (m_idleTimer) m_idleTimer->cancel();
        beast::get_lowest_layer(Self().Stream()).expires_after(m_policy->idleTimeout);
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
                    if (answer->delayMs <= 0) return self->Send(*answer, version, keepAlive, head);
                    // A timer, not a sleep: the wait holds up no thread.
                    auto timer = std::make_shared<net::steady_timer>(
                        self->Stream().get_executor(), std::chrono::milliseconds(answer->delayMs));
                    timer->async_wait(
                        [self, timer, answer, version, keepAlive, head](beast::error_code) {
                            self->Send(*answer, version, keepAlive, head);
                        });
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

    // Every answer leaves in one write: the header and the body (or the
    // first piece of a file) in one buffer, so no small segment goes out
    // alone and nothing waits for the peer's acknowledgement.
    void Send(const HttpResponse& answer, unsigned version, bool keepAlive, bool head) {
        http::response<http::empty_body> fields;
        fields.version(version);
        fields.result(static_cast<unsigned>(answer.status));
        fields.set(http::field::server, "tallowdesk-server");
        fields.set(http::field::date, HttpDate());
        for (const auto& [name, value] : answer.headers) fields.insert(name, value);
        // No page of ours may be framed by another site's page, which could
        // trick a click on a form (sign-in, account, upload); a page made to
        // be framed by our own says so itself.
        if (fields[http::field::content_type].starts_with("text/html")) {
            if (fields.find(http::field::x_frame_options) == fields.end()) {
                fields.set(http::field::x_frame_options, "DENY");
            }
            if (fields.find("Content-Security-Policy") == fields.end()) {
                fields.set("Content-Security-Policy", "frame-ancestors 'none'");
            }
        }
        fields.keep_alive(keepAlive);
        if (!answer.bodyFile.empty()) return SendFile(answer, fields, !keepAlive, head);
        // Informational, 204 and 304 answers carry no body and no length.
        const bool bodiless = answer.status < 200 || answer.status == 204 || answer.status == 304;
        if (!bodiless) fields.content_length(answer.body.size());
        m_reply.clear();
        AppendHead(m_reply, fields);
        if (!head && !bodiless) m_reply += answer.body;
        WriteReply(!keepAlive);
    }

    static void AppendHead(std::string& out, const http::response<http::empty_body>& fields) {
        out += fields.version() == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
        out += std::to_string(fields.result_int());
        out += ' ';
        const auto reason = fields.reason();
        out.append(reason.data(), reason.size());
        out += "\r\n";
        for (const auto& field : fields) {
            const auto name = field.name_string();
            const auto value = field.value();
            out.append(name.data(), name.size());
            out += ": ";
            out.append(value.data(), value.size());
            out += "\r\n";
        }
        out += "\r\n";
    }

    void WriteReply(bool close) {
        net::async_write(
            Self().Stream(), net::buffer(m_reply),
            [self = Self().shared_from_this(), close](beast::error_code ec, std::size_t bytes) {
                if (self->m_reply.capacity() > kKeptReplyCapacity) {
                    std::string().swap(self->m_reply);
                }
                self->OnWrite(close, ec, bytes);
            });
    }

    // File contents go out straight from disk through one buffer that the
    // connection keeps, a piece at a time.
    void SendFile(const HttpResponse& answer, http::response<http::empty_body>& fields, bool close,
                  bool head) {
        m_file = FileHandle(::open(answer.bodyFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (!answer.removeAfterOpen.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(answer.removeAfterOpen, ignored);
        }
        struct stat info {};
        if (!m_file || ::fstat(m_file.Get(), &info) != 0) {
            m_file = FileHandle();
            return SendBare(500, "The stored content cannot be read");
        }
        fields.content_length(static_cast<std::uint64_t>(info.st_size));
        m_reply.clear();
        AppendHead(m_reply, fields);
        if (head) {
            m_file = FileHandle();
            return WriteReply(close);
        }
        ::posix_fadvise(m_file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        if (!m_piece) m_piece.reset(new char[kPieceSize]);
        m_fileLeft = static_cast<std::uint64_t>(info.st_size);
        WatchIdle();
        if (m_reply.size() > kPieceSize / 2) {
            // An outsize header goes first on its own.
            return net::async_write(
                Self().Stream(), net::buffer(m_reply),
                [self = Self().shared_from_this(), close](beast::error_code ec, std::size_t bytes) {
                    self->m_lastProgress = IdleClock::now();
                    if (!ec) return self->NextFilePiece(0, close);
                    self->m_file = FileHandle();
                    self->EndIdleWatch();
                    self->OnWrite(close, ec, bytes);
                });
        }
        std::memcpy(m_piece.get(), m_reply.data(), m_reply.size());
        NextFilePiece(m_reply.size(), close);
    }

    // Fills the buffer after its first `used` bytes from the file and writes it.
    void NextFilePiece(std::size_t used, bool close) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize - used, m_fileLeft));
        std::size_t got = 0;
        while (got < room) {
            const ssize_t n = ::read(m_file.Get(), m_piece.get() + used + got, room - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // The file shrank or cannot be read: the length is already
                // promised, so the client must see the answer cut short.
                m_file = FileHandle();
                EndIdleWatch();
                beast::get_lowest_layer(Self().Stream()).close();
                return;
            }
            got += static_cast<std::size_t>(n);
        }
        m_fileLeft -= got;
        WritePiece(0, used + got, close);
    }

    void WritePiece(std::size_t from, std::size_t to, bool close) {
        Self().Stream().async_write_some(net::buffer(m_piece.get() + from, to - from),
                                         [self = Self().shared_from_this(), from, to, close](
                                             beast::error_code ec, std::size_t bytes) {
                                             self->m_lastProgress = IdleClock::now();
                                             if (ec) {
                                                 self->m_file = FileHandle();
                                                 self->EndIdleWatch();
                                                 return self->OnWrite(close, ec, 0);
                                             }
                                             if (from + bytes < to)
                                                 return self->WritePiece(from + bytes, to, close);
                                             if (self->m_fileLeft > 0)
                                                 return self->NextFilePiece(0, close);
                                             self->m_file = FileHandle();
                                             self->EndIdleWatch();
                                             self->OnWrite(close, ec, 0);
                                         });
    }

    void OnWrite(bool close, beast::error_code ec, std::size_t) {
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
    PolicyPtr m_policy;
    std::optional<http::request_parser<http::empty_body>> m_header;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<http::request_parser<UploadBody>> m_upload;
    std::shared_ptr<UploadSink> m_sink;
    unsigned m_version = 11;
    bool m_keepAlive = false;
    std::string m_reply;  // the answer being written: header and body
    FileHandle m_file;    // the file being sent
    std::uint64_t m_fileLeft = 0;
    std::unique_ptr<char[]> m_piece;  // a piece of that file, with the header first
    bool m_drain = false;
    std::uint64_t m_drained = 0;
    std::array<char, 4096> m_scratch{};
    std::optional<net::steady_timer> m_idleTimer;
    IdleClock::time_point m_lastProgress{};
    bool m_watching = false;
};

class PlainSession : public Session<PlainSession>,
                     public std::enable_shared_from_this<PlainSession> {
public:
    PlainSession(beast::tcp_stream&& stream, beast::flat_buffer&& buffer, Router& router, Slot slot,
                 net::thread_pool& slow, PolicyPtr policy, FirstRequest first)
        : Session(std::move(buffer), router, false, std::move(slot), slow, std::move(policy),
                  std::move(first)),
          m_stream(std::move(stream)) {}

    void Run() {
        TakeAbortHook();
        DoRead();
    }
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
    SslSession(beast::tcp_stream&& stream, TlsPtr context, beast::flat_buffer&& buffer,
               Router& router, Slot slot, net::thread_pool& slow, PolicyPtr policy,
               FirstRequest first)
        : Session(std::move(buffer), router, true, std::move(slot), slow, std::move(policy),
                  std::move(first)),
          m_tls(std::move(context)),
          m_stream(std::move(stream), *m_tls) {}

    void Run() {
        TakeAbortHook();
        beast::get_lowest_layer(m_stream).expires_at(m_first.deadline);
        // The detector already read the start of the handshake into the buffer.
        m_stream.async_handshake(
            ssl::stream_base::server, m_buffer.data(),
            beast::bind_front_handler(&SslSession::OnHandshake, shared_from_this()));
    }
    beast::ssl_stream<beast::tcp_stream>& Stream() { return m_stream; }
    void DoClose() {
        beast::get_lowest_layer(m_stream).expires_after(kShutdownTimeout);
        m_stream.async_shutdown([self = shared_from_this()](beast::error_code) {});
    }

private:
    void OnHandshake(beast::error_code ec, std::size_t used) {
        if (ec) return;
        m_buffer.consume(used);
        DoRead();
    }

    TlsPtr m_tls;  // kept while the connection lasts, though a reload replaced it
    beast::ssl_stream<beast::tcp_stream> m_stream;
};

// Looks at the first bytes of a new connection to tell TLS from plain HTTP.
class Detector : public std::enable_shared_from_this<Detector> {
public:
    Detector(tcp::socket&& socket, TlsPtr context, Router& router, Slot slot,
             net::thread_pool& slow, PolicyPtr policy, FirstRequest first)
        : m_stream(std::move(socket)),
          m_context(std::move(context)),
          m_router(router),
          m_slot(std::move(slot)),
          m_slow(slow),
          m_policy(std::move(policy)),
          m_first(std::move(first)) {}

    beast::tcp_stream::executor_type Executor() { return m_stream.get_executor(); }

    void Run() {
        if (m_first.hook) {
            m_first.hook->abort = [weak = weak_from_this()] {
                if (const auto self = weak.lock()) self->m_stream.close();
            };
        }
        m_stream.expires_at(m_first.deadline);
        beast::async_detect_ssl(m_stream, m_buffer,
                                beast::bind_front_handler(&Detector::OnDetect, shared_from_this()));
    }

private:
    void OnDetect(beast::error_code ec, bool tls) {
        if (ec) return;
        if (tls) {
            std::make_shared<SslSession>(std::move(m_stream), std::move(m_context),
                                         std::move(m_buffer), m_router, std::move(m_slot), m_slow,
                                         std::move(m_policy), std::move(m_first))
                ->Run();
        } else {
            std::make_shared<PlainSession>(std::move(m_stream), std::move(m_buffer), m_router,
                                           std::move(m_slot), m_slow, std::move(m_policy),
                                           std::move(m_first))
                ->Run();
        }
    }

    beast::tcp_stream m_stream;
    TlsPtr m_context;
    Router& m_router;
    Slot m_slot;
    net::thread_pool& m_slow;
    PolicyPtr m_policy;
    FirstRequest m_first;
    beast::flat_buffer m_buffer;
};

class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Accepts on the first context; connections go to all of them in turn.
    Listener(const std::vector<std::unique_ptr<net::io_context>>& contexts,
             std::shared_ptr<TlsSource> tls, Router& router, const tcp::endpoint& at,
             std::shared_ptr<ConnectionGate> gate, std::shared_ptr<HalfOpenGate> halfOpen,
             net::thread_pool& slow, PolicyPtr policy)
        : m_contexts(contexts),
          m_acceptor(*contexts.front()),
          m_retry(*contexts.front()),
          m_tls(std::move(tls)),
          m_router(router),
          m_gate(std::move(gate)),
          m_halfOpen(std::move(halfOpen)),
          m_slow(slow),
          m_policy(std::move(policy)) {
        m_acceptor.open(at.protocol());
        m_acceptor.set_option(net::socket_base::reuse_address(true));
        // An IPv6 socket takes only IPv6: "[::]:443" beside "0.0.0.0:443".
        if (at.address().is_v6()) m_acceptor.set_option(net::ip::v6_only(true));
        m_acceptor.bind(at);
        m_acceptor.listen(net::socket_base::max_listen_connections);
    }

    tcp::endpoint Endpoint() const { return m_acceptor.local_endpoint(); }
    void Run() { DoAccept(); }

private:
    void DoAccept() {
        // Each I/O thread runs its own context: a connection's reads and
        // writes stay on one thread and never wake another.
        net::io_context& next = *m_contexts[m_next++ % m_contexts.size()];
        m_acceptor.async_accept(next.get_executor(),
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
            // Answers go out the moment they are written (no Nagle delay
            // waiting on the client's delayed acknowledgement).
            beast::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            FirstRequest first = FirstRequestOf(socket);
            auto detector =
                std::make_shared<Detector>(std::move(socket), m_tls->Get(), m_router, Slot(m_gate),
                                           m_slow, m_policy, std::move(first));
            net::post(detector->Executor(), [detector] { detector->Run(); });
        }
        DoAccept();
    }

    // A place among the half-open connections of the socket's source; the
    // oldest of that source (or of all) is closed when there is none left.
    FirstRequest FirstRequestOf(tcp::socket& socket) {
        FirstRequest first;
        first.deadline = std::chrono::steady_clock::now() +
                         (m_gate->Crowded() ? kCrowdedTimeout : kFirstRequestTimeout);
        first.hook = std::make_shared<AbortHook>();
        beast::error_code ec;
        const auto peer = socket.remote_endpoint(ec);
        std::string source = ec ? std::string("unknown") : SourceKey(peer.address().to_string());
        // A trusted proxy speaks for many clients: only the count of all holds it.
        if (!ec && std::any_of(m_policy->trustedProxies.begin(), m_policy->trustedProxies.end(),
                               [&](const std::string& proxy) {
                                   return NormalAddress(proxy) ==
                                          NormalAddress(peer.address().to_string());
                               })) {
            source.clear();
        }
        first.ticket =
            m_halfOpen->Admit(source, [hook = first.hook, executor = socket.get_executor()] {
                net::post(executor, [hook] {
                    if (hook->abort) hook->abort();
                });
            });
        return first;
    }

    const std::vector<std::unique_ptr<net::io_context>>& m_contexts;
    std::size_t m_next = 0;
    tcp::acceptor m_acceptor;
    net::steady_timer m_retry;
    std::chrono::milliseconds m_backoff{0};
    std::shared_ptr<TlsSource> m_tls;
    Router& m_router;
    std::shared_ptr<ConnectionGate> m_gate;
    std::shared_ptr<HalfOpenGate> m_halfOpen;
    net::thread_pool& m_slow;
    PolicyPtr m_policy;
};

// One address to listen on; an optional one is skipped when it cannot be
// bound (::1 on a machine without IPv6).
struct WantedListen {
    net::ip::address address;
    unsigned short port = 0;
    bool optional = false;
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
    std::unique_ptr<SharedState> shared;  // in the store's database
    // Held while the server lives: tells a process starting on the same
    // folder that files being written may be ours.
    std::optional<FolderLock> live;
    std::unique_ptr<RequestLog> log;
    std::unique_ptr<Router> router;
    std::shared_ptr<TlsSource> tls = std::make_shared<TlsSource>();
    std::vector<WantedListen> wanted;
    // Destroyed before the state above: pending handlers hold sessions that use it.
    std::unique_ptr<net::thread_pool> slow;
    std::vector<std::unique_ptr<net::io_context>> contexts;  // one per I/O thread
    // Keep each thread's context running while it has no connection.
    std::vector<net::executor_work_guard<net::io_context::executor_type>> idleGuards;
    std::vector<std::shared_ptr<Listener>> listeners;
    std::vector<std::string> endpoints;
    std::vector<std::thread> threads;
    unsigned short port = 0;
    bool started = false;
    std::string publicOrigin;
};

Server::Server(ServerOptions options) : m_impl(std::make_unique<Impl>()) {
    if (options.dataDir.empty()) options.dataDir = tallowdesk::DefaultServerDataDir();
    if (options.pageSize == 0) throw std::runtime_error("The page size must be at least 1");
    if (options.certFile.empty() != options.keyFile.empty()) {
        throw std::runtime_error("A certificate and its key go together (--cert and --key)");
    }
    if (options.listen.empty()) {
        m_impl->wanted.push_back({net::ip::make_address_v4("127.0.0.1"), options.port, false});
        m_impl->wanted.push_back({net::ip::make_address_v6("::1"), options.port, true});
    }
    for (const auto& text : options.listen) {
        const auto parsed = ParseListenAddress(text);
        if (!parsed) throw std::runtime_error("Invalid listen address " + text);
        const auto address = net::ip::make_address(parsed->address);
        m_impl->wanted.push_back({address, parsed->port, false});
        // An address we listen on is a name people may use for us (and one
        // no DNS answer can move elsewhere); a wildcard names nothing.
        if (!address.is_unspecified() &&
            std::find(options.hostNames.begin(), options.hostNames.end(), parsed->address) ==
                options.hostNames.end()) {
            options.hostNames.push_back(parsed->address);
        }
    }
    for (const auto& proxy : options.trustedProxies) {
        if (NormalAddress(proxy).empty()) {
            throw std::runtime_error("Invalid trusted proxy address " + proxy);
        }
    }
    if (!options.publicUrl.empty()) {
        const auto url = ParsePublicUrl(options.publicUrl);
        if (!url) {
            throw std::runtime_error("Invalid public address " + options.publicUrl +
                                     " (https://HOST or https://HOST:PORT)");
        }
        m_impl->publicOrigin = url->origin;
        if (std::find(options.hostNames.begin(), options.hostNames.end(), url->host) ==
            options.hostNames.end()) {
            options.hostNames.push_back(url->host);
        }
    }
    std::filesystem::create_directories(options.dataDir);
    m_impl->options = options;
    {
        // Processes started together on a new folder would otherwise each
        // add the same columns (one of them then fails) and each keep a
        // paging secret of its own, so one's next links fail on the other.
        const FolderLock setup = FolderLock::Exclusive(SetupLockPath(options.dataDir));
        m_impl->store =
            std::make_unique<Store>(options.dataDir, options.passwordIterations, options.database);
        m_impl->live = FolderLock::Shared(LiveLockPath(options.dataDir));
        m_impl->shared =
            OpenSharedState(options.dataDir, options.database, options.sharedStateClock);
    }
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
    m_impl->router = std::make_unique<Router>(
        *m_impl->store, *m_impl->shared, options.pageSize, m_impl->log.get(),
        (std::filesystem::path(options.dataDir) / "content").string());
    m_impl->router->Updates().SetFolder(options.updateDir);
    const bool loopback =
        std::all_of(m_impl->wanted.begin(), m_impl->wanted.end(),
                    [](const WantedListen& at) { return at.address.is_loopback(); });
    m_impl->router->Web().Accounts().SetOpenSignUp(options.openSignUp.value_or(loopback));
    m_impl->router->SetHostNames(options.hostNames);
}

Server::~Server() {
    Stop();
}

namespace {

// A certificate made again for this process's names would replace the one
// the other processes on the folder serve and their proxy and clients trust:
// those would stop verifying until each of them is reloaded. Called under the
// setup lock, so no other process starts or stops setting up meanwhile.
void RefuseToRenameTheSharedCertificate(const ServerOptions& options, const std::string& certPath,
                                        const std::string& keyPath,
                                        std::optional<FolderLock>& live) {
    if (CheckStoredCertificate(certPath, keyPath, options.hostNames) !=
        StoredCertificate::LacksNames) {
        return;
    }
    // Our own shared hold would block the probe: let go of it for a moment.
    const std::string livePath = LiveLockPath(options.dataDir);
    live.reset();
    const bool alone = FolderLock::TryExclusive(livePath).has_value();
    live = FolderLock::Shared(livePath);
    if (alone) return;
    std::string names = "localhost, 127.0.0.1, ::1";
    for (const auto& name : options.hostNames) names += ", " + name;
    throw std::runtime_error("The certificate " + certPath + " does not name every one of " +
                             names +
                             ", and another process serves this folder with it. Give every "
                             "process on the folder the same --host-name and --listen "
                             "addresses, or the same --cert and --key.");
}

}  // namespace

unsigned short Server::Start() {
    if (m_impl->started) throw std::runtime_error("The server has already been started");
    {
        // One certificate for all processes on the folder: the one in the
        // file, which is what a proxy in front of them is told to trust.
        const FolderLock setup = FolderLock::Exclusive(SetupLockPath(m_impl->options.dataDir));
        // A certificate given from outside is the operator's: never rewritten.
        if (m_impl->options.certFile.empty()) {
            RefuseToRenameTheSharedCertificate(m_impl->options, CertPath(), KeyPath(),
                                               m_impl->live);
            if (EnsureCertificate(CertPath(), KeyPath(), m_impl->options.hostNames)) {
                std::cerr << "tallowdesk-server: made a new certificate " << CertPath() << '\n';
            }
        }
        m_impl->tls->Set(MakeTlsContext(CertPath(), KeyPath()));
    }

    m_impl->slow = std::make_unique<net::thread_pool>(
        static_cast<std::size_t>(std::max(1, m_impl->options.hashThreads)));
    for (int i = 0; i < std::max(1, m_impl->options.ioThreads); ++i) {
        m_impl->contexts.push_back(std::make_unique<net::io_context>(1));
        m_impl->idleGuards.push_back(net::make_work_guard(*m_impl->contexts.back()));
    }
    const int cap = ConnectionCap(m_impl->options.maxConnections);
    auto gate = std::make_shared<ConnectionGate>(cap);
    // Half the connections at most may be half-open: the rest stay for
    // clients that have sent a request.
    const std::size_t halfOpenTotal = m_impl->options.maxHalfOpen > 0
                                          ? static_cast<std::size_t>(m_impl->options.maxHalfOpen)
                                          : static_cast<std::size_t>(std::max(1, cap / 2));
    auto halfOpen =
        HalfOpenGate::Make(m_impl->options.maxHalfOpenPerSource > 0
                               ? static_cast<std::size_t>(m_impl->options.maxHalfOpenPerSource)
                               : std::min(kHalfOpenPerSource, halfOpenTotal),
                           halfOpenTotal);
    for (const auto& want : m_impl->wanted) {
        auto policy = std::make_shared<ConnectionPolicy>();
        policy->httpsOnly = !want.address.is_loopback();
        policy->trustedProxies = m_impl->options.trustedProxies;
        policy->publicOrigin = m_impl->publicOrigin;
        policy->idleTimeout = m_impl->options.idleTimeout;
        // The default pair shares one port, also when the first one picked it.
        unsigned short port = want.port;
        if (want.optional && port == 0 && !m_impl->listeners.empty()) {
            port = m_impl->listeners.front()->Endpoint().port();
        }
        const tcp::endpoint at(want.address, port);
        try {
            m_impl->listeners.push_back(
                std::make_shared<Listener>(m_impl->contexts, m_impl->tls, *m_impl->router, at, gate,
                                           halfOpen, *m_impl->slow, policy));
        } catch (const boost::system::system_error& e) {
            if (want.optional) {
                std::cerr << "tallowdesk-server: not listening on " << EndpointText(at) << ": "
                          << e.code().message() << '\n';
                continue;
            }
            m_impl->listeners.clear();
            throw std::runtime_error("Cannot listen on " + EndpointText(at) + ": " + e.what());
        }
        m_impl->endpoints.push_back(EndpointText(m_impl->listeners.back()->Endpoint()));
    }
    m_impl->port = m_impl->listeners.front()->Endpoint().port();
    for (auto& listener : m_impl->listeners) listener->Run();
    m_impl->started = true;
    for (auto& io : m_impl->contexts) {
        m_impl->threads.emplace_back([io = io.get()] {
            MarkIoThread();
            io->run();
        });
    }
    return m_impl->port;
}

void Server::ReloadCertificate() {
    // Never half of a pair another process on the folder is writing.
    const FolderLock setup = FolderLock::Exclusive(SetupLockPath(m_impl->options.dataDir));
    m_impl->tls->Set(MakeTlsContext(CertPath(), KeyPath()));
}

std::vector<std::string> Server::Endpoints() const {
    return m_impl->endpoints;
}

void Server::Stop() {
    if (!m_impl || m_impl->contexts.empty()) return;
    // Sign-ins still hashing finish first; their answers then go nowhere.
    m_impl->slow->join();
    for (auto& io : m_impl->contexts) io->stop();
    for (auto& t : m_impl->threads) {
        if (t.joinable()) t.join();
    }
    m_impl->threads.clear();
    m_impl->listeners.clear();
    m_impl->idleGuards.clear();
    m_impl->contexts.clear();
    m_impl->slow.reset();
}

unsigned short Server::Port() const {
    return m_impl->port;
}
const std::string& Server::DataDir() const {
    return m_impl->options.dataDir;
}
std::string Server::CertPath() const {
    if (!m_impl->options.certFile.empty()) return m_impl->options.certFile;
    return (std::filesystem::path(m_impl->options.dataDir) / "cert.pem").string();
}
std::string Server::KeyPath() const {
    if (!m_impl->options.keyFile.empty()) return m_impl->options.keyFile;
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

bool Server::CaptchaDue(const std::string& email, const std::string& address) const {
    return m_impl->router->SignIn().CaptchaDue(NormalEmail(email), address);
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
