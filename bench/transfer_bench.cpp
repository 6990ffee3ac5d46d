// transfer_bench [--size-mib N] [--small-mib N] [--dir DIR] [--runs 3]
//
// Uploads (browser route) and downloads one large file through the client
// library and through the curl command line against a local service running
// in its own process, and prints both throughputs and the client's peak
// resident memory for a large and a small file (medians of the runs).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Server.h"
#include "Store.h"
#include "UploadHandler.h"
#include "model/FeedCatalogue.h"
#include "service/Download.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"
#include "service/Upload.h"
#include "settings/ServiceHosts.h"

namespace fs = std::filesystem;
using tallowdesk::server::Server;

namespace {

constexpr const char* kEmail = "bench@example.test";
constexpr const char* kPassword = "bench-password";

// Writes `size` bytes of a repeating non-zero pattern, a MiB at a time.
void Generate(const fs::path& path, std::uint64_t size) {
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 251 + 1);
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct ServerInfo {
    pid_t pid = -1;
    unsigned port = 0;
    std::string sid, hsid, token, bigId, smallId;
};

// The service in a child process, so its memory is not the client's.
pid_t StartServer(const fs::path& dir, std::uint64_t big, std::uint64_t small, ServerInfo& info,
                  int& stopFd) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        ::close(down[1]);
        tallowdesk::server::ServerOptions options;
        options.dataDir = (dir / "data").string();
        options.port = 0;
        options.passwordIterations = 1000;
        Server server(options);
        server.AddUser(kEmail, kPassword);
        server.SetSessionUrlStyle(tallowdesk::server::AnswerStyle::Header);
        server.SetEntryIdStyle(tallowdesk::server::AnswerStyle::Body);
        auto& store = server.GetStore();
        auto seed = [&](std::uint64_t size, const std::string& name) {
            const fs::path file = dir / "data" / "content" / (".seed-" + name);
            Generate(file, size);
            tallowdesk::server::NewEntry n;
            n.kind = "file";
            n.title = name;
            n.mime = "application/octet-stream";
            n.contentFile = file.string();
            return store.Create(kEmail, n).id;
        };
        const std::string bigId = seed(big, "seed-big.bin");
        const std::string smallId = seed(small, "seed-small.bin");
        const auto session = store.CreateSession(kEmail);
        const std::string token = store.IssueToken(kEmail, "writely");
        const unsigned short port = server.Start();
        const std::string line = std::to_string(port) + " " + session.sid + " " + session.hsid +
                                 " " + token + " " + bigId + " " + smallId + "\n";
        if (::write(up[1], line.data(), line.size()) < 0) ::_exit(1);
        char c;
        while (::read(down[0], &c, 1) > 0) {
        }
        server.Stop();
        ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    stopFd = down[1];
    std::string line;
    char c;
    while (::read(up[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(up[0]);
    std::istringstream in(line);
    in >> info.port >> info.sid >> info.hsid >> info.token >> info.bigId >> info.smallId;
    if (info.port == 0) throw std::runtime_error("the service did not start");
    return pid;
}

// CPU seconds (user and system) the process has used so far; 0 when unknown.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto end = stat.rfind(')');  // the name may hold blanks
    if (end == std::string::npos) return 0;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// CPU seconds of the children this process has waited for.
double ChildrenCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct ClientRun {
    double upload = 0, download = 0;
    long peakKb = 0;
};

// Runs the client in a child so its peak memory is its own.
ClientRun RunClient(const ServerInfo& info, const fs::path& dir, const fs::path& source,
                    const std::string& seedId) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        try {
            tallowdesk::ServiceHosts hosts = tallowdesk::ServiceHosts::Defaults();
            hosts.docsHost = "localhost:" + std::to_string(info.port);
            hosts.accountsHost = hosts.docsHost;
            hosts.caFile = (dir / "data" / "cert.pem").string();
            tallowdesk::SetServiceHosts(hosts);
            tallowdesk::ServiceClient client(kEmail, kPassword);
            tallowdesk::ClientLogin(client, "writely");
            tallowdesk::CookieSignIn(client);
            tinyxml2::XMLDocument doc;
            auto start = std::chrono::steady_clock::now();
            tallowdesk::UploadResumable(client, source.string(), tallowdesk::DocumentListUrl(), doc,
                                        nullptr);
            const double up = Seconds(start);
            if (!doc.FirstChildElement("entry")) throw std::runtime_error("no entry");
            const fs::path out = dir / "client-download.bin";
            start = std::chrono::steady_clock::now();
            tallowdesk::DownloadEntry(
                client, "https://" + hosts.docsHost + "/feeds/download/files/" + seedId, "file",
                out, nullptr);
            const double down = Seconds(start);
            fs::remove(out);
            const std::string line = std::to_string(up) + " " + std::to_string(down) + "\n";
            if (::write(fds[1], line.data(), line.size()) < 0) ::_exit(1);
            ::_exit(0);
        } catch (const std::exception& e) {
            std::cerr << "client: " << e.what() << '\n';
            ::_exit(1);
        }
    }
    ::close(fds[1]);
    std::string line;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("client failed");
    ClientRun run;
    std::istringstream(line) >> run.upload >> run.download;
    run.peakKb = usage.ru_maxrss;
    return run;
}

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen");
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    return out;
}

