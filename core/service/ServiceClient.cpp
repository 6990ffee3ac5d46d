#include "ServiceClient.h"

#include <curl/curl.h>

#include <stdexcept>

namespace tallowdesk {

namespace {

void LockCookieShare(CURL*, curl_lock_data, curl_lock_access, void* lock) {
    static_cast<std::recursive_mutex*>(lock)->lock();
}

void UnlockCookieShare(CURL*, curl_lock_data, void* lock) {
    static_cast<std::recursive_mutex*>(lock)->unlock();
}

}  // namespace

ServiceClient::ServiceClient(std::optional<std::string> email,
                             std::optional<std::string> password) {
    m_credentials.email = std::move(email);
    m_credentials.password = std::move(password);
    EnsureCurlGlobalInit();
    EnableCookieShare();
}

ServiceClient::~ServiceClient() = default;

void ServiceClient::EnableCookieShare() {
    std::lock_guard guard(m_shareSetupLock);
    if (m_cookieShare) return;
    CurlShare share(curl_share_init());
    if (!share) throw std::runtime_error("Cookie share can not be enabled.");
    if (curl_share_setopt(share.get(), CURLSHOPT_LOCKFUNC, &LockCookieShare) != CURLSHE_OK ||
        curl_share_setopt(share.get(), CURLSHOPT_UNLOCKFUNC, &UnlockCookieShare) != CURLSHE_OK ||
        curl_share_setopt(share.get(), CURLSHOPT_USERDATA, &m_cookieLock) != CURLSHE_OK ||
        curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
        throw std::runtime_error("Cookie share can not be enabled.");
    }
    m_cookieShare = std::move(share);
}

void ServiceClient::AttachCookieShare(CURL* handle) {
    EnableCookieShare();
    curl_easy_setopt(handle, CURLOPT_SHARE, m_cookieShare.get());
    // Sharing cookie data does not switch a handle's cookie engine on; an empty
    // cookie file does, without reading anything from disk.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
}

void EnableCookieShare(ServiceClient& client) {
    client.EnableCookieShare();
}

}  // namespace tallowdesk
