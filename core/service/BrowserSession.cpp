#include "BrowserSession.h"

#include <curl/curl.h>

#include <stdexcept>

#include "ServiceClient.h"
#include "SignIn.h"
#include "TransportSecurity.h"

namespace tallowdesk {

const char kMsieUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0; GTB6.5; SLCC2; .NET CLR "
    "2.0.50727; .NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; InfoPath.2; "
    ".NET4.0C; .NET4.0E; OfficeLiveConnector.1.5; OfficeLivePatch.1.3)";

void PrepareBrowserRequest(ServiceClient& client, CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    ApplyTransportSecurity(handle);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kMsieUserAgent);
    if (!client.CookieShare()) {
        const ServiceCredentials& credentials = client.Credentials();
        if (!credentials.email || credentials.email->empty() || !credentials.password ||
            credentials.password->empty()) {
            throw std::runtime_error("User doesn't log in!");
        }
        CookieSignIn(client);
    }
    client.AttachCookieShare(handle);
}

}  // namespace tallowdesk
