#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Server.h"
#include "Store.h"
#include "TempDir.h"

namespace tallowdesk::server::test {

using tallowdesk::test::TempDir;

struct Reply {
    long status = 0;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string Header(const std::string& name) const;  // first of that name, case-insensitive
    std::vector<std::string> Headers(const std::string& name) const;
};

// One libcurl easy handle that keeps its connection and cookies between
// requests; trusts the server's own certificate.
class Client {
public:
    explicit Client(std::string caFile);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    Reply Send(const std::string& method, const std::string& url,
               const std::vector<std::string>& headers = {}, const std::string& body = {},
               bool followRedirects = false);
    // PUT with the body streamed from a read callback and no length given, as
    // the program's client does (chunked, with "Expect: 100-continue").
    Reply StreamPut(const std::string& url, const std::vector<std::string>& headers,
                    const std::string& body);
    std::string Cookie(const std::string& name) const;  // "" when absent

private:
    CURL* m_curl;
    std::string m_caFile;
};

// A TLS connection of our own to 127.0.0.1:port that checks no certificate
// (so a test sees which one the service hands out) and lets the test cut
// the bytes: TCP_NODELAY, every write its own record. Blocking reads and
// writes give up after 30 s.
class RawTls {
public:
    explicit RawTls(unsigned short port, int receiveBuffer = 0);
    ~RawTls();
    RawTls(const RawTls&) = delete;
    RawTls& operator=(const RawTls&) = delete;

    // SHA-256 of the certificate the service sent.
    std::string Fingerprint() const;
    // The status line of the answer to a GET of the sign-in page.
    std::string StatusLine();
    // `piece` bytes per TLS record with a short pause between them.
    void Dribble(const std::string& bytes, std::size_t piece);
    // Everything up to the end of the connection, `piece` bytes per read.
    std::string ReadAll(std::size_t piece);
    // `size` bytes, or fewer when the connection ends first.
    std::string Read(std::size_t size);
    // Whether the last read gave up waiting (30 s) rather than met the end.
    bool TimedOut() const { return m_timedOut; }

    // SHA-256 of a certificate (X509*), which it frees; "" for none.
    static std::string CertificateDigest(void* cert);

private:
    int m_fd = -1;
    void* m_ctx = nullptr;  // SSL_CTX*, kept opaque so tests need no OpenSSL headers
    void* m_ssl = nullptr;  // SSL*
    bool m_timedOut = false;
};

// A TCP connection to 127.0.0.1:port (with that receive buffer, unless 0)
// whose blocking reads and writes give up after `seconds`; -1 when it
// cannot be made.
int ConnectLoopback(unsigned short port, int seconds, int receiveBuffer = 0);
// SHA-256 of the certificate in a PEM file (RawTls::CertificateDigest); ""
// when there is none.
std::string CertificateFileDigest(const std::filesystem::path& certFile);

// Options of a test server: data in dataDir, a free port, quick password hashes.
ServerOptions TestOptions(const std::filesystem::path& dataDir);

// The database for the store of `dataDir`: empty (SQLite in the folder)
// unless TALLOWDESK_TEST_DATABASE names a PostgreSQL database; then a schema
// of its own for this test case and this folder, emptied when first asked
// for, so that cases stay independent and reopening a folder finds its data.
std::string TestDatabase(const std::filesystem::path& dataDir);
// The program's arguments that pick that database (none for SQLite).
std::vector<std::string> TestDatabaseArgs(const std::filesystem::path& dataDir);

// A started server in a temporary folder with the account alice@example.test
// (password "secret"); passwords hash with few rounds to keep tests quick.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void StartServer(std::size_t pageSize = 100, const std::string& requestLog = {});
    void StartServer(ServerOptions options);              // from TestOptions, changed
    std::string Url(const std::string& path) const;       // https://localhost:PORT + path
    std::string PlainUrl(const std::string& path) const;  // http://127.0.0.1:PORT + path
    Reply ClientLogin(const std::string& email, const std::string& password,
                      const std::string& service = "writely", const std::string& extra = {});
    std::string Token(const std::string& email = "alice@example.test",
                      const std::string& password = "secret");
    // A GData request with the headers the client sends.
    Reply GData(const std::string& method, const std::string& path, const std::string& token,
                const std::string& body = {}, const std::vector<std::string>& extra = {});
    Reply CreateFolder(const std::string& token, const std::string& title,
                       const std::string& parentContentsPath = {});

    static constexpr const char* kAlice = "alice@example.test";
    static constexpr const char* kPassword = "secret";
    static constexpr const char* kList = "/feeds/default/private/full";

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<Server> m_server;
    std::unique_ptr<Client> m_client;
    unsigned short m_port = 0;
};

// A started server and alice's document-list token.
class SignedInTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
        m_token = Token();
    }

    std::string m_token;
};

// An entry put straight into the store, without a request; its id.
std::string PutEntry(Store& store, const std::string& owner, const std::string& kind,
                     const std::string& title, const std::vector<std::string>& parents = {},
                     const std::optional<std::string>& content = std::nullopt,
                     const std::string& mime = {});

// Text between `open` and `close` after `from`; "" when absent.
std::string Between(const std::string& text, const std::string& open, const std::string& close,
                    std::size_t from = 0);
// Attribute values of every <entry>'s first element/attribute match, via tinyxml2.
std::vector<std::string> EntryTitles(const std::string& feed);
std::string NextLink(const std::string& feed);
std::string FolderEntryXml(const std::string& title);

// The byte at `offset` of a generated file: never all zeros, so a hole or a
// shifted range shows.
inline char PatternByte(std::uint64_t offset) {
    return static_cast<char>((offset * 7 + offset / 4093) % 251 + 1);
}

// A multipart form around `size` generated bytes, produced while libcurl reads.
struct GeneratedForm {
    std::string head;
    std::uint64_t size;
    std::string tail;
    std::uint64_t at = 0;

    std::uint64_t Total() const { return head.size() + size + tail.size(); }
    static std::size_t Read(char* out, std::size_t itemSize, std::size_t count, void* user) {
        auto* form = static_cast<GeneratedForm*>(user);
        std::size_t n = 0;
        const std::size_t room = itemSize * count;
        while (n < room && form->at < form->Total()) {
            const std::uint64_t pos = form->at;
            if (pos < form->head.size()) {
                out[n] = form->head[pos];
            } else if (pos < form->head.size() + form->size) {
                out[n] = PatternByte(pos - form->head.size());
            } else {
                out[n] = form->tail[pos - form->head.size() - form->size];
            }
            ++n;
            ++form->at;
        }
        return n;
    }
};

}  // namespace tallowdesk::server::test
