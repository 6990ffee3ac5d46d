#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "UploadHandler.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::server {

class Store;

struct ServerOptions {
    std::string dataDir;  // empty: tallowdesk::DefaultServerDataDir()
    // Accounts and entries in this PostgreSQL database; empty: SQLite in dataDir.
    std::string database;
    // 0 picks a free port: what tests use, since a fixed one may be taken.
    unsigned short port = static_cast<unsigned short>(tallowdesk::kDefaultLocalPort);
    std::size_t pageSize = 100;  // entries per feed page
    std::string requestLogPath;  // empty: no request log
    std::string updateDir;       // published program updates; empty: none
    // Blank out passwords, tokens and cookies in the request log. The
    // program always does; in-process tests that check the exact bytes a
    // client sent (in their own temporary folder) leave it off.
    bool redactRequestLog = false;
    // Where to listen, as "ADDR:PORT" ("[::1]:8443" for IPv6); empty: 127.0.0.1
    // and ::1 on `port` (::1 skipped where the machine has no IPv6).
    std::vector<std::string> listen;
    // A certificate chain and its key from elsewhere (an ACME client, say):
    // used as they are and never written. Empty: the data folder's own pair,
    // made as needed.
    std::string certFile;
    std::string keyFile;
    // Reverse proxies whose Forwarded / X-Forwarded-For headers name the
    // source address of a request.
    std::vector<std::string> trustedProxies;
    int ioThreads = 4;
    int passwordIterations = 200000;  // PBKDF2 rounds for new passwords
    // Whether the web page "/accounts/NewAccount" creates accounts for anyone;
    // unset: yes when the service listens on a loopback address only.
    std::optional<bool> openSignUp;
    int hashThreads = 2;  // threads that check passwords
    // Open connections at most; 0 derives it from the open-file limit.
    int maxConnections = 0;
    // Connections that have not yet sent a whole first request head: at most
    // this many per source (0: 128, or maxHalfOpen when that is less) and in
    // all (0: half of the connections). The oldest of the source, or of all,
    // makes way for a new one.
    int maxHalfOpenPerSource = 0;
    int maxHalfOpen = 0;
    // Host names accepted besides localhost, 127.0.0.1 and ::1.
    std::vector<std::string> hostNames;
    // "https://HOST[:PORT]" people reach the service under (through a proxy,
    // say); absolute URLs are written with it instead of the Host header,
    // and HOST is answered for. Empty: the Host header of each request.
    std::string publicUrl;
    // The clock (Unix milliseconds) by which upload sessions, challenges and
    // form tokens are found expired; unset: the system's. Tests run a second
    // service ahead of time with it instead of waiting for a lifetime to end.
    std::function<std::int64_t()> sharedStateClock;
    // An upload or a download that moves no byte for this long is cut off.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
};

// The local document service: account sign-in (ClientLogin, CAPTCHA, browser
// form with cookies) and the document list, over HTTPS and plain HTTP on each
// port it listens on (plain HTTP only on loopback addresses; elsewhere it
// sends the client to https). Owns the data folder's store and certificate and a pool of
// I/O threads that answer requests; every public method may be called from
// any thread. Start() once, Stop() (or the destructor) once.
class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the store, makes the certificate when needed, binds and starts
    // the I/O threads. Returns the first bound port. Throws std::runtime_error.
    unsigned short Start();
    void Stop();
    // Reads the certificate and key files again; new connections use them,
    // open ones keep theirs. On failure the old pair stays and this throws.
    void ReloadCertificate();

    unsigned short Port() const;
    // Every bound address as "ADDR:PORT" / "[ADDR]:PORT", in listening order.
    std::vector<std::string> Endpoints() const;
    const std::string& DataDir() const;
    std::string CertPath() const;  // --cert, else <data dir>/cert.pem
    std::string KeyPath() const;   // --key, else <data dir>/key.pem

    // Usable before or after Start().
    Store& GetStore();
    void AddUser(const std::string& email, const std::string& password,
                 const std::string& displayName = {});
    // Demo account and content; a second call changes nothing.
    void SeedDemo();
    void SetCaptchaRequired(const std::string& email, bool required);
    void SetAccountDisabled(const std::string& email, bool disabled);
    // The word drawn in the CAPTCHA picture of a pending challenge.
    std::optional<std::string> CaptchaAnswer(const std::string& token) const;
    // Whether a sign-in of `email` from `address` must solve a picture first.
    bool CaptchaDue(const std::string& email, const std::string& address = "127.0.0.1") const;
    void SetPageSize(std::size_t pageSize);
    // How browser uploads name the session URL (Location header or JSON
    // body) and the new entry (JSON "id" or an "?id=" URL); by default each
    // answer takes the other form than the one before.
    void SetSessionUrlStyle(AnswerStyle style);
    void SetEntryIdStyle(AnswerStyle style);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

inline constexpr const char* kDemoEmail = "demo@tallowdesk.test";
inline constexpr const char* kDemoPassword = "tallowdesk-demo";

}  // namespace tallowdesk::server
