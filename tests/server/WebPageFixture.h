#pragma once

#include <memory>
#include <string>

#include "ServerTestSupport.h"
#include "Store.h"

namespace tallowdesk::server::test {

// A started server with alice (owner), bob and carol, and one browser-like
// client per person that signs in through the web form over plain http.
class WebPageTest : public ServerTest {
protected:
    void SetUp() override;

    // A fresh client without cookies.
    std::unique_ptr<Client> Browser() const;
    // A client signed in through the sign-in form (GALX cookie, form post).
    std::unique_ptr<Client> SignedIn(const std::string& email, const std::string& password);
    // The form token the client's cookie jar holds after showing a page.
    std::string FormToken(Client& client, const std::string& pagePath);

    StoredEntry Make(const std::string& kind, const std::string& title, const std::string& mime,
                     const std::string& content, const std::string& owner = kAlice,
                     const std::vector<std::string>& parents = {});

    Store& TheStore() { return m_server->GetStore(); }

    static constexpr const char* kBob = "bob@example.test";
    static constexpr const char* kCarol = "carol@example.test";
    static constexpr const char* kBobPassword = "bob-secret";
    static constexpr const char* kCarolPassword = "carol-secret";
};

}  // namespace tallowdesk::server::test
