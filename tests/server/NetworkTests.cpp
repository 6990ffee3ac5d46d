#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ServerTestSupport.h"
#include "Store.h"

extern char** environ;

namespace tallowdesk::server::test {
namespace {

// A TLS connection of our own to the service, so that the test decides how
// the bytes are cut: TCP_NODELAY, and every write leaves as its own segment.
class RawTls {
public:
    explicit RawTls(unsigned short port, int receiveBuffer = 0) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) throw std::runtime_error("socket");
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (receiveBuffer > 0) {
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        // Every blocking read or write gives up after a while.
        timeval limit{30, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            throw std::runtime_error("connect");
        }
        m_ctx = SSL_CTX_new(TLS_client_method());
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        if (SSL_connect(m_ssl) != 1) throw std::runtime_error("TLS handshake failed");
    }
    ~RawTls() {
        SSL_free(m_ssl);
        SSL_CTX_free(m_ctx);
        ::close(m_fd);
    }
    RawTls(const RawTls&) = delete;
    RawTls& operator=(const RawTls&) = delete;

    // `piece` bytes per TLS record with a pause between them.
    void Dribble(const std::string& bytes, std::size_t piece) {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const int size = static_cast<int>(std::min(piece, bytes.size() - at));
            ASSERT_EQ(SSL_write(m_ssl, bytes.data() + at, size), size);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    }

    // Everything up to the end of the connection, `piece` bytes per read.
    std::string ReadAll(std::size_t piece) {
        std::string text;
        std::vector<char> buffer(piece);
        for (;;) {
            const int n = SSL_read(m_ssl, buffer.data(), static_cast<int>(piece));
            if (n <= 0) break;
            text.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
};

struct RawReply {
    std::string statusLine;
    std::string head;
    std::string body;
};

RawReply Split(const std::string& text) {
    RawReply reply;
    const auto end = text.find("\r\n\r\n");
    if (end == std::string::npos) return reply;
    reply.head = text.substr(0, end + 2);
    reply.statusLine = text.substr(0, text.find("\r\n"));
    reply.body = text.substr(end + 4);
    return reply;
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 977) % 251 + 1);
    }
    return bytes;
}

class NetworkTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
        m_token = Token();
    }

    std::string Request(const std::string& method, const std::string& path,
                        const std::vector<std::string>& extra, const std::string& body) {
        std::string text = method + " " + path +
                           " HTTP/1.1\r\nHost: localhost:" + std::to_string(m_port) +
                           "\r\nGData-Version: 3.0\r\nAuthorization: GoogleLogin auth=" + m_token +
                           "\r\nConnection: close\r\n";
        for (const auto& line : extra) text += line + "\r\n";
        if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return text + "\r\n" + body;
    }

    std::string m_token;
};

