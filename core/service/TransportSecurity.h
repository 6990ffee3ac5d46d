#pragma once

#include <cstdint>
#include <string>

typedef void CURL;

namespace tallowdesk {

// The one place that decides TLS verification for every request of the client.
// With verifyPeer set (the default) the peer and host name are verified against
// the system CAs plus the configured caFile when that file exists; verifyPeer
// false switches both checks off explicitly.
void ApplyTransportSecurity(CURL* handle);

// Changes whenever the trusted CAs do (the configured CA file or its
// contents). Connections verified under an earlier value must not be reused:
// libcurl does not tell connections apart by a shared certificate store.
std::uint64_t TrustGeneration();

// The PEM bundle handed to libcurl: the system bundle followed by the extra CA
// file. Empty when there is no extra CA file, meaning "use libcurl's defaults".
// Exposed for tests.
std::string BuildCaBundle(const std::string& systemBundlePath, const std::string& extraCaFile);

}  // namespace tallowdesk
