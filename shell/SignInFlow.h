#pragma once

#include <QtGlobal>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "UiMessages.h"
#include "service/SignIn.h"

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::shell {

// The service and settings calls of a sign-in, injectable so the sequence
// runs without a network in tests. All run on the sign-in workers.
struct SignInServices {
    std::function<void(ServiceClient&, std::string_view service,
                       std::optional<std::string_view> loginToken,
                       std::optional<std::string_view> answer)>
        clientLogin;
    std::function<std::string(const std::string& url)> fetchCaptchaImage;  // path of the picture
    std::function<void(ServiceClient&)> cookieSignIn;
    // Stores or forgets the account after a successful sign-in; empty:
    // RememberUser in configPath.
    std::function<void(const SignInInput& input)> rememberUser;
    std::filesystem::path configPath;  // empty: the default Config.xml
    // Tells the user that the cookie sign-in failed (any thread).
    std::function<void()> warnCookieFailure;
    std::string accountsHost;
};

// The real calls: the service client, Config.xml and a warning box.
SignInServices DefaultSignInServices();

// Stores the account in the Config.xml at configPath (empty: the default
// one) when the user asked for it, else forgets the stored one.
void RememberUser(const SignInInput& input, const std::filesystem::path& configPath);

// Marked for translation; shown through QCoreApplication::translate("SignInFlow", ...).
inline constexpr const char* kLoginFailedText = QT_TRANSLATE_NOOP("SignInFlow", " Login failed! ");
inline constexpr const char* kCookieWarningText = QT_TRANSLATE_NOOP(
    "SignInFlow",
    "A connection problem or a changing of Google's service occurs, some uploading operations "
    "may not work. Please make sure your Internat connection is available and upgrade "
    "Tallowdesk to the latest version.");

// The CAPTCHA request of a ClientLogin error body (parsed in the core).
using tallowdesk::CaptchaChallenge;
using tallowdesk::ParseCaptchaChallenge;

// Signs in for one service, with the CAPTCHA round trip when asked for.
// Reports failures on the dialog's status line. Worker thread.
bool SignInForService(const SignInPort& dialog, ServiceClient& client, std::string_view service,
                      const SignInServices& services);

// "writely", then "wise", then remember the account and post "Login
// Finished"; on failure re-enable the dialog. True when signed in. Worker
// thread; never throws.
bool RunSignIn(const SignInPort& dialog, ServiceClient& client, const SignInServices& services);

// The cookie sign-in; a failure only warns. Worker thread; never throws.
void RunCookieSignIn(ServiceClient& client, const SignInServices& services);

// Starts the sign-in worker on the client (which it keeps alive); the cookie
// sign-in follows on it once ClientLogin succeeded.
void StartSignInWorkers(const SignInPort& dialog, std::shared_ptr<ServiceClient> client,
                        const SignInServices& services);

}  // namespace tallowdesk::shell
