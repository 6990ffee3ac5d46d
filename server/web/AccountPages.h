#pragma once

#include <atomic>
#include <string>

#include "HttpMessage.h"
#include "WebCommon.h"

namespace tallowdesk::server {
class Store;
}

namespace tallowdesk::server::web {

// Account pages for the browser: creating an account, the storage in use
// and its limit, signing out.
class AccountPages {
public:
    explicit AccountPages(Store& store);

    // Whether anybody who reaches the service may create an account.
    void SetOpenSignUp(bool open) { m_openSignUp = open; }
    bool OpenSignUp() const { return m_openSignUp; }

    HttpResponse NewAccount(const HttpRequest& request, const Visitor& visitor);
    HttpResponse Storage(const HttpRequest& request, const Visitor& visitor);
    HttpResponse SignOut(const HttpRequest& request, const Visitor& visitor);
    // The link of an address proof: GET with the token confirms the account.
    HttpResponse ConfirmAddress(const HttpRequest& request, const Visitor& visitor);

private:
    HttpResponse NewAccountForm(const HttpRequest& request, const Visitor& visitor, int status,
                                const std::string& email, const std::string& name,
                                const std::string& error);

    Store& m_store;
    std::atomic<bool> m_openSignUp{true};
};

// Where the confirmation link for `email` is written: the operator reads or
// forwards it, since the service sends no mail.
std::string OutboxPath(const std::string& dataDir, const std::string& email);
// Where the notice goes when the account form is sent for an address that
// already has an account.
std::string OutboxNoticePath(const std::string& dataDir, const std::string& email);

// Why an address cannot be an account's name; empty when it can.
std::string AddressProblem(const std::string& email);
inline constexpr std::size_t kMinPasswordLength = 8;

}  // namespace tallowdesk::server::web