struct CurlRun {
    double upload = 0, download = 0;
    // CPU seconds of the upload: the service's and curl's own.
    double uploadServiceCpu = 0, uploadCurlCpu = 0;
    // The download and then an fsync of the file: what the client does
    // before it renames a download into place, so the fair anchor for it.
    double downloadSynced = 0;
};

// The same requests with the curl command line.
CurlRun RunCurl(const ServerInfo& info, const fs::path& dir, const fs::path& source,
                std::uint64_t size, const std::string& seedId) {
    const std::string base = "https://localhost:" + std::to_string(info.port);
    const std::string common = "curl -sS --fail --cacert '" + (dir / "data" / "cert.pem").string() +
                               "' -H 'Cookie: SID=" + info.sid + "; HSID=" + info.hsid + "' ";
    const fs::path json = dir / "session.json";
    std::ofstream(json)
        << R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[{"external":{"name":"file","filename":"curl.bin","formPost":{},"size":)"
        << size << "}}]}}";
    const std::string headers =
        Run(common + "-D - -o /dev/null --data-binary @'" + json.string() + "' '" + base +
            "/upload/resumableupload?authuser=0&user=" + kEmail + "'");
    const auto at = headers.find("Location: ");
    if (at == std::string::npos) throw std::runtime_error("no session URL");
    const std::string url = headers.substr(at + 10, headers.find('\r', at) - at - 10);
    const double serviceCpu = ProcessCpuSeconds(info.pid);
    const double curlCpu = ChildrenCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    Run(common + "-o /dev/null -F 'Filedata=@" + source.string() +
        ";type=application/octet-stream' '" + url + "'");
    const double up = Seconds(start);
    const double upServiceCpu = ProcessCpuSeconds(info.pid) - serviceCpu;
    const double upCurlCpu = ChildrenCpuSeconds() - curlCpu;
    const fs::path out = dir / "curl-download.bin";
    start = std::chrono::steady_clock::now();
    Run("curl -sS --fail --cacert '" + (dir / "data" / "cert.pem").string() +
        "' -H 'GData-Version: 3.0' -H 'Authorization: GoogleLogin auth=" + info.token + "' -o '" +
        out.string() + "' '" + base + "/feeds/download/files/" + seedId + "'");
    const double down = Seconds(start);
    const int fd = ::open(out.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) throw std::runtime_error("cannot sync curl's download");
    ::close(fd);
    const double synced = Seconds(start);
    fs::remove(out);
    return {up, down, upServiceCpu, upCurlCpu, synced};
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t bigMib = 1024, smallMib = 64;
    int runs = 3;
    fs::path root = fs::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--size-mib") bigMib = std::stoull(argv[i + 1]);
        if (arg == "--small-mib") smallMib = std::stoull(argv[i + 1]);
        if (arg == "--dir") root = argv[i + 1];
        if (arg == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    }
    // The largest upload the service takes is one byte under 1 GiB.
    const std::uint64_t bigUpload =
        std::min<std::uint64_t>(bigMib << 20, tallowdesk::server::kMaxUploadBytes - 1);
    const std::uint64_t bigDownload = std::max<std::uint64_t>(bigMib << 20, 1);
    const std::uint64_t small = smallMib << 20;
    const fs::path dir = root / ("tallowdesk-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    int status = 0;
    pid_t server = -1;
    int stopFd = -1;
    try {
        ServerInfo info;
        server = StartServer(dir, bigDownload, small, info, stopFd);
        info.pid = server;
        const fs::path bigFile = dir / "upload-big.bin";
        const fs::path smallFile = dir / "upload-small.bin";
        Generate(bigFile, bigUpload);
        Generate(smallFile, small);
        const double mib = 1024.0 * 1024.0;
        auto report = [&](const char* what, std::uint64_t upBytes, std::uint64_t downBytes,
                          const ClientRun& c, const CurlRun& k) {
            const double cu = upBytes / mib / c.upload, cd = downBytes / mib / c.download;
            const double ku = upBytes / mib / k.upload, kd = downBytes / mib / k.download;
            const double ks = downBytes / mib / k.downloadSynced;
            std::printf("%s upload   %llu bytes: client %.1f MiB/s, curl %.1f MiB/s, ratio %.2f\n",
                        what, static_cast<unsigned long long>(upBytes), cu, ku, cu / ku);
            std::printf("%s download %llu bytes: client %.1f MiB/s, curl %.1f MiB/s, ratio %.2f\n",
                        what, static_cast<unsigned long long>(downBytes), cd, kd, cd / kd);
            std::printf(
                "%s download-synced %llu bytes: client %.1f MiB/s, curl %.1f MiB/s, ratio %.2f\n",
                what, static_cast<unsigned long long>(downBytes), cd, ks, cd / ks);
            std::printf("%s client peak resident memory: %ld KiB\n", what, c.peakKb);
            std::printf("%s upload-cpu %llu bytes: service %.2f s, curl %.2f s\n", what,
                        static_cast<unsigned long long>(upBytes), k.uploadServiceCpu,
                        k.uploadCurlCpu);
        };
        // Client and curl take turns, and each figure is the median of its
        // runs: one run of a 64 MiB transfer lasts a tenth of a second, too
        // short to stand alone beside whatever else the machine is doing.
        auto measure = [&](const char* what, const fs::path& file, std::uint64_t upBytes,
                           std::uint64_t downBytes, const std::string& seedId) {
            std::vector<ClientRun> clients;
            std::vector<CurlRun> curls;
            for (int r = 0; r < runs; ++r) {
                clients.push_back(RunClient(info, dir, file, seedId));
                curls.push_back(RunCurl(info, dir, file, upBytes, seedId));
            }
            ClientRun c;
            CurlRun k;
            std::vector<double> values;
            auto median = [&](auto pick) {
                values.clear();
                for (std::size_t i = 0; i < clients.size(); ++i) values.push_back(pick(i));
                std::sort(values.begin(), values.end());
                return values[values.size() / 2];
            };
            c.upload = median([&](std::size_t i) { return clients[i].upload; });
            c.download = median([&](std::size_t i) { return clients[i].download; });
            k.upload = median([&](std::size_t i) { return curls[i].upload; });
            k.uploadServiceCpu = median([&](std::size_t i) { return curls[i].uploadServiceCpu; });
            k.uploadCurlCpu = median([&](std::size_t i) { return curls[i].uploadCurlCpu; });
            k.download = median([&](std::size_t i) { return curls[i].download; });
            k.downloadSynced = median([&](std::size_t i) { return curls[i].downloadSynced; });
            for (const ClientRun& run : clients) c.peakKb = std::max(c.peakKb, run.peakKb);
            report(what, upBytes, downBytes, c, k);
        };
        measure("small", smallFile, small, small, info.smallId);
        measure("large", bigFile, bigUpload, bigDownload, info.bigId);
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::cerr << "transfer_bench: " << e.what() << '\n';
        status = 1;
    }
    if (stopFd >= 0) ::close(stopFd);
    if (server > 0) ::waitpid(server, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}
