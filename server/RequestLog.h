#pragma once

#include <fstream>
#include <mutex>
#include <string>

#include "HttpMessage.h"

namespace tallowdesk::server {

// Appends one JSON line per request (method, target, headers in arrival
// order, the first 4096 bytes of the body, scheme) so client tests can check
// what was sent byte for byte, except secrets: passwords (Passwd), tokens
// (Auth, Authorization) and cookies are replaced by "[redacted]". The file is
// private (0600). Thread-safe; each line is flushed at once.
class RequestLog {
public:
    // Without `redact` secrets are logged as sent (tests of the client).
    explicit RequestLog(const std::string& path, bool redact = true);
    void Write(const HttpRequest& request);

private:
    std::mutex m_mutex;
    std::ofstream m_out;
    bool m_redact;
};

}  // namespace tallowdesk::server
