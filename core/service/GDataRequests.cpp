#include "GDataRequests.h"

#include <curl/curl.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "FileHelpers.h"
#include "ResponseBuffer.h"
#include "ServiceClient.h"
#include "TransportSecurity.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

constexpr const char* kAtomNamespace = "http://www.w3.org/2005/Atom";
constexpr const char* kXmlDeclaration = "<?xml version='1.0' encoding='UTF-8'?>";

std::string SchemaUri(std::string_view path) {
    return "http://" + Hosts().schemasHost + std::string(path);
}

const std::string& WritelyTokenOrThrow(const ServiceClient& client) {
    const auto& token = client.Credentials().writelyToken;
    if (!token) RequireSignedIn();
    return *token;
}

long ResponseCode(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Performs the prepared request; a transport failure throws transferMessage,
// a status that fails isSuccess throws the service's error text.
template <typename IsSuccess>
void PerformChecked(CURL* handle, const ResponseBuffer& response, const char* transferMessage,
                    IsSuccess isSuccess) {
    if (curl_easy_perform(handle) != CURLE_OK) {
        response.ThrowIfOverflowed();
        throw std::runtime_error(transferMessage);
    }
    if (!isSuccess(ResponseCode(handle))) {
        throw std::runtime_error(ParseErrorBody(response.Text()));
    }
}

bool BelowClientError(long status) {
    return status < 400;
}

// The document model publishes the same URL; the service keeps its own copy so
// it does not depend on the model.
std::string ListUrl() {
    return "https://" + Hosts().docsHost + "/feeds/default/private/full";
}

}  // namespace

void ParseAnswer(tinyxml2::XMLDocument& document, const std::string& body,
                 std::string_view failure) {
    // Parse replaces the previous content, also when the body is empty or not XML.
    document.Clear();
    if (document.Parse(body.data(), body.size()) != tinyxml2::XML_SUCCESS) {
        document.Clear();
        throw std::runtime_error(std::string(failure) + " (the answer is not well-formed XML)");
    }
}

void RequireSignedIn() {
    throw std::runtime_error("The user must be logged in.");
}

std::vector<std::string> BuildCommonHeaders(std::optional<std::string_view> contentType,
                                            std::optional<std::string_view> ifMatch,
                                            std::string_view writelyToken) {
    // Content type and If-Match are the program's own short constants or an
    // etag, so they are kept whole rather than cut at a fixed length.
    std::vector<std::string> headers{
        "GData-Version: 3.0", "Authorization: GoogleLogin auth=" + std::string(writelyToken)};
    if (contentType) headers.push_back("Content-Type:" + std::string(*contentType));
    if (ifMatch) headers.push_back("If-Match: " + std::string(*ifMatch));
    return headers;
}

