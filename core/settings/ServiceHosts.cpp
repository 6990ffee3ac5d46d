#include "ServiceHosts.h"

#include <cstdlib>
#include <filesystem>

namespace tallowdesk {

namespace {
ServiceHosts& Current() {
    static ServiceHosts hosts = ServiceHosts::Defaults();
    return hosts;
}
}  // namespace

std::string DefaultServerDataDir() {
    namespace fs = std::filesystem;
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    } else {
        return {};  // no private folder: no shared one either (see ServiceHosts.h)
    }
    return (base / "Tallowdesk" / "server").string();
}

ServiceHosts ServiceHosts::Defaults() {
    const std::string local = "localhost:" + std::to_string(kDefaultLocalPort);
    ServiceHosts h;
    h.docsHost = local;
    h.accountsHost = local;
    h.schemasHost = "schemas.google.com";
    h.updateHost = local;
    h.homeHost = local;
    h.groupsMailDomain = "groups.localhost";
    const std::string data = DefaultServerDataDir();
    h.caFile = data.empty() ? std::string() : data + "/cert.pem";
    h.verifyPeer = true;
    return h;
}

const ServiceHosts& Hosts() {
    return Current();
}

void SetServiceHosts(ServiceHosts hosts) {
    Current() = std::move(hosts);
}

std::string AccountsPageUrl(const std::string& host, const std::string& path) {
    // The host name without its port; "[::1]:port" keeps its brackets.
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        name = name.substr(0, name.find(']') + 1);
    } else if (const auto colon = name.rfind(':'); colon != std::string::npos) {
        name.resize(colon);
    }
    const bool loopbackV4 =
        name.rfind("127.", 0) == 0 && name.find_first_not_of("0123456789.") == std::string::npos;
    const bool loopback = name == "localhost" || name == "[::1]" || loopbackV4;
    return (loopback ? "http://" : "https://") + host + path;
}

}  // namespace tallowdesk
