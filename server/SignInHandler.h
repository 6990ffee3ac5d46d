#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "HttpMessage.h"
#include "SignInGuard.h"

namespace tallowdesk::server {

class Store;

// The account service: ClientLogin with its CAPTCHA challenge, the CAPTCHA
// pictures, and the browser sign-in form that hands out session cookies.
// Thread-safe; challenges and form tokens live in memory only, so a restart
// simply asks again.
class SignInHandler {
public:
    explicit SignInHandler(Store& store);

    HttpResponse ClientLogin(const HttpRequest& request);
    HttpResponse CaptchaImage(const HttpRequest& request);
    HttpResponse Home(const HttpRequest& request);
    HttpResponse ServiceLogin(const HttpRequest& request);
    HttpResponse ServiceLoginAuth(const HttpRequest& request);

    // The account whose session cookies the request carries.
    std::optional<std::string> CookieUser(const HttpRequest& request);
    std::optional<std::string> CaptchaAnswer(const std::string& token);
    // Whether a sign-in of this account from this client address must solve
    // a picture first.
    bool CaptchaDue(const std::string& email, const std::string& address);

private:
    struct Challenge {
        std::string email;
        std::string answer;
        std::int64_t created = 0;
    };

    HttpResponse CaptchaChallenge(const HttpRequest& request, const std::string& email,
                                  const std::string& service);
    // A new challenge for `email`: its token.
    std::string NewChallenge(const std::string& email);
    bool SolveChallenge(const std::string& email, const std::string& token,
                        const std::string& answer);
    void ExpireLocked(std::int64_t now);
    // A fresh GALX value for a sign-in form.
    std::string NewFormToken();

    Store& m_store;
    std::mutex m_mutex;
    std::map<std::string, Challenge> m_challenges;
    std::map<std::string, std::int64_t> m_formTokens;  // GALX values handed out
    SignInGuard m_guard;
};

}  // namespace tallowdesk::server
