#pragma once

#include <optional>
#include <string>

#include "PasswordKeyring.h"

namespace tallowdesk {

class ConfigFile;

// Where the remembered password lives: in Config.xml (the compatible form,
// the default) or, with the "store it in the system keyring" option, in the
// keyring while Config.xml keeps the e-mail only. These functions are all the
// settings dialog, the sign-in and the CLI need; none loses the password: on any
// failure the settings stay as they were and the message says why.

struct PasswordMove {
    bool ok = false;
    std::string message;  // what failed; empty when ok
};

// Turns the option on (the password moves from Config.xml into the keyring)
// or off (it moves back). Without a remembered password only the option
// changes.
PasswordMove SetPasswordInKeyring(ConfigFile& config, const PasswordKeyring& keyring, bool on);

struct RememberedUser {
    std::optional<std::string> email;
    std::optional<std::string> password;  // empty when it must be asked for
    std::string message;                  // why the keyring gave none
};

// The remembered account for the sign-in dialog. Throws what
// ConfigFile::GetSavedPassword throws.
RememberedUser ReadRememberedUser(const ConfigFile& config, const PasswordKeyring& keyring);

// After a sign-in with "Remember me": the password goes where the option
// says. A keyring that cannot take it leaves Config.xml with the e-mail only
// (the password is asked for next time) and the message says so.
PasswordMove RememberUser(ConfigFile& config, const PasswordKeyring& keyring,
                          const std::string& email, const std::string& password);

// "Remember me" off: forgets the account in both places.
void ForgetUser(ConfigFile& config, const PasswordKeyring& keyring);

// Sign-out: the remembered e-mail stays for the next sign-in, its password
// goes from Config.xml at once. When the password lives in the keyring the
// caller removes it there with PasswordKeyring::Remove (a D-Bus call: off
// the UI thread).
struct PasswordForget {
    bool ok = true;
    std::string message;                        // why Config.xml kept it
    std::optional<std::string> keyringAccount;  // whose keyring copy must go
};
PasswordForget ForgetRememberedPassword(ConfigFile& config);

}  // namespace tallowdesk
