#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowdesk {

class ServiceClient;

// Sign-in to the account service. Every operation is synchronous, runs on a
// worker thread and throws std::runtime_error (or CaptchaRequiredException)
// with a message meant for the user.

// ClientLogin for one service ("writely" or "wise"). The token and the answer
// are sent only when both are given (the CAPTCHA round trip). On success the
// service's token is stored in the client; on failure the client is unchanged.
void ClientLogin(ServiceClient& client, std::string_view service,
                 std::optional<std::string_view> loginToken = std::nullopt,
                 std::optional<std::string_view> captchaAnswer = std::nullopt);

// Web-form sign-in whose session cookies land in the client's cookie store.
void CookieSignIn(ServiceClient& client);

// Downloads the CAPTCHA picture into a private temporary folder and returns
// the path of the file written ("Captcha.jpg"); the caller removes it with
// RemoveCaptchaImage.
std::string FetchCaptchaImage(std::optional<std::string_view> url);
// Deletes a picture FetchCaptchaImage wrote, and its folder.
void RemoveCaptchaImage(const std::string& path);

// Pieces of the above, kept apart so they can be checked without a network.

// Form encoding of one value: everything but A-Z a-z 0-9 - . _ ~ becomes %XX.
std::string PercentEncode(std::string_view value);

// The ClientLogin form body.
std::string BuildClientLoginBody(std::string_view email, std::string_view password,
                                 std::string_view service,
                                 std::optional<std::string_view> loginToken,
                                 std::optional<std::string_view> captchaAnswer);

// Reads a ClientLogin answer. Returns the token for status 200; throws the
// user-facing error for anything else.
std::string InterpretClientLoginResponse(long status, const std::string& body);

// The value of the cookie called name in a libcurl cookie list (one
// tab-separated cookie-file line per cookie), or nothing.
std::optional<std::string> FindCookieValue(const std::vector<std::string>& cookieLines,
                                           std::string_view name);

// The CAPTCHA request carried in a ClientLogin error body.
struct CaptchaChallenge {
    std::string token;
    std::string picturePath;
};
// The values after "CaptchaToken=" and "CaptchaUrl=" (each to its line end,
// a CR of CRLF dropped); nothing when either is missing.
std::optional<CaptchaChallenge> ParseCaptchaChallenge(std::string_view body);

// The web sign-in form body.
std::string BuildCookieSignInBody(std::string_view galx, std::string_view docsHost,
                                  std::string_view email, std::string_view password);

}  // namespace tallowdesk
