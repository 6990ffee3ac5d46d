// Downloads land whole or not at all: a peer that breaks off mid-answer leaves
// neither the target nor a temporary file, and a whole answer arrives byte for
// byte (also across the windows written to disk while receiving).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Failure.h"
#include "service/Download.h"
#include "service/ServiceClient.h"
#include "service/TransferProgress.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;

// Plain HTTP on 127.0.0.1: each connection gets the next scripted answer, sent
// raw (so it can be cut anywhere), and is then closed.
class RawResponder {
public:
    RawResponder() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("responder cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~RawResponder() {
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    RawResponder(const RawResponder&) = delete;
    RawResponder& operator=(const RawResponder&) = delete;

    void Push(std::string answer) {
        std::lock_guard guard(m_lock);
        m_answers.push_back(std::move(answer));
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/file"; }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;  // shut down
            timeval timeout{10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            std::string answer;
            {
                std::lock_guard guard(m_lock);
                if (!m_answers.empty()) {
                    answer = std::move(m_answers.front());
                    m_answers.pop_front();
                }
            }
            for (std::size_t sent = 0; sent < answer.size();) {
                const ssize_t n =
                    ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(fd, SHUT_WR);
            while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
            ::close(fd);
        }
    }

    int m_listen = -1;
    unsigned short m_port = 0;
    std::mutex m_lock;
    std::deque<std::string> m_answers;
    std::thread m_thread;
};

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4093) % 256);
    return bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class DownloadDurability : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetWritelyToken("TOKEN");
        m_dir = fs::temp_directory_path() /
                ("tallowdesk-durable-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(m_dir))
            names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    RawResponder m_peer;
    ServiceClient m_client{"me@example.com", "pw"};
    fs::path m_dir;
};

TEST_F(DownloadDurability, AnswerBrokenOffLeavesNoTargetAndNoTemporaryFile) {
    const std::string body = Pattern(300000);
    struct Broken {
        const char* name;
        std::string answer;
    };
    const std::vector<Broken> table{
        {"length announced, connection closed after part of the body",
         "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + body},
        {"chunked, closed inside a chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000\r\n" +
             body.substr(0, 0x10000) + "\r\n10000\r\n" + body.substr(0, 1000)},
        {"chunked, closed before the last chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000\r\n" + body.substr(0, 0x1000) +
             "\r\n"},
        {"headers only, then closed", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"},
        {"closed before any answer", ""},
        {"cut inside the status line", "HTTP/1.1 20"},
    };
    std::ofstream(m_dir / "kept.bin", std::ios::binary) << "old contents";
    for (const Broken& row : table) {
        SCOPED_TRACE(row.name);
        for (const char* target : {"new.bin", "kept.bin"}) {
            m_peer.Push(row.answer);
            EXPECT_EQ(test::Failure([&] {
                          DownloadEntry(m_client, m_peer.Url(), "file", m_dir / target, nullptr);
                      }),
                      "File Downloading/Exporting Failed.")
                << target;
            EXPECT_EQ(Listing(), std::vector<std::string>{"kept.bin"}) << target;
            EXPECT_EQ(ReadFile(m_dir / "kept.bin"), "old contents");
        }
    }
}

TEST_F(DownloadDurability, RedirectIsAFailureNotTheFile) {
    // Redirects are not followed; saving the redirect's own body reported
    // a few bytes of HTML as a finished download.
    std::ofstream(m_dir / "kept.bin", std::ios::binary) << "old contents";
    for (const char* status :
         {"301 Moved Permanently", "302 Found", "303 See Other", "307 Temporary Redirect"}) {
        SCOPED_TRACE(status);
        for (const char* target : {"new.bin", "kept.bin"}) {
            m_peer.Push(
                std::string("HTTP/1.1 ") + status +
                "\r\nLocation: https://elsewhere.test/file\r\nContent-Length: 5\r\n\r\nmoved");
            EXPECT_EQ(test::Failure([&] {
                          DownloadEntry(m_client, m_peer.Url(), "file", m_dir / target, nullptr);
                      }),
                      "File downloading/converting failed.");
            EXPECT_EQ(Listing(), std::vector<std::string>{"kept.bin"});
            EXPECT_EQ(ReadFile(m_dir / "kept.bin"), "old contents");
        }
    }
}

TEST_F(DownloadDurability, WholeAnswerLandsByteForByte) {
    // Past several write-behind windows, and not a multiple of any buffer.
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{(27u << 20) + 12345}}) {
        SCOPED_TRACE(size);
        const std::string body = Pattern(size);
        m_peer.Push("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
                    body);
        DownloadEntry(m_client, m_peer.Url(), "file", m_dir / "whole.bin", nullptr);
        EXPECT_EQ(Listing(), std::vector<std::string>{"whole.bin"});
        EXPECT_TRUE(ReadFile(m_dir / "whole.bin") == body);
    }
    // A broken answer after a whole one keeps the whole one.
    m_peer.Push("HTTP/1.1 200 OK\r\nContent-Length: 900000\r\n\r\nshort");
    EXPECT_THROW(DownloadEntry(m_client, m_peer.Url(), "file", m_dir / "whole.bin", nullptr),
                 std::runtime_error);
    EXPECT_EQ(Listing(), std::vector<std::string>{"whole.bin"});
    EXPECT_EQ(fs::file_size(m_dir / "whole.bin"), (27u << 20) + 12345);
}

// In a child process: starts a download into dir, holds it at its first
// progress with its partial file open, and ends the process as the window's
// Exit does, without waiting for the transfer thread.
[[noreturn]] void ExitDuringADownload(const fs::path& dir) {
    // Threads do not cross a fork: the child has its own peer. Never freed,
    // like the rest, as the held thread uses them up to the process's end.
    static RawResponder& peer = *new RawResponder;
    peer.Push("HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + Pattern(100000));
    struct Hold final : TransferProgressListener {
        std::atomic<bool> reached{false};
        void OnProgress(std::uint64_t, std::uint64_t) override {
            reached = true;
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    };
    static Hold& hold = *new Hold;
    static ServiceClient& client = *new ServiceClient("me@example.com", "pw");
    client.SetWritelyToken("TOKEN");
    std::thread([target = dir / "held.bin"] {
        try {
            DownloadEntry(client, peer.Url(), "file", target, &hold);
        } catch (...) {
        }
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!hold.reached && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!hold.reached) std::_Exit(3);
    if (fs::is_empty(dir)) std::_Exit(4);  // no partial file to look for
    std::exit(0);
}

// The window's Exit does not wait for a transfer thread, so a download still
// on its way when the process ends must not leave its hidden partial file.
TEST(DownloadAtExit, TheHiddenPartialFileOfARunningDownloadGoesWithTheProcess) {
    const fs::path dir =
        fs::temp_directory_path() / ("tallowdesk-exit-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Forked without exec, so that the child writes into this very folder.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(ExitDuringADownload(dir), ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(dir))
        left.push_back(item.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{});
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tallowdesk
