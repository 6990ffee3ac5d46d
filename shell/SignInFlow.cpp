#include "SignInFlow.h"

#include <QApplication>
#include <QMessageBox>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "RememberedPassword.h"
#include "Worker.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::shell {
namespace {

std::string LoginFailedText() {
    return QCoreApplication::translate("SignInFlow", kLoginFailedText).toStdString();
}

// Deletes the CAPTCHA picture however the step ends.
struct PictureFile {
    std::string path;
    ~PictureFile() { RemoveCaptchaImage(path); }
};

bool AnswerCaptcha(const SignInPort& dialog, ServiceClient& client, std::string_view service,
                   const SignInServices& services, const std::string& body) {
    const std::optional<CaptchaChallenge> challenge = ParseCaptchaChallenge(body);
    if (!challenge) {
        dialog.SetStatusText(LoginFailedText());
        return false;
    }
    PictureFile picture;
    try {
        picture.path = services.fetchCaptchaImage("http://" + services.accountsHost + "/accounts/" +
                                                  challenge->picturePath);
    } catch (const std::runtime_error& e) {
        dialog.SetStatusText(e.what());
        return false;
    }
    const std::optional<std::string> answer = dialog.AskCaptcha(picture.path);
    if (!answer) return false;  // closed without OK: the status line stays
    try {
        services.clientLogin(client, service, challenge->token, *answer);
        return true;
    } catch (...) {
        // A wrong answer brings a new CAPTCHA request, which counts as failure.
        dialog.SetStatusText(LoginFailedText());
        return false;
    }
}

}  // namespace

bool SignInForService(const SignInPort& dialog, ServiceClient& client, std::string_view service,
                      const SignInServices& services) {
    try {
        services.clientLogin(client, service, std::nullopt, std::nullopt);
        return true;
    } catch (const CaptchaRequiredException& e) {
        try {
            return AnswerCaptcha(dialog, client, service, services, e.what());
        } catch (...) {
            dialog.SetStatusText(LoginFailedText());
            return false;
        }
    } catch (const std::runtime_error& e) {
        dialog.SetStatusText(e.what());
        return false;
    } catch (...) {
        dialog.SetStatusText(LoginFailedText());
        return false;
    }
}

bool RunSignIn(const SignInPort& dialog, ServiceClient& client, const SignInServices& services) {
    if (!SignInForService(dialog, client, "writely", services) ||
        !SignInForService(dialog, client, "wise", services)) {
        dialog.EnableButtons();
        return false;
    }
    try {
        const SignInInput input = dialog.ReadInput();
        if (services.rememberUser)
            services.rememberUser(input);
        else
            RememberUser(input, services.configPath);
    } catch (...) {
        // Failing to remember the account does not undo the sign-in.
    }
    dialog.LoginFinished();
    return true;
}

void RunCookieSignIn(ServiceClient& client, const SignInServices& services) {
    try {
        services.cookieSignIn(client);
    } catch (...) {
        if (services.warnCookieFailure) services.warnCookieFailure();
    }
}

void StartSignInWorkers(const SignInPort& dialog, std::shared_ptr<ServiceClient> client,
                        const SignInServices& services) {
    struct Block {
        SignInPort dialog;
        std::shared_ptr<ServiceClient> client;
        SignInServices services;
    };
    // The browser form runs only once ClientLogin took the password: sent
    // alongside, a wrong password counted twice at the service (a CAPTCHA
    // after two typos), and after a CAPTCHA the form was refused, leaving no
    // session cookies for the quota and uploads. The dialog does not wait
    // for it: the window reads the quota again when it ends.
    StartWorker(std::make_unique<Block>(Block{dialog, std::move(client), services}), [](Block& b) {
        if (RunSignIn(b.dialog, *b.client, b.services)) RunCookieSignIn(*b.client, b.services);
    });
}

void RememberUser(const SignInInput& input, const std::filesystem::path& configPath) {
    ConfigFile config = configPath.empty() ? ConfigFile() : ConfigFile(configPath);
    const PasswordKeyring keyring;
    if (!input.remember) {
        tallowdesk::ForgetUser(config, keyring);
        return;
    }
    // Config.xml or the keyring, as the user chose; a keyring that refuses is
    // said, not passed over.
    const PasswordMove saved =
        tallowdesk::RememberUser(config, keyring, input.email, input.password);
    if (!saved.ok) {
        notifier::Post([text = QString::fromStdString(saved.message)] {
            QMessageBox::warning(nullptr, QStringLiteral("Tallowdesk"), text);
        });
    }
}

SignInServices DefaultSignInServices() {
    SignInServices s;
    s.clientLogin =
        [](ServiceClient& client, std::string_view service, std::optional<std::string_view> token,
           std::optional<std::string_view> answer) { ClientLogin(client, service, token, answer); };
    s.fetchCaptchaImage = [](const std::string& url) { return FetchCaptchaImage(url); };
    s.cookieSignIn = [](ServiceClient& client) { CookieSignIn(client); };
    s.warnCookieFailure = [] {
        // Posted to the application: the dialog may be gone by now.
        notifier::Post([] {
            QMessageBox::warning(nullptr, QCoreApplication::translate("SignInFlow", "Warning"),
                                 QCoreApplication::translate("SignInFlow", kCookieWarningText));
        });
    };
    s.accountsHost = Hosts().accountsHost;
    return s;
}

}  // namespace tallowdesk::shell
