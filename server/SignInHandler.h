#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HttpMessage.h"
#include "SignInGuard.h"

namespace tallowdesk::server {

class Store;
class SharedState;

// The account service: ClientLogin with its CAPTCHA challenge, the CAPTCHA
// pictures, and the browser sign-in form that hands out session cookies.
// Thread-safe; challenges and form tokens live in the shared state, so every
// service process on the data folder knows them. The failure counts per
// account are kept by each process (SignInGuard); the count per source is
// kept in the shared state as well, so tries spread over processes add up.
class SignInHandler {
public:
    SignInHandler(Store& store, SharedState& shared);

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
    HttpResponse CaptchaChallenge(const HttpRequest& request, const std::string& email,
                                  const std::string& service);
    // A new challenge for `email`: its token.
    std::string NewChallenge(const std::string& email);
    bool SolveChallenge(const std::string& email, const std::string& token,
                        const std::string& answer);
    // Counts a failed sign-in here and in the shared state.
    void RecordFailure(const std::string& email, const std::string& source);
    // A fresh GALX value for a sign-in form.
    std::string NewFormToken();

    Store& m_store;
    SharedState& m_shared;
    SignInGuard m_guard;
};

}  // namespace tallowdesk::server
