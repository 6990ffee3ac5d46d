#include "Sharing.h"

#include <curl/curl.h>
#include <tinyxml2.h>

#include <stdexcept>

#include "BrowserSession.h"
#include "CurlHandles.h"
#include "GDataRequests.h"
#include "ResponseBuffer.h"
#include "ServiceClient.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

constexpr const char* kAtomNamespace = "http://www.w3.org/2005/Atom";
constexpr const char* kAtomXml = "application/atom+xml";
constexpr std::size_t kMaxQuotaTextBytes = 127;

std::string SchemaUri(std::string_view path) {
    return "http://" + Hosts().schemasHost + std::string(path);
}

// Values go into single-quoted attributes; ordinary addresses, roles and
// etags pass unchanged, while an apostrophe in an address cannot break the entry.
std::string AttributeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string EntryStartTag() {
    return std::string("<entry xmlns=\"") + kAtomNamespace + "\"  xmlns:gAcl='" +
           SchemaUri("/acl/2007") + "'";
}

std::string KindCategory() {
    return "<category scheme='" + SchemaUri("/g/2005#kind") + "' term='" +
           SchemaUri("/acl/2007#accessRule") + "'/>";
}

const std::string& WritelyTokenOrThrow(const ServiceClient& client) {
    const auto& token = client.Credentials().writelyToken;
    if (!token) RequireSignedIn();
    return *token;
}

// Performs the prepared request: transport failure throws transferMessage, an
// error status the service's error text.
void PerformAcl(CURL* handle, const ResponseBuffer& response, const char* transferMessage) {
    if (curl_easy_perform(handle) != CURLE_OK) {
        response.ThrowIfOverflowed();
        throw std::runtime_error(transferMessage);
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) throw std::runtime_error(ParseErrorBody(response.Text()));
}

// Cut at a character boundary so the text stays valid UTF-8.
std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
}

}  // namespace

std::string AclFeedUrl(std::string_view kind, std::string_view shortId) {
    return DocumentListUrl() + "/" + std::string(kind) + "%3A" + std::string(shortId) + "/acl";
}

std::string BuildNewAclRuleEntry(std::string_view scopeType, std::string_view scopeValue,
                                 std::string_view role) {
    std::string entry = EntryStartTag() + ">" + KindCategory();
    entry += "<gAcl:role value='" + AttributeText(role) + "'/>";
    entry += "<gAcl:scope type='" + AttributeText(scopeType);
    if (scopeType != "default") entry += "'  value='" + AttributeText(scopeValue);
    entry += "'/>";
    entry += "</entry>";
    return entry;
}

std::string BuildChangedAclRuleEntry(std::string_view scopeType, std::string_view scopeValue,
                                     std::string_view etag, std::string_view newRole) {
    std::string entry = EntryStartTag() + "   xmlns:gd='" + SchemaUri("/g/2005") + "'  gd:etag='" +
                        AttributeText(etag) + "'>" + KindCategory();
    entry += "<gAcl:role value='" + AttributeText(newRole) + "'/>";
    entry += "<gAcl:scope type='" + AttributeText(scopeType) + "' ";
    if (scopeType != "default") entry += "  value='" + AttributeText(scopeValue) + "'";
    entry += "/>";
    entry += "</entry>";
    return entry;
}

std::optional<std::string> ExtractQuotaText(std::string_view page, std::string_view accountsHost) {
    constexpr std::string_view kSentence = "You are currently using";
    if (const auto start = page.find(kSentence); start != std::string_view::npos) {
        const auto end = page.find("MB.<", start);
        if (end == std::string_view::npos) return std::nullopt;
        return CutUtf8(page.substr(start, end + 3 - start), kMaxQuotaTextBytes);
    }
    constexpr std::string_view kSpan = "<span style=\"color:";
    constexpr std::string_view kSpanEnd = ";\">";
    const auto span = page.find(kSpan);
    if (span == std::string_view::npos) return std::nullopt;
    const auto open = page.find(kSpanEnd, span + kSpan.size());
    if (open == std::string_view::npos) return std::nullopt;
    const auto start = open + kSpanEnd.size();
    const auto close = page.find("</span>", start);
    if (close == std::string_view::npos || page.size() - close <= 100) return std::nullopt;
    const std::string purchase =
        "https://" + std::string(accountsHost) + "/accounts/b/0/PurchaseStorage";
    if (page.substr(close, 100).find(purchase) == std::string_view::npos) return std::nullopt;
    return CutUtf8(page.substr(start, close - start), kMaxQuotaTextBytes);
}

