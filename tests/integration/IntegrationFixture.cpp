#include "IntegrationFixture.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "Headers.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::test {

namespace fs = std::filesystem;

std::string LoggedRequest::Header(const std::string& name) const {
    return HeaderValue(headers, name);
}

bool LoggedRequest::HasHeaderLine(const std::string& name, const std::string& value) const {
    for (const auto& [n, v] : headers)
        if (n == name && v == value) return true;
    return false;
}

void IntegrationTest::SetUp() {
    static int counter = 0;
    m_dir = fs::temp_directory_path() /
            ("tallowdesk-it-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    server::ServerOptions options;
    options.dataDir = (m_dir / "server").string();
    options.port = 0;
    options.pageSize = 10;
    options.requestLogPath = (m_dir / "requests.jsonl").string();
    options.passwordIterations = 1000;
    options.ioThreads = 2;
    m_server = std::make_unique<server::Server>(options);
    m_server->AddUser(kEmail, kPassword, "Alice");
    m_port = m_server->Start();

    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.docsHost = Host();
    hosts.accountsHost = Host();
    hosts.caFile = m_server->CertPath();
    SetServiceHosts(hosts);
    ResetCategoryTable();
}

void IntegrationTest::TearDown() {
    m_server->Stop();
    m_server.reset();
    SetServiceHosts(ServiceHosts::Defaults());
    ResetCategoryTable();
    fs::remove_all(m_dir);
}

std::string IntegrationTest::Host() const {
    return "localhost:" + std::to_string(m_port);
}

std::vector<LoggedRequest> IntegrationTest::Requests() const {
    std::vector<LoggedRequest> out;
    std::ifstream in(m_dir / "requests.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        const auto j = nlohmann::json::parse(line);
        LoggedRequest r{j["method"], j["target"], {}, j["body"]};
        for (const auto& h : j["headers"]) r.headers.emplace_back(h[0], h[1]);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<LoggedRequest> IntegrationTest::NewRequests() {
    auto all = Requests();
    std::vector<LoggedRequest> fresh(
        all.begin() + static_cast<std::ptrdiff_t>(std::min(m_seen, all.size())), all.end());
    m_seen = all.size();
    return fresh;
}

}  // namespace tallowdesk::test
