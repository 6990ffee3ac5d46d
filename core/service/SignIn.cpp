#include "SignIn.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "CurlHandles.h"
#include "ResponseBuffer.h"
#include "ServiceClient.h"
#include "ServiceExceptions.h"
#include "TransportSecurity.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

// A request to the account service: its own handle, the version header
// (no blank after the colon) and the transport security settings. The header
// list lives as long as the handle needs it.
struct AccountRequest {
    CurlEasy easy;
    CurlSlist headers;
};

AccountRequest OpenAccountRequest() {
    AccountRequest request;
    if (!request.easy) throw std::runtime_error("Connection initialization failed");
    request.headers.Append("GData-Version:3.0");
    curl_easy_setopt(request.easy.get(), CURLOPT_HTTPHEADER, request.headers.get());
    ApplyTransportSecurity(request.easy.get());
    return request;
}

constexpr const char* kUnknownLoginFailure = "Login failed for unknown error.";
constexpr const char* kChromeUserAgent =
    "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US) AppleWebKit/533.2 (KHTML, like Gecko) "
    "Chrome/6.0";

struct LoginError {
    const char* code;
    const char* message;
};

// Searched in this order; the first code found anywhere in the body wins.
constexpr LoginError kLoginErrors[] = {
    {"BadAuthentication", "The login request used a username or password that is not recognized. "},
    {"NotVerified", "The account email address has not been verified."},
    {"TermsNotAgreed", "The user has not agreed to terms."},
    {"Unknown", "The error is unknown or unspecified"},
    {"AccountDeleted", "The user account has been deleted."},
    {"AccountDisabled", "The user account has been disabled."},
    {"ServiceDisabled", "The user's access to the specified service has been disabled."},
    {"ServiceUnavailable", "The service is not available; try again later"},
};

std::vector<std::string> CookieLines(CURL* handle) {
    curl_slist* raw = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &raw) != CURLE_OK) return {};
    CurlSlist owned(raw);
    std::vector<std::string> lines;
    for (const curl_slist* item = owned.get(); item; item = item->next) {
        lines.emplace_back(item->data);
    }
    return lines;
}

bool HasText(const std::optional<std::string>& value) {
    return value && !value->empty();
}

}  // namespace

