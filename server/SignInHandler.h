#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HttpMessage.h"

namespace tallowdesk::server {

class Store;
class SharedState;

// The account service: ClientLogin with its CAPTCHA challenge, the CAPTCHA
// pictures, and the browser sign-in form that hands out session cookies.
// Thread-safe; challenges, form tokens and the failure counts per address
// live in the shared state, so every service process on the data folder
// knows them.
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

private:
    HttpResponse CaptchaChallenge(const HttpRequest& request, const std::string& email,
                                  const std::string& service);
    bool SolveChallenge(const std::string& email, const std::string& token,
                        const std::string& answer);
    // Failed sign-ins per client address: enough of them make a CAPTCHA due
    // for every account tried from there, before any password is hashed.
    bool AddressThrottled(const std::string& address);
    void RecordAddressFailure(const std::string& address);
    // A fresh GALX value for a sign-in form.
    std::string NewFormToken();

    Store& m_store;
    SharedState& m_shared;
};

}  // namespace tallowdesk::server
