#pragma once

#include <chrono>
#include <string>

namespace tallowdesk {

// The remembered password in the system keyring, through the Secret Service
// (libsecret): one item per account, found by its e-mail address. Each call
// is synchronous and ends after the timeout at the latest; it may run on any
// thread. A locked keyring is reported, never unlocked behind the user's back
// by a read; a missing Secret Service is reported too.
class PasswordKeyring {
public:
    enum class Status {
        Ok,
        NotFound,     // no password stored for the account
        Locked,       // the keyring holding it (or the default one) is locked
        Unavailable,  // no Secret Service answers
        Failed,       // anything else; see message
    };
    struct Reply {
        Status status = Status::Failed;
        std::string password;  // Read with Ok
        std::string message;   // for every status but Ok and NotFound
    };

    explicit PasswordKeyring(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    Reply Store(const std::string& account, const std::string& password) const;
    Reply Read(const std::string& account) const;
    // Ok also when nothing was stored.
    Reply Remove(const std::string& account) const;

private:
    std::chrono::milliseconds m_timeout;
};

}  // namespace tallowdesk
