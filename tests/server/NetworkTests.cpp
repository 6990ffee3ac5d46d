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

// With a short idle time: long bodies that stop are cut off, long bodies
// that keep moving (however slowly, and for longer than the idle time in
// all) are not.
class IdleBodyTest : public NetworkTest {
protected:
    static constexpr auto kIdle = std::chrono::milliseconds(1500);
    static constexpr auto kPause = std::chrono::milliseconds(200);  // well below kIdle

    void SetUp() override {
        ServerTest::SetUp();
        ServerOptions options = TestOptions(m_dir->Path() / "data");
        options.idleTimeout = kIdle;
        StartServer(options);
        m_token = Token();
    }

    // Temporary upload files in the content folder.
    std::size_t UploadFiles() const {
        std::size_t count = 0;
        std::error_code ec;
        for (const auto& file :
             std::filesystem::directory_iterator(m_dir->Path() / "data" / "content", ec)) {
            if (file.path().filename().string().rfind(".upload-", 0) == 0) ++count;
        }
        return count;
    }

    // Waits (10 s at most) until the count of upload files is `want`.
    bool UploadFilesBecome(std::size_t want) const {
        for (int i = 0; i < 200 && UploadFiles() != want; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return UploadFiles() == want;
    }

    std::string UploadRequest(const std::string& slug, const std::string& body) {
        return Request("POST", kList, {"Content-Type: application/pdf", "Slug: " + slug}, body);
    }
};

TEST_F(IdleBodyTest, UploadThatStopsIsCutOffAndLeavesNothing) {
    const std::string request = UploadRequest("stalled.pdf", Pattern(1 << 20));
    RawTls upload(m_port);
    upload.Dribble(request.substr(0, request.size() / 2), 64 * 1024);
    ASSERT_TRUE(UploadFilesBecome(1)) << "the body is not being stored";
    const std::string answer = upload.ReadAll(4096);
    EXPECT_FALSE(upload.TimedOut()) << "the service kept waiting for a body that stopped";
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(UploadFilesBecome(0)) << "the cut-off upload's file stayed";
    EXPECT_EQ(GData("GET", kList, m_token).body.find("stalled.pdf"), std::string::npos);
}

TEST_F(IdleBodyTest, UploadThatKeepsMovingLandsWhole) {
    const std::string pdf = Pattern(96 * 1024);
    const std::string request = UploadRequest("slow.pdf", pdf);
    RawTls upload(m_port);
    // Some 3 s in all, twice the idle time, in 16 pieces.
    const std::size_t piece = request.size() / 16 + 1;
    for (std::size_t at = 0; at < request.size(); at += piece) {
        upload.Dribble(request.substr(at, piece), piece);
        std::this_thread::sleep_for(kPause);
    }
    const std::string answer = upload.ReadAll(16 * 1024);
    ASSERT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 201 Created") << answer;
    const std::string id = Between(answer, "<gd:resourceId>pdf:", "<");
    const Reply stored = GData("GET", "/feeds/download/files/" + id, m_token);
    EXPECT_TRUE(stored.body == pdf) << "stored " << stored.body.size() << " bytes";
}

// A download larger than what the sockets buffer, so the service's writes
// wait for the reader.
TEST_F(IdleBodyTest, DownloadCutOffOnlyWhenTheReaderStops) {
    const std::string pdf = Pattern(16 * 1024 * 1024);
    const Reply created =
        GData("POST", kList, m_token, pdf, {"Content-Type: application/pdf", "Slug: big.pdf"});
    ASSERT_EQ(created.status, 201) << created.body;
    const std::string id = Between(created.body, "<gd:resourceId>pdf:", "<");
    const std::string get = Request("GET", "/feeds/download/files/" + id, {}, {});
    struct Case {
        const char* what;
        bool stops;
    };
    for (const Case& c :
         {Case{"a reader that keeps taking", false}, Case{"a reader that stops", true}}) {
        SCOPED_TRACE(c.what);
        RawTls download(m_port, 4096);
        download.Dribble(get, get.size());
        std::string got = download.Read(64 * 1024);
        if (c.stops) {
            std::this_thread::sleep_for(2 * kIdle);
            got += download.ReadAll(64 * 1024);
        } else {
            // Some 3 s in all, in 16 reads.
            while (got.size() < pdf.size() && !download.TimedOut()) {
                std::this_thread::sleep_for(kPause);
                const std::string more = download.Read(pdf.size() / 16);
                if (more.empty()) break;
                got += more;
            }
            got += download.ReadAll(64 * 1024);
        }
        EXPECT_FALSE(download.TimedOut());
        const RawReply reply = Split(got);
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
        if (c.stops) {
            EXPECT_LT(reply.body.size(), pdf.size()) << "the service waited on for the reader";
        } else {
            EXPECT_TRUE(reply.body == pdf) << "got " << reply.body.size() << " bytes";
        }
    }
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
