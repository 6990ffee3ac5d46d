#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CurlHandles.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

class ServiceClient;

// Token-authorised requests on the document list and on single entries. All are
// synchronous, run on worker threads (several at once on one client is fine:
// each call owns its handle and buffers and only reads the client's tokens) and
// throw std::runtime_error with a message for the user.

// Always throws "The user must be logged in.".
[[noreturn]] void RequireSignedIn();

// Installs the GData headers (and the TLS settings) on handle. The returned
// list must outlive the request.
CurlSlist ApplyCommonHeaders(std::optional<std::string_view> contentType,
                             std::optional<std::string_view> ifMatch, const ServiceClient& client,
                             CURL* handle);

// "code : internalReason" of a GData error document; empty when body is not
// one.
std::string ParseErrorBody(std::optional<std::string_view> body);

// Parses a feed or entry into document (replacing its content). An answer
// that is not well-formed XML is a failure of the request, not an empty
// feed: throws "<failure> (the answer is not well-formed XML)".
void ParseAnswer(tinyxml2::XMLDocument& document, const std::string& body,
                 std::string_view failure);

// Fetches a feed or entry and parses it into document (replacing its content).
// Throws the service's error text, "Get entry list failed" for a transport
// failure, or the ParseAnswer failure.
void GetFeed(ServiceClient& client, const std::string& url, tinyxml2::XMLDocument& document);

// PUTs an entry made of the Atom fragment to the entry's edit URL.
void UpdateEntry(ServiceClient& client, const std::string& editUrl, std::string_view fragment);

// Creates a folder in the parent folder (by its contents feed URL), or at the
// top level when there is none; document receives the new folder's entry.
void CreateFolder(ServiceClient& client, const std::string& title,
                  std::optional<std::string_view> parentContentsUrl,
                  tinyxml2::XMLDocument& document);

// Moves the entry ("kind:shortId") to the trash, or deletes it for good.
void TrashEntry(ServiceClient& client, const std::string& resourceId, bool permanently);

void RenameEntry(const std::string& editUrl, const std::string& newTitle, ServiceClient& client);

void SetStarred(ServiceClient& client, const std::string& editUrl, bool starred);

// Takes the entry out of the trash: the trashed label sent empty, as the
// star is taken away.
void RestoreEntry(ServiceClient& client, const std::string& editUrl);

// Request pieces, kept apart so they can be checked without a network.

std::vector<std::string> BuildCommonHeaders(std::optional<std::string_view> contentType,
                                            std::optional<std::string_view> ifMatch,
                                            std::string_view writelyToken);
// Entry URL of "kind:shortId", with "?delete=true" when permanently is set.
std::string TrashEntryUrl(std::string_view resourceId, bool permanently);
std::string BuildUpdateEntryBody(std::string_view fragment);
// Titles are escaped for XML text (&, <, >).
std::string EscapeTitle(std::string_view title);
std::string BuildCreateFolderBody(std::string_view title);
std::string BuildRenameFragment(std::string_view newTitle);
std::string BuildRestoreFragment();
std::string BuildStarredFragment(bool starred);

// Body source for uploads from memory: the libcurl read callback.
struct MemorySource {
    const char* data = nullptr;
    std::size_t remaining = 0;
};
std::size_t ReadFromMemory(char* out, std::size_t size, std::size_t count, void* source) noexcept;

}  // namespace tallowdesk