// Regression: a request whose header and body come a few bytes per segment
// must be read whole before it is answered, not taken as ended or malformed.
TEST_F(NetworkTest, RequestDribbledInTinySegmentsIsReadWhole) {
    ASSERT_EQ(CreateFolder(m_token, "Dribbled").status, 201);

    RawTls feed(m_port);
    feed.Dribble(Request("GET", std::string(kList) + "?showfolders=true", {}, {}), 3);
    const RawReply listed = Split(feed.ReadAll(16 * 1024));
    EXPECT_EQ(listed.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(EntryTitles(listed.body), std::vector<std::string>{"Dribbled"});

    const std::string pdf = Pattern(3000);
    RawTls upload(m_port);
    upload.Dribble(Request("POST", kList, {"Content-Type: application/pdf", "Slug: slow.pdf"}, pdf),
                   5);
    const RawReply created = Split(upload.ReadAll(16 * 1024));
    ASSERT_EQ(created.statusLine, "HTTP/1.1 201 Created") << created.body;
    const std::string id = Between(created.body, "<gd:resourceId>pdf:", "<");
    const Reply stored = GData("GET", "/feeds/download/files/" + id, m_token);
    EXPECT_EQ(stored.status, 200);
    EXPECT_TRUE(stored.body == pdf) << "stored " << stored.body.size() << " bytes";
}

// Regression: an answer larger than one write (a file of several read
// pieces) reaches a client that takes it a few bytes at a time through a
// small receive window: every byte, in order, and exactly the length announced.
TEST_F(NetworkTest, DownloadReadInTinyPiecesArrivesByteForByte) {
    const std::string pdf = Pattern(3 * 1024 * 1024 + 17);
    const Reply created =
        GData("POST", kList, m_token, pdf, {"Content-Type: application/pdf", "Slug: big.pdf"});
    ASSERT_EQ(created.status, 201) << created.body;
    const std::string id = Between(created.body, "<gd:resourceId>pdf:", "<");

    RawTls download(m_port, 4096);
    download.Dribble(Request("GET", "/feeds/download/files/" + id, {}, {}), 1 << 20);
    const RawReply got = Split(download.ReadAll(7));
    EXPECT_EQ(got.statusLine, "HTTP/1.1 200 OK");
    EXPECT_NE(got.head.find("Content-Length: " + std::to_string(pdf.size()) + "\r\n"),
              std::string::npos)
        << got.head;
    ASSERT_EQ(got.body.size(), pdf.size());
    EXPECT_TRUE(got.body == pdf);
}

// The tallowdesk-server program as a child process; killed on destruction.
class ChildServer {
public:
    explicit ChildServer(const std::string& dataDir) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> args = {TALLOWDESK_SERVER_BINARY, "--data-dir", dataDir, "--port",
                                         "0"};
        for (auto& a : TestDatabaseArgs(dataDir)) args.push_back(a);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start the service");
        }
        // Its first line names the port; a bounded wait for it.
        std::string text;
        char c;
        while (text.find('\n') == std::string::npos) {
            pollfd ready{out[0], POLLIN, 0};
            if (::poll(&ready, 1, 30000) <= 0) break;
            if (::read(out[0], &c, 1) != 1) break;
            text += c;
        }
        ::close(out[0]);
        const std::string port = Between(text, "localhost:", "\n");
        m_port = static_cast<unsigned short>(std::atoi(port.c_str()));
    }
    ~ChildServer() {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    ChildServer(const ChildServer&) = delete;
    ChildServer& operator=(const ChildServer&) = delete;

    unsigned short Port() const { return m_port; }
    std::uint64_t PeakResidentKb() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
        }
        return 0;
    }

private:
    pid_t m_pid = -1;
    unsigned short m_port = 0;
};

constexpr const char* kBoundary = "----tallowdeskNetworkBoundary";

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// Regression: a large upload goes to disk as it arrives; the service's peak
// memory must not grow with the size of the file.
TEST(NetworkProcessTest, LargeUploadKeepsServiceMemoryFlat) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    Store::Session session;
    {
        ServerOptions options;
        options.dataDir = data;
        options.database = TestDatabase(data);
        options.passwordIterations = 1000;
        Server setup(options);
        setup.AddUser("alice@example.test", "secret");
        session = setup.GetStore().CreateSession("alice@example.test");
    }
    ChildServer server(data);
    ASSERT_NE(server.Port(), 0);
    const std::string base = "https://localhost:" + std::to_string(server.Port());
    const std::string cookie = "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
    Client client(data + "/cert.pem");

    constexpr std::uint64_t kSize = 256ull * 1024 * 1024;
    const Reply opened =
        client.Send("POST", base + "/upload/resumableupload?authuser=0",
                    {cookie, "Content-Type: application/x-www-form-urlencoded"},
                    R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[)"
                    R"({"external":{"name":"file","filename":"big.bin","formPost":{},"size":)" +
                        std::to_string(kSize) + "}}]}}");
    ASSERT_EQ(opened.status, 200) << opened.body;
    std::string url = opened.Header("Location");
    if (url.empty()) {
        url = Between(opened.body, "\"url\":\"", "\"");
        url = url.substr(0, url.find("\\u0026file_id"));
    }
    const std::uint64_t before = server.PeakResidentKb();
    ASSERT_GT(before, 0u);

    GeneratedForm form{std::string("--") + kBoundary +
                           "\r\nContent-Disposition: form-data; name=\"Filedata\"; "
                           "filename=\"big.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n",
                       kSize, std::string("\r\n--") + kBoundary + "--\r\n"};
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, cookie.c_str());
    headers = curl_slist_append(
        headers, (std::string("Content-Type: multipart/form-data; boundary=") + kBoundary).c_str());
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, (data + "/cert.pem").c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.Total()));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &GeneratedForm::Read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &form);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 240L);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    ASSERT_EQ(rc, CURLE_OK) << curl_easy_strerror(rc);
    ASSERT_EQ(status, 200) << answer;

    const std::uint64_t after = server.PeakResidentKb();
    EXPECT_LT(after - before, 64u * 1024) << "peak before " << before << " KiB, after " << after
                                          << " KiB for a " << kSize / 1024 << " KiB upload";
}

}  // namespace
}  // namespace tallowdesk::server::test
