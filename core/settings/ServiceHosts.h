#pragma once

#include <string>

namespace tallowdesk {

// Where the services live. Every URL of the program is built from these; the
// defaults point at the local document service, Config.xml may override them.
// Set once at start-up (SetServiceHosts) before any worker runs; read-only
// afterwards, so workers read them without a lock.
struct ServiceHosts {
    std::string docsHost;          // document service, "host[:port]"
    std::string accountsHost;      // account service (ClientLogin, web sign-in)
    std::string schemasHost;       // host part of the GData namespace and scheme URIs
    std::string updateHost;        // update server
    std::string homeHost;          // the program's home and help pages
    std::string groupsMailDomain;  // mail domain of group addresses when sharing
    std::string caFile;            // extra CA certificate (PEM) trusted for HTTPS; empty for none
    bool verifyPeer = true;        // TLS peer verification; only an explicit setting turns it off

    static ServiceHosts Defaults();
};

// Port of the local document service when nothing else is configured.
inline constexpr int kDefaultLocalPort = 48443;

// The local document service's data folder ($XDG_DATA_HOME/Tallowdesk/server,
// default ~/.local/share/Tallowdesk/server); its certificate is trusted by default.
std::string DefaultServerDataDir();

// The address of a page of the account service that the browser opens
// ("/accounts/NewAccount", "/accounts/PurchaseStorage"). The local service
// serves its browser pages over plain http on this machine, so that the
// browser stops at no certificate warning; any other host gets https.
std::string AccountsPageUrl(const std::string& host, const std::string& path);

const ServiceHosts& Hosts();
void SetServiceHosts(ServiceHosts hosts);

}  // namespace tallowdesk
