#include "RequestLog.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tallowdesk::server {

RequestLog::RequestLog(const std::string& path) : m_out(path, std::ios::app | std::ios::binary) {
    if (!m_out) throw std::runtime_error("Cannot open request log " + path);
}

void RequestLog::Write(const HttpRequest& request) {
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [name, value] : request.headers) headers.push_back({name, value});
    const nlohmann::json line = {
        {"method", request.method},
        {"target", request.target},
        {"headers", headers},
        {"body", request.body.substr(0, 4096)},
        {"bodyLength", request.body.size()},
        {"scheme", request.Scheme()},
    };
    // Bodies may hold any bytes; invalid UTF-8 is replaced rather than refused.
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::lock_guard lock(m_mutex);
    m_out << text << '\n';
    m_out.flush();
}

}  // namespace tallowdesk::server
