#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "CurlHandles.h"
#include "ServiceCredentials.h"

namespace tallowdesk {

// One signed-in account: its credentials and the cookie store shared by the
// browser-style requests. Owned by the application object; destroyed (and a new
// one created) at the next sign-in, which must wait until its requests are done.
//
// Threads: operations run on worker threads and take the client by reference.
// Tokens are written only by the sign-in worker, before the shell lets any other
// worker start, and are read-only afterwards, so they carry no lock. The cookie
// store is the one piece several requests write at once; libcurl guards it with
// this client's lock.
class ServiceClient {
public:
    // Copies the credentials, makes sure libcurl is initialised and creates the
    // cookie share. Throws std::runtime_error on failure.
    ServiceClient(std::optional<std::string> email, std::optional<std::string> password);
    ~ServiceClient();
    // Not copyable or movable: the cookie share holds a pointer to m_cookieLock.
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    const ServiceCredentials& Credentials() const { return m_credentials; }

    // Storing a token replaces the previous one.
    void SetWritelyToken(std::string token) { m_credentials.writelyToken = std::move(token); }
    void SetWiseToken(std::string token) { m_credentials.wiseToken = std::move(token); }

    // Null only if the share could not be created.
    CURLSH* CookieShare() const { return m_cookieShare.get(); }

    // Creates and configures the cookie share if the client has none yet (an
    // existing share stays, as requests may be using it). Throws
    // "Cookie share can not be enabled." when libcurl refuses.
    void EnableCookieShare();

    // Makes a request on handle read and write this client's cookie store.
    void AttachCookieShare(CURL* handle);

private:
    ServiceCredentials m_credentials;
    // Recursive because libcurl may take the share's own lock while a cookie
    // lock is held on the same thread; one lock for all data kinds keeps the
    // order of locks trivially consistent.
    std::recursive_mutex m_cookieLock;
    std::mutex m_shareSetupLock;
    CurlShare m_cookieShare;  // after m_cookieLock: released before the lock dies
};

// Creates the client's cookie share when it has none.
void EnableCookieShare(ServiceClient& client);

}  // namespace tallowdesk