CurlSlist ApplyCommonHeaders(std::optional<std::string_view> contentType,
                             std::optional<std::string_view> ifMatch, const ServiceClient& client,
                             CURL* handle) {
    CurlSlist list;
    for (const std::string& line :
         BuildCommonHeaders(contentType, ifMatch, WritelyTokenOrThrow(client))) {
        list.Append(line.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list.get());
    ApplyTransportSecurity(handle);
    return list;
}

std::string ParseErrorBody(std::optional<std::string_view> body) {
    std::string text;
    if (!body) return text;
    tinyxml2::XMLDocument document;
    document.Parse(body->data(), body->size());
    const tinyxml2::XMLElement* errors = document.FirstChildElement("errors");
    if (!errors) return text;
    const tinyxml2::XMLElement* error = errors->FirstChildElement("error");
    if (!error) return text;
    // A code or reason element without text contributes nothing.
    if (const auto* code = error->FirstChildElement("code"); code && code->GetText()) {
        text = code->GetText();
    }
    text += " : ";
    if (const auto* reason = error->FirstChildElement("internalReason");
        reason && reason->GetText()) {
        text += reason->GetText();
    }
    return text;
}

std::size_t ReadFromMemory(char* out, std::size_t size, std::size_t count, void* source) noexcept {
    auto* memory = static_cast<MemorySource*>(source);
    const std::size_t room = size * count;
    const std::size_t copied = std::min(room, memory->remaining);
    if (copied == 0) return 0;
    std::memcpy(out, memory->data, copied);
    memory->data += copied;
    memory->remaining -= copied;
    return copied;
}

std::string TrashEntryUrl(std::string_view resourceId, bool permanently) {
    const auto colon = resourceId.find(':');
    // Without a kind there is no entry URL to address.
    if (resourceId.empty() || colon == std::string_view::npos) {
        throw std::runtime_error("Invalid Entry Id.");
    }
    std::string url = ListUrl() + "/" + std::string(resourceId.substr(0, colon)) + "%3A" +
                      std::string(resourceId.substr(colon + 1));
    if (permanently) url += "?delete=true";
    return url;
}

std::string BuildUpdateEntryBody(std::string_view fragment) {
    std::string body = kXmlDeclaration;
    body += "<entry xmlns=\"";
    body += kAtomNamespace;
    body += "\"  xmlns:docs=\"" + SchemaUri("/docs/2007") + "\"  xmlns:gd=\"" +
            SchemaUri("/g/2005") + "\">";
    body += fragment;
    body += "</entry>";
    return body;
}

// A title is text inside <title>: "&" alone made a title with "<" a
// malformed body, or one with "</title>" a way to write other elements.
std::string EscapeTitle(std::string_view title) {
    std::string escaped(title);
    ReplaceAll(escaped, "&", "&amp;");
    ReplaceAll(escaped, "<", "&lt;");
    ReplaceAll(escaped, ">", "&gt;");
    return escaped;
}

std::string BuildCreateFolderBody(std::string_view title) {
    const std::string escaped = EscapeTitle(title);
    std::string body = kXmlDeclaration;
    body += "<entry xmlns=\"";
    body += kAtomNamespace;
    body += "\"><category scheme=\"" + SchemaUri("/g/2005#kind") + "\" term=\"" +
            SchemaUri("/docs/2007#folder") + "\"/>";
    body += "<title>" + escaped + "</title></entry>";
    return body;
}

std::string BuildRenameFragment(std::string_view newTitle) {
    return "<title>" + EscapeTitle(newTitle) + "</title>";
}

std::string BuildStarredFragment(bool starred) {
    return "<category scheme=\"" + SchemaUri("/g/2005/labels") + "\" term=\"" +
           SchemaUri("/g/2005/labels#starred") + "\" label=\"" + (starred ? "starred" : "") +
           "\"/>";
}

std::string BuildRestoreFragment() {
    return "<category scheme=\"" + SchemaUri("/g/2005/labels") + "\" term=\"" +
           SchemaUri("/g/2005/labels#trashed") + "\" label=\"\"/>";
}

void GetFeed(ServiceClient& client, const std::string& url, tinyxml2::XMLDocument& document) {
    WritelyTokenOrThrow(client);
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Connection failed");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders(std::nullopt, std::nullopt, client, handle);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformChecked(handle, response, "Get entry list failed", BelowClientError);
    ParseAnswer(document, response.Text(), "Get entry list failed");
}

void UpdateEntry(ServiceClient& client, const std::string& editUrl, std::string_view fragment) {
    WritelyTokenOrThrow(client);
    if (editUrl.empty()) throw std::runtime_error("Invalid Entry .");
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error(" Operation Failed, Probably due to connection problem.");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders("application/atom+xml", "*", client, handle);
    curl_easy_setopt(handle, CURLOPT_URL, editUrl.c_str());
    const std::string body = BuildUpdateEntryBody(fragment);
    MemorySource source{body.data(), body.size()};
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadFromMemory);
    curl_easy_setopt(handle, CURLOPT_READDATA, &source);
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformChecked(handle, response, " Operation Failed, Probably due to connection problem.",
                   BelowClientError);
}

void CreateFolder(ServiceClient& client, const std::string& title,
                  std::optional<std::string_view> parentContentsUrl,
                  tinyxml2::XMLDocument& document) {
    WritelyTokenOrThrow(client);
    if (title.empty()) throw std::runtime_error("Invalid folder name.");
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Create Folder Failed.");
    CURL* handle = easy.get();
    const CurlSlist headers =
        ApplyCommonHeaders("application/atom+xml", std::nullopt, client, handle);
    const std::string url = parentContentsUrl ? std::string(*parentContentsUrl) : ListUrl();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    const std::string body = BuildCreateFolderBody(title);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformChecked(handle, response, "Create Folder Failed.",
                   [](long status) { return status == 201; });
    ParseAnswer(document, response.Text(), "Create Folder Failed.");
}

void TrashEntry(ServiceClient& client, const std::string& resourceId, bool permanently) {
    WritelyTokenOrThrow(client);
    const std::string url = TrashEntryUrl(resourceId, permanently);
    CurlEasy easy(CurlEasy::Reuse::Thread);
    if (!easy) throw std::runtime_error("Move Operation Failed.");
    CURL* handle = easy.get();
    const CurlSlist headers = ApplyCommonHeaders(std::nullopt, "*", client, handle);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
    ResponseBuffer response;
    response.CollectBody(handle);
    PerformChecked(handle, response, "Move Operation Failed.", BelowClientError);
}

void RenameEntry(const std::string& editUrl, const std::string& newTitle, ServiceClient& client) {
    try {
        UpdateEntry(client, editUrl, BuildRenameFragment(newTitle));
    } catch (const std::runtime_error& error) {
        // Derived types are flattened: callers only tell runtime_error apart.
        throw std::runtime_error(error.what());
    } catch (...) {
        throw std::runtime_error("Rename failed.");
    }
}

void SetStarred(ServiceClient& client, const std::string& editUrl, bool starred) {
    try {
        UpdateEntry(client, editUrl, BuildStarredFragment(starred));
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(error.what());
    } catch (...) {
        throw std::runtime_error("Star/UnStar failed.");
    }
}

void RestoreEntry(ServiceClient& client, const std::string& editUrl) {
    try {
        UpdateEntry(client, editUrl, BuildRestoreFragment());
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(error.what());
    } catch (...) {
        throw std::runtime_error("Restore failed.");
    }
}

}  // namespace tallowdesk
