// server_load_bench: many clients signing in and listing at once against the
// local document service, over loopback, for a bounded time. Prints
// requests per second, errors and latency percentiles for sign-ins and for
// feed pages, and the service's resident memory before and after.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string server;
    int clients = 100;
    int seconds = 20;
    int listsPerSignIn = 5;
};

// The service as a child process; killed at the end.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& input) {
        int out[2], in[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::vector<std::string> all = args;
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("cannot start " + args[0]);
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(in[0]);
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
            throw std::runtime_error("cannot write to the service");
        }
        close(in[1]);
        m_out = out[0];
    }
    ~Child() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    std::string ReadLineWith(const std::string& marker) {
        std::string text;
        char c;
        while (read(m_out, &c, 1) == 1) {
            text += c;
            if (c == '\n') {
                if (text.find(marker) != std::string::npos) return text;
                text.clear();
            }
        }
        throw std::runtime_error("the service ended early");
    }
    int Wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }
    long ResidentKb() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        }
        return 0;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

struct Result {
    long status = 0;
    std::string body;
    double ms = 0;
    bool failed = false;
};

Result Request(CURL* curl, const std::string& url, const std::string& cert,
               const std::vector<std::string>& headers, const std::string* post) {
    Result r;
    curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, cert.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post->c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(post->size()));
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    const auto start = Clock::now();
    const CURLcode rc = curl_easy_perform(curl);
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    r.failed = rc != CURLE_OK;
    return r;
}

struct Series {
    std::mutex mutex;
    std::vector<double> ms;
    std::atomic<long> errors{0};
    void Add(double value) {
        std::lock_guard lock(mutex);
        ms.push_back(value);
    }
    void Print(const char* name, double seconds) {
        std::sort(ms.begin(), ms.end());
        auto at = [&](double p) {
            return ms.empty()
                       ? 0.0
                       : ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
        };
        std::printf(
            "%-8s %7zu requests %8.1f req/s  errors %ld  p50 %8.1f ms  p90 %8.1f ms  "
            "p99 %8.1f ms  max %8.1f ms\n",
            name, ms.size(), ms.size() / seconds, errors.load(), at(0.50), at(0.90), at(0.99),
            ms.empty() ? 0.0 : ms.back());
    }
};

std::string Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms.empty() ? 0.0 : ms[ms.size() / 2]);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--server")
            options.server = next();
        else if (arg == "--clients")
            options.clients = std::clamp(std::atoi(next().c_str()), 1, 500);
        else if (arg == "--seconds")
            options.seconds = std::clamp(std::atoi(next().c_str()), 1, 120);
        else if (arg == "--lists-per-sign-in")
            options.listsPerSignIn = std::max(1, std::atoi(next().c_str()));
        else {
            std::fprintf(stderr,
                         "usage: server_load_bench --server PATH [--clients 100] [--seconds 20] "
                         "[--lists-per-sign-in 5]\n");
            return 2;
        }
    }
    if (options.server.empty()) {
        std::fprintf(stderr, "server_load_bench: --server PATH of tallowdesk-server is needed\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const fs::path dir =
        fs::temp_directory_path() / ("tallowdesk-load-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string data = (dir / "data").string();
    {
        Child add({options.server, "--data-dir", data, "add-user", "load@example.test"},
                  "load-pw\n");
        add.Wait();
    }
    int rc = 0;
    {
        Child server({options.server, "--data-dir", data, "--port", "0"}, {});
        const std::string line = server.ReadLineWith("listening on https://localhost:");
        const std::string port = line.substr(line.find("localhost:") + 10);
        const std::string base =
            "https://localhost:" + port.substr(0, port.find_first_not_of("0123456789"));
        const std::string cert = data + "/cert.pem";
        const std::string form =
            "accountType=HOSTED_OR_GOOGLE&Email=load%40example.test&Passwd=load-pw&service=writely&"
            "source=bench";
        const std::string unknown =
            "accountType=HOSTED_OR_GOOGLE&Email=nobody%40example.test&Passwd=load-pw&service="
            "writely&source=bench";

        // An unknown account must take as long as a known one.
        std::vector<double> known, absent;
        {
            CURL* curl = curl_easy_init();
            for (int i = 0; i < 8; ++i) {
                known.push_back(Request(curl, base + "/accounts/ClientLogin", cert, {}, &form).ms);
                absent.push_back(
                    Request(curl, base + "/accounts/ClientLogin", cert, {}, &unknown).ms);
            }
            curl_easy_cleanup(curl);
        }
        std::printf("sign-in, known account: median %s; unknown account: median %s\n",
                    Median(known).c_str(), Median(absent).c_str());

        const long before = server.ResidentKb();
        Series signIns, feeds;
        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        const auto start = Clock::now();
        for (int c = 0; c < options.clients; ++c) {
            clients.emplace_back([&] {
                CURL* curl = curl_easy_init();
                while (!stop) {
                    const Result login =
                        Request(curl, base + "/accounts/ClientLogin", cert, {}, &form);
                    if (stop) break;
                    if (login.failed || login.status != 200) {
                        ++signIns.errors;
                        continue;
                    }
                    signIns.Add(login.ms);
                    const auto at = login.body.find("Auth=");
                    const std::string token =
                        login.body.substr(at + 5, login.body.find('\n', at) - at - 5);
                    for (int i = 0; i < options.listsPerSignIn && !stop; ++i) {
                        const Result feed = Request(
                            curl, base + "/feeds/default/private/full?showfolders=true", cert,
                            {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + token},
                            nullptr);
                        if (feed.failed || feed.status != 200) {
                            ++feeds.errors;
                        } else {
                            feeds.Add(feed.ms);
                        }
                    }
                }
                curl_easy_cleanup(curl);
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
        stop = true;
        for (auto& t : clients) t.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const long after = server.ResidentKb();
        std::printf("%d clients for %.1f s (each: sign in, then %d feed pages)\n", options.clients,
                    seconds, options.listsPerSignIn);
        signIns.Print("sign-in", seconds);
        feeds.Print("feed", seconds);
        std::printf("service memory: %ld KiB before, %ld KiB after\n", before, after);
        rc = signIns.errors + feeds.errors == 0 ? 0 : 1;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    curl_global_cleanup();
    return rc;
}