std::string PercentEncode(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char ch : value) {
        const auto byte = static_cast<unsigned char>(ch);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string BuildClientLoginBody(std::string_view email, std::string_view password,
                                 std::string_view service,
                                 std::optional<std::string_view> loginToken,
                                 std::optional<std::string_view> captchaAnswer) {
    std::string body = "accountType=HOSTED_OR_GOOGLE";
    body += "&Email=" + PercentEncode(email);
    body += "&Passwd=" + PercentEncode(password);
    body += "&service=" + PercentEncode(service);
    body += "&source=Quarrymoss-Tallowdesk-1.0.0";
    if (loginToken && captchaAnswer) {
        body += "&logintoken=" + PercentEncode(*loginToken);
        body += "&logincaptcha=" + PercentEncode(*captchaAnswer);
    }
    return body;
}

std::string InterpretClientLoginResponse(long status, const std::string& body) {
    if (body.empty()) throw std::runtime_error(kUnknownLoginFailure);
    if (status == 200) {
        const auto start = body.find("Auth=");
        // A 200 answer without a token is not a sign-in.
        if (start == std::string::npos) throw std::runtime_error(kUnknownLoginFailure);
        const auto from = start + 5;
        const auto end = body.find('\n', from);
        std::string token = body.substr(from, end == std::string::npos ? end : end - from);
        // A CR of a CRLF line ending would otherwise end up inside a header.
        if (!token.empty() && token.back() == '\r') token.pop_back();
        if (token.empty()) throw std::runtime_error(kUnknownLoginFailure);
        return token;
    }
    if (body.find("CaptchaRequired") != std::string::npos) throw CaptchaRequiredException(body);
    for (const auto& error : kLoginErrors) {
        if (body.find(error.code) != std::string::npos) throw std::runtime_error(error.message);
    }
    throw std::runtime_error(kUnknownLoginFailure);
}

void ClientLogin(ServiceClient& client, std::string_view service,
                 std::optional<std::string_view> loginToken,
                 std::optional<std::string_view> captchaAnswer) {
    const ServiceCredentials& credentials = client.Credentials();
    if (!HasText(credentials.email) || !HasText(credentials.password)) {
        throw std::runtime_error("Login Email or Password cannot be empty!");
    }
    const AccountRequest request = OpenAccountRequest();
    CURL* handle = request.easy.get();
    const std::string url = "https://" + Hosts().accountsHost + "/accounts/ClientLogin";
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    const std::string body = BuildClientLoginBody(*credentials.email, *credentials.password,
                                                  service, loginToken, captchaAnswer);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    ResponseBuffer response(kMaxReplyBytes);
    response.CollectBody(handle);

    if (curl_easy_perform(handle) != CURLE_OK) {
        response.ThrowIfOverflowed();
        throw std::runtime_error("Error: Cannot connect to Google Docs.");
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    std::string token = InterpretClientLoginResponse(status, response.Text());
    if (service == "writely") {
        client.SetWritelyToken(std::move(token));
    } else if (service == "wise") {
        client.SetWiseToken(std::move(token));
    }
}

std::optional<std::string> FindCookieValue(const std::vector<std::string>& cookieLines,
                                           std::string_view name) {
    for (const std::string& line : cookieLines) {
        // domain, subdomains flag, path, secure, expiry, name, value
        std::vector<std::string_view> fields;
        std::string_view rest = line;
        while (true) {
            const auto tab = rest.find('\t');
            fields.push_back(rest.substr(0, tab));
            if (tab == std::string_view::npos) break;
            rest.remove_prefix(tab + 1);
        }
        if (fields.size() >= 6 && fields[5] == name) {
            return std::string(fields.size() >= 7 ? fields[6] : std::string_view());
        }
    }
    return std::nullopt;
}

namespace {

std::optional<std::string> ValueAfter(std::string_view body, std::string_view key) {
    const std::size_t at = body.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view value = body.substr(at + key.size());
    value = value.substr(0, value.find('\n'));
    if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
    return std::string(value);
}

}  // namespace

std::optional<CaptchaChallenge> ParseCaptchaChallenge(std::string_view body) {
    std::optional<std::string> token = ValueAfter(body, "CaptchaToken=");
    std::optional<std::string> url = ValueAfter(body, "CaptchaUrl=");
    if (!token || !url) return std::nullopt;
    return CaptchaChallenge{std::move(*token), std::move(*url)};
}

std::string BuildCookieSignInBody(std::string_view galx, std::string_view docsHost,
                                  std::string_view email, std::string_view password) {
    const std::string home = "https://" + std::string(docsHost) + "/";
    std::string body = "GALX=" + PercentEncode(galx);
    body += "&continue=" + home;
    body += "&followup=" + home;
    body += "&Email=" + PercentEncode(email);
    body += "&Passwd=" + PercentEncode(password);
    body += "&service=writely";
    return body;
}

void CookieSignIn(ServiceClient& client) {
    CurlEasy easy;
    if (!easy) throw std::runtime_error("Failed to access google docs service.");
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    ApplyTransportSecurity(handle);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kChromeUserAgent);
    client.AttachCookieShare(handle);
    ResponseBuffer page(kMaxPageBytes);
    page.CollectBody(handle);
    const std::string docsHost = Hosts().docsHost;
    const std::string homeUrl = "https://" + docsHost;
    curl_easy_setopt(handle, CURLOPT_URL, homeUrl.c_str());
    if (curl_easy_perform(handle) != CURLE_OK) {
        page.ThrowIfOverflowed();
        throw std::runtime_error("Failed to access google docs service.");
    }

    // Without the form's GALX cookie there is no form to send; the sign-in
    // cannot yield cookies, so it fails like a failed form post.
    const auto galx = FindCookieValue(CookieLines(handle), "GALX");
    if (!galx) throw std::runtime_error("Login failed to get the cookies.");
    const ServiceCredentials& credentials = client.Credentials();
    const std::string body = BuildCookieSignInBody(*galx, docsHost, credentials.email.value_or(""),
                                                   credentials.password.value_or(""));

    ResponseBuffer answer(kMaxPageBytes);
    answer.CollectBody(handle);
    const std::string loginUrl = "https://" + Hosts().accountsHost + "/accounts/ServiceLoginAuth";
    curl_easy_setopt(handle, CURLOPT_URL, loginUrl.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    // Any completed exchange counts: the service answers a good sign-in with
    // redirects and pages whose status says nothing reliable.
    if (curl_easy_perform(handle) != CURLE_OK) {
        answer.ThrowIfOverflowed();
        throw std::runtime_error("Login failed to get the cookies.");
    }
}

std::string FetchCaptchaImage(std::optional<std::string_view> url) {
    if (!url || url->empty()) throw std::runtime_error("Captcha Image Url is invalid");
    const AccountRequest request = OpenAccountRequest();
    CURL* handle = request.easy.get();
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    const std::string target(*url);
    curl_easy_setopt(handle, CURLOPT_URL, target.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    ResponseBuffer picture(kMaxPictureBytes);
    picture.CollectBody(handle);
    // The result is deliberately ignored: the dialog shows whatever arrived,
    // an empty picture included, and the user can ask for another. A picture
    // past the limit is refused rather than shown cut.
    curl_easy_perform(handle);
    picture.ThrowIfOverflowed();

    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec) throw std::runtime_error("Captcha img file creation failed!");
    // A private folder of its own (mode 0700): a name other users of the
    // temporary folder could guess might already be theirs, or a link.
    std::string pattern = (folder / "Tallowdesk-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("Captcha img file creation failed!");
    const fs::path file = fs::path(pattern) / "Captcha.jpg";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Captcha img file creation failed!");
    out.write(picture.Text().data(), static_cast<std::streamsize>(picture.Text().size()));
    out.close();
    if (!out) {
        RemoveCaptchaImage(file.string());
        throw std::runtime_error("Captcha img file creation failed!");
    }
    return file.string();
}

void RemoveCaptchaImage(const std::string& path) {
    if (path.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove(path, ec);
    // The folder was made for this picture alone; it goes when empty.
    fs::remove(fs::path(path).parent_path(), ec);
}

}  // namespace tallowdesk
