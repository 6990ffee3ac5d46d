#pragma once

#include "settings/ServiceHosts.h"

namespace tallowdesk::test {

// Installs service hosts for one test and puts the previous ones back.
class ScopedHosts {
public:
    explicit ScopedHosts(ServiceHosts hosts) : m_saved(Hosts()) {
        SetServiceHosts(std::move(hosts));
    }
    ~ScopedHosts() { SetServiceHosts(m_saved); }
    ScopedHosts(const ScopedHosts&) = delete;
    ScopedHosts& operator=(const ScopedHosts&) = delete;

private:
    ServiceHosts m_saved;
};

inline ServiceHosts HostsFor(const std::string& docsHost, const std::string& caFile = {}) {
    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.docsHost = docsHost;
    hosts.accountsHost = docsHost;
    hosts.schemasHost = "schemas.google.com";
    hosts.caFile = caFile;
    hosts.verifyPeer = true;
    return hosts;
}

}  // namespace tallowdesk::test
