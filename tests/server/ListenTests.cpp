#include <fcntl.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "Crypto.h"
#include "ServerTestSupport.h"

extern char** environ;

namespace tallowdesk::server::test {
namespace {

namespace fs = std::filesystem;

// Two certificate pairs and the files the service is told to serve, which
// start as a copy of the first.
struct TwoPairs {
    explicit TwoPairs(const fs::path& root)
        : cert(root / "served-cert.pem"), key(root / "served-key.pem") {
        for (const char* name : {"a", "b"}) {
            EnsureCertificate((root / (std::string(name) + "-cert.pem")).string(),
                              (root / (std::string(name) + "-key.pem")).string());
        }
        Serve(root, "a");
    }
    void Serve(const fs::path& root, const std::string& name) const {
        fs::copy_file(root / (name + "-cert.pem"), cert, fs::copy_options::overwrite_existing);
        fs::copy_file(root / (name + "-key.pem"), key, fs::copy_options::overwrite_existing);
    }
    fs::path cert;
    fs::path key;
};

// A renewed certificate reaches new connections; a connection opened before
// goes on answering requests; a broken renewal keeps what was served.
TEST(CertificateReloadTest, NewConnectionsGetTheNewPairAndOpenOnesGoOn) {
    TempDir dir;
    const TwoPairs pairs(dir.Path());
    ServerOptions options = TestOptions(dir.Path() / "data");
    options.listen = {"127.0.0.1:0"};
    options.certFile = pairs.cert.string();
    options.keyFile = pairs.key.string();
    Server server(options);
    const unsigned short port = server.Start();
    const std::string a = CertificateFileDigest(dir.Path() / "a-cert.pem");
    const std::string b = CertificateFileDigest(dir.Path() / "b-cert.pem");
    ASSERT_FALSE(a.empty());
    ASSERT_NE(a, b);

    RawTls before(port);
    EXPECT_EQ(before.Fingerprint(), a);
    pairs.Serve(dir.Path(), "b");
    server.ReloadCertificate();
    EXPECT_EQ(RawTls(port).Fingerprint(), b);
    EXPECT_EQ(before.StatusLine(), "HTTP/1.1 200 OK");

    // A key that does not belong to the certificate: refused, b stays.
    fs::copy_file(dir.Path() / "a-key.pem", pairs.key, fs::copy_options::overwrite_existing);
    EXPECT_THROW(server.ReloadCertificate(), std::runtime_error);
    RawTls after(port);
    EXPECT_EQ(after.Fingerprint(), b);
    EXPECT_EQ(after.StatusLine(), "HTTP/1.1 200 OK");
}

// The program itself reads the pair again when it gets SIGHUP, and goes on
// serving.
TEST(CertificateReloadTest, SighupMakesTheProgramReadThePairAgain) {
    TempDir dir;
    const TwoPairs pairs(dir.Path());
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> args = {TALLOWDESK_SERVER_BINARY,
                                     "--data-dir",
                                     (dir.Path() / "data").string(),
                                     "--listen",
                                     "127.0.0.1:0",
                                     "--cert",
                                     pairs.cert.string(),
                                     "--key",
                                     pairs.key.string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ASSERT_EQ(rc, 0);
    struct Reaper {
        pid_t pid;
        int fd;
        ~Reaper() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            ::close(fd);
        }
    } reaper{pid, out[0]};

    std::string printed;
    // Standard output up to `marker`, giving up after 20 s.
    auto waitFor = [&](const std::string& marker) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (printed.find(marker) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{out[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[512];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0) return false;
            printed.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    };
    ASSERT_TRUE(waitFor("Certificate: ")) << printed;
    const auto at = printed.find("Listening on 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << printed;
    const auto port = static_cast<unsigned short>(
        std::stoul(printed.substr(at + std::string("Listening on 127.0.0.1:").size())));

    RawTls before(port);
    EXPECT_EQ(before.Fingerprint(), CertificateFileDigest(dir.Path() / "a-cert.pem"));
    pairs.Serve(dir.Path(), "b");
    ASSERT_EQ(::kill(pid, SIGHUP), 0);
    ASSERT_TRUE(waitFor("Certificate read again")) << printed;
    EXPECT_EQ(RawTls(port).Fingerprint(), CertificateFileDigest(dir.Path() / "b-cert.pem"));
    EXPECT_EQ(before.StatusLine(), "HTTP/1.1 200 OK");
}

// Whether a TLS 1.2 handshake offering only `ciphers` succeeds.
bool Tls12HandshakeWith(unsigned short port, const char* ciphers) {
    const int fd = ConnectLoopback(port, 20);
    if (fd < 0) return false;
    bool done = false;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(ctx, ciphers) == 1) {
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        done = SSL_connect(ssl) == 1;
        SSL_free(ssl);
    }
    SSL_CTX_free(ctx);
    ::close(fd);
    return done;
}

// TLS 1.2 with CBC suites (padding oracles, Lucky Thirteen) is refused;
// the AEAD suites with ECDHE are taken.
TEST(ListenTest, Tls12TakesOnlyForwardSecretAeadSuites) {
    TempDir dir;
    ServerOptions options = TestOptions(dir.Path() / "data");
    options.listen = {"127.0.0.1:0"};
    Server server(options);
    const unsigned short port = server.Start();
    struct Case {
        const char* ciphers;
        bool taken;
    };
    const std::vector<Case> cases = {
        {"ECDHE-ECDSA-AES128-SHA", false},       {"ECDHE-ECDSA-AES256-SHA384", false},
        {"ECDHE-ECDSA-AES128-SHA256", false},    {"ECDHE-ECDSA-AES128-GCM-SHA256", true},
        {"ECDHE-ECDSA-CHACHA20-POLY1305", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tls12HandshakeWith(port, c.ciphers), c.taken) << c.ciphers;
    }
    server.Stop();
}

// Listening where told, on loopback addresses besides the default ones, and
// nowhere else.
TEST(ListenTest, AnswersOnEachLoopbackAddressGivenAndNoOther) {
    TempDir dir;
    ServerOptions options = TestOptions(dir.Path() / "data");
    options.listen = {"127.0.0.2:0", "[::1]:0"};
    Server server(options);
    try {
        server.Start();
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).find("[::1]") != std::string::npos) {
            GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
        }
        throw;
    }
    const auto endpoints = server.Endpoints();
    ASSERT_EQ(endpoints.size(), 2u);
    ASSERT_EQ(endpoints[0].rfind("127.0.0.2:", 0), 0u) << endpoints[0];
    ASSERT_EQ(endpoints[1].rfind("[::1]:", 0), 0u) << endpoints[1];
    const std::string v4Port = endpoints[0].substr(std::string("127.0.0.2:").size());
    const std::string v6Port = endpoints[1].substr(std::string("[::1]:").size());

