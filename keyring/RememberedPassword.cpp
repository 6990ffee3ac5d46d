#include "RememberedPassword.h"

#include "settings/ConfigFile.h"

namespace tallowdesk {

namespace {

std::string CannotSave(const ConfigFile& config) {
    return "The settings could not be saved in " + config.Path().string() + ".";
}

}  // namespace

PasswordMove SetPasswordInKeyring(ConfigFile& config, const PasswordKeyring& keyring, bool on) {
    if (on == config.GetPasswordInKeyring()) return {true, {}};
    const std::optional<std::string> email = config.GetSavedEmail();

    if (on) {
        const std::optional<std::string> password =
            email ? config.GetSavedPassword() : std::nullopt;
        if (email && password) {
            const auto stored = keyring.Store(*email, *password);
            if (stored.status != PasswordKeyring::Status::Ok)
                return {false, stored.message + " The password stays in the settings file."};
        }
        // The option first, then the file's copy goes: a stop in between
        // leaves the password in both places, never in none.
        if (!config.SetPasswordInKeyring(true)) return {false, CannotSave(config)};
        if (email && password && !config.ForgetPassword()) return {false, CannotSave(config)};
        return {true, {}};
    }

    if (email) {
        const auto read = keyring.Read(*email);
        if (read.status == PasswordKeyring::Status::Ok) {
            if (!config.SaveUser(*email, read.password)) return {false, CannotSave(config)};
            if (!config.SetPasswordInKeyring(false)) return {false, CannotSave(config)};
            keyring.Remove(*email);  // a copy left behind is harmless; the file has it now
            return {true, {}};
        }
        if (read.status != PasswordKeyring::Status::NotFound)
            return {false, read.message + " The password stays in the keyring."};
    }
    if (!config.SetPasswordInKeyring(false)) return {false, CannotSave(config)};
    return {true, {}};
}

RememberedUser ReadRememberedUser(const ConfigFile& config, const PasswordKeyring& keyring) {
    RememberedUser user;
    user.email = config.GetSavedEmail();
    if (!user.email) return user;
    if (!config.GetPasswordInKeyring()) {
        user.password = config.GetSavedPassword();
        return user;
    }
    const auto read = keyring.Read(*user.email);
    if (read.status == PasswordKeyring::Status::Ok) {
        user.password = read.password;
    } else if (read.status != PasswordKeyring::Status::NotFound) {
        user.message = read.message;
    }
    return user;
}

PasswordMove RememberUser(ConfigFile& config, const PasswordKeyring& keyring,
                          const std::string& email, const std::string& password) {
    if (!config.GetPasswordInKeyring()) {
        if (!config.SaveUser(email, password)) return {false, CannotSave(config)};
        return {true, {}};
    }
    // The e-mail in the file, the password nowhere in it.
    if (!config.SaveUser(email, {}) || !config.ForgetPassword()) return {false, CannotSave(config)};
    const auto stored = keyring.Store(email, password);
    if (stored.status != PasswordKeyring::Status::Ok)
        return {false, stored.message + " The password will be asked for next time."};
    return {true, {}};
}

void ForgetUser(ConfigFile& config, const PasswordKeyring& keyring) {
    const std::optional<std::string> email = config.GetSavedEmail();
    if (email && config.GetPasswordInKeyring()) keyring.Remove(*email);
    config.ClearUser();
}

PasswordForget ForgetRememberedPassword(ConfigFile& config) {
    PasswordForget forget;
    const std::optional<std::string> email = config.GetSavedEmail();
    if (!email) return forget;  // nothing remembered: the file stays as it is
    if (config.GetPasswordInKeyring()) forget.keyringAccount = email;
    if (config.HasSavedPassword() && !config.ForgetPassword()) {
        forget.ok = false;
        forget.message = CannotSave(config);
    }
    return forget;
}

}  // namespace tallowdesk