void GetAcl(ServiceClient& client, std::string_view shortId, std::string_view kind,
            tinyxml2::XMLDocument& document) {
    WritelyTokenOrThrow(client);
    CurlEasy easy;
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders(std::nullopt, std::nullopt, client, handle);
    const std::string url = AclFeedUrl(kind, shortId);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformAcl(handle, response, "Get ACL informaiton failed.");
    ParseAnswer(document, response.Text(), "Get ACL informaiton failed.");
}

void AddAclRule(std::string_view scopeType, std::string_view scopeValue, ServiceClient& client,
                std::string_view shortId, std::string_view kind, std::string_view role) {
    WritelyTokenOrThrow(client);
    if (shortId.empty()) throw std::runtime_error("Invalid Entry Id.");
    CurlEasy easy;
    if (!easy) throw std::runtime_error("Sharing failed.");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders(kAtomXml, std::nullopt, client, handle);
    const std::string url = AclFeedUrl(kind, shortId);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    const std::string body = BuildNewAclRuleEntry(scopeType, scopeValue, role);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformAcl(handle, response, "Sharing failed.");
}

void ChangeAclRole(std::string_view scopeType, std::string_view scopeValue, ServiceClient& client,
                   const std::string& editUrl, std::string_view etag, std::string_view newRole) {
    constexpr const char* kTransferFailed =
        " Operation Failed, Probably due to connection problem.";
    WritelyTokenOrThrow(client);
    if (editUrl.empty()) throw std::runtime_error("Invalid Entry link.");
    CurlEasy easy;
    if (!easy) throw std::runtime_error(kTransferFailed);
    CURL* handle = easy.get();
    // If-Match "*": the etag travels inside the entry, so a rule changed
    // meanwhile is not refused.
    const CurlSlist headers = ApplyCommonHeaders(kAtomXml, "*", client, handle);
    curl_easy_setopt(handle, CURLOPT_URL, editUrl.c_str());
    const std::string body = BuildChangedAclRuleEntry(scopeType, scopeValue, etag, newRole);
    MemorySource source{body.data(), body.size()};
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadFromMemory);
    curl_easy_setopt(handle, CURLOPT_READDATA, &source);
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformAcl(handle, response, kTransferFailed);
}

void DeleteAclRule(const std::string& editUrl, ServiceClient& client) {
    WritelyTokenOrThrow(client);
    if (editUrl.empty()) throw std::runtime_error("Invalid ACL Entry Link.");
    CurlEasy easy;
    if (!easy) throw std::runtime_error("Delete sharing permission failed.");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders(kAtomXml, std::nullopt, client, handle);
    curl_easy_setopt(handle, CURLOPT_URL, editUrl.c_str());
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformAcl(handle, response, "Delete sharing permission failed.");
}

std::optional<std::string> GetQuotaText(ServiceClient& client) {
    CurlEasy easy;
    if (!easy) throw std::runtime_error("Connection failed.");
    CURL* handle = easy.get();
    PrepareBrowserRequest(client, handle);
    const std::string url = "https://" + Hosts().docsHost + "/DocAction?action=updoc&hl=en";
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    ResponseBuffer page(kMaxPageBytes);
    page.CollectBody(handle);
    // The status says nothing here: the page layout decides.
    if (curl_easy_perform(handle) != CURLE_OK) {
        page.ThrowIfOverflowed();
        throw std::runtime_error("Get quota space failed");
    }
    return ExtractQuotaText(page.Text(), Hosts().accountsHost);
}

}  // namespace tallowdesk
