#include "RequestLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tallowdesk::server {

namespace {

constexpr const char* kHidden = "[redacted]";

// Every field of a password kind ("Passwd", "PasswdAgain", "newPassword",
// "pwd"...), the token that proves a sign-in, and a CAPTCHA answer.
bool IsSecretField(const std::string& name) {
    std::string lower;
    for (const char c : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("passw") != std::string::npos || lower.find("pwd") != std::string::npos ||
           lower == "auth" || lower == "logincaptcha" || lower == "secret";
}

// Form or query text with the values of secret fields replaced.
std::string RedactForm(std::string_view text) {
    std::string out;
    while (true) {
        const auto amp = text.find('&');
        std::string_view pair = text.substr(0, amp);
        const auto eq = pair.find('=');
        const std::string name = UrlDecode(pair.substr(0, eq), true);
        if (eq != std::string_view::npos && IsSecretField(name)) {
            out += std::string(pair.substr(0, eq + 1)) + kHidden;
        } else {
            out += pair;
        }
        if (amp == std::string_view::npos) break;
        out += '&';
        text.remove_prefix(amp + 1);
    }
    return out;
}

std::string RedactHeader(const std::string& name, const std::string& value) {
    if (EqualsIgnoreCase(name, "Cookie")) return kHidden;
    if (EqualsIgnoreCase(name, "Authorization")) {
        // The scheme stays readable, the credential does not.
        const auto at = value.find('=');
        return at == std::string::npos ? kHidden : value.substr(0, at + 1) + kHidden;
    }
    return value;
}

}  // namespace

RequestLog::RequestLog(const std::string& path, bool redact) : m_redact(redact) {
    // Private like the rest of the data, even though secrets are blanked.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    std::error_code ignored;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ignored);
    m_out.open(path, std::ios::app | std::ios::binary);
    if (!m_out) throw std::runtime_error("Cannot open request log " + path);
}

void RequestLog::Write(const HttpRequest& request) {
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [name, value] : request.headers) {
        headers.push_back({name, m_redact ? RedactHeader(name, value) : value});
    }
    std::string target = request.target;
    if (const auto q = target.find('?'); m_redact && q != std::string::npos) {
        target = target.substr(0, q + 1) + RedactForm(std::string_view(target).substr(q + 1));
    }
    // Sign-in forms are the bodies with secrets; JSON and Atom carry none.
    const std::string type = request.Header("Content-Type").value_or("");
    const bool form = type.find("x-www-form-urlencoded") != std::string::npos ||
                      request.Path().rfind("/accounts/", 0) == 0;
    const std::string body = m_redact && form ? RedactForm(request.body) : request.body;
    const nlohmann::json line = {
        {"method", request.method},
        {"target", target},
        {"headers", headers},
        {"body", body.substr(0, 4096)},
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