    struct Case {
        std::string url;
        bool answers;
    };
    const std::vector<Case> cases = {
        // Loopback: plain http is answered, not sent to https.
        {"http://127.0.0.2:" + v4Port + "/accounts/ServiceLogin", true},
        {"https://[::1]:" + v6Port + "/accounts/ServiceLogin", true},
        {"http://127.0.0.1:" + v4Port + "/accounts/ServiceLogin", false},
        {"http://127.0.0.1:" + v6Port + "/accounts/ServiceLogin", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Client client(server.CertPath());
        if (c.answers) {
            EXPECT_EQ(client.Send("GET", c.url).status, 200);
        } else {
            EXPECT_THROW(client.Send("GET", c.url), std::runtime_error);
        }
    }
}

// Links and redirects follow the configured public address, whatever Host
// a request named, and its host name is answered for; without one, the
// Host header decides as before.
TEST_F(ServerTest, LinksFollowTheConfiguredPublicAddress) {
    struct Case {
        std::string publicUrl;
        std::string host;  // sent as the Host header; empty: curl's own
        long status;
        std::string linkStart;  // empty: the request's own origin
    };
    const std::vector<Case> cases = {
        {"", "", 200, ""},
        {"", "docs.example.test", 400, ""},
        {"https://docs.example.test:9443", "", 200, "https://docs.example.test:9443/"},
        {"https://docs.example.test:9443", "docs.example.test:9443", 200,
         "https://docs.example.test:9443/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.publicUrl + " / " + c.host);
        TempDir data;
        ServerOptions options = TestOptions(data.Path());
        options.publicUrl = c.publicUrl;
        Server server(options);
        server.AddUser(kAlice, kPassword);
        const unsigned short port = server.Start();
        const std::string origin = "https://localhost:" + std::to_string(port);
        Client client(server.CertPath());
        const Reply login = client.Send("POST", origin + "/accounts/ClientLogin", {},
                                        "accountType=HOSTED_OR_GOOGLE&Email=alice%40example.test&"
                                        "Passwd=secret&service=writely");
        ASSERT_EQ(login.status, 200) << login.body;
        const std::string token = Between(login.body, "Auth=", "\n");
        std::vector<std::string> headers = {"GData-Version: 3.0",
                                            "Authorization: GoogleLogin auth=" + token};
        if (!c.host.empty()) headers.push_back("Host: " + c.host);
        const Reply feed = client.Send("GET", origin + kList, headers);
        ASSERT_EQ(feed.status, c.status) << feed.body;
        if (c.status != 200) continue;
        const std::string expected = c.linkStart.empty() ? origin + "/" : c.linkStart;
        const std::string id = Between(feed.body, "<id>", "</id>");
        EXPECT_EQ(id.rfind(expected, 0), 0u) << id;
        EXPECT_EQ(feed.body.find("localhost:" + std::to_string(port)) == std::string::npos,
                  !c.publicUrl.empty());
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
