#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

class ServiceClient;
class TransferProgressListener;

// Uploads of one local file into a folder of the document list. Synchronous;
// run on the upload worker, one file after another. The file is streamed from
// disk in the chunks libcurl asks for; progress goes to the listener (may be
// null) and transferCancel stops the transfer at the next chunk. Failures
// throw std::runtime_error or one of the service's exception types with a
// message for the user.
//
// uploadUrl is the contents feed of the target folder, or the document list
// URL for the top level.

// Files of this many bytes or more are refused by the resumable route.
inline constexpr std::uint64_t kMaxResumableUploadBytes = 1073741824;

// Every upload takes the name of the file on disk unless `name` is given
// (a numbered name when the user keeps both of two same-named files).

// Authorised POST of the file for conversion into a document. document
// receives the created entry.
void UploadConverted(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                     tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                     std::string_view name = {});

// Browser-style upload (session request, then the file as a form), stored
// unconverted. document receives the entry, or stays as it was when the
// service's answer names no entry.
void UploadResumable(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                     tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                     std::string_view name = {});

// The route for one file: converted first when autoConvert is on and the file
// is convertible, the resumable route after any failure of it (or at once).
// Failures are those of the route taken last.
void UploadFileByRoute(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                       tinyxml2::XMLDocument& document, TransferProgressListener* listener,
                       bool autoConvert, std::string_view name = {});
// The same with autoConvert read from the settings file ("fileautoconvert").
void UploadFileByRoute(ServiceClient& client, const std::string& path, const std::string& uploadUrl,
                       tinyxml2::XMLDocument& document, TransferProgressListener* listener);

// Authorised PUT of the file to an entry's "edit-media" link: the entry keeps
// its id, folders, sharing rules and star, and gets the file's bytes as its
// new content. document receives the entry as it is afterwards. The file is
// streamed; transferCancel stops it at the next chunk and the entry keeps
// its old content.
void ReplaceEntryContent(ServiceClient& client, const std::string& path,
                         const std::string& editMediaUrl, tinyxml2::XMLDocument& document,
                         TransferProgressListener* listener);
std::vector<std::string> BuildReplaceContentHeaders(std::string_view writelyToken,
                                                    std::uint64_t size, std::string_view mimeType);

// MIME type of the conversion table for the name's extension (any case).
std::optional<std::string_view> MimeTypeForFile(std::string_view fileName);
// True when the extension of the path's last component is in the table.
bool IsConvertibleFile(std::string_view path);

// Request pieces and response readers, kept apart so they can be checked
// without a network.

// The file name for the Slug header: final "." dropped, percent-encoded, cut
// to at most 250 characters without splitting an escape or a character.
std::string BuildSlug(std::string_view fileName);
std::vector<std::string> BuildConvertedUploadHeaders(std::string_view writelyToken,
                                                     std::uint64_t size, std::string_view mimeType,
                                                     std::string_view slug);

// The folder's short id when uploadUrl is a folder's contents feed; nothing
// for the root folder ("folder%3Aroot"), whose uploads need no parent.
std::optional<std::string> FolderIdFromUploadUrl(std::string_view uploadUrl);
// Text as the content of a JSON string (without the quotes).
std::string JsonEscape(std::string_view text);
// The JSON session request; without a folder id it has no "parentId" field.
std::string BuildUploadSessionRequest(std::string_view fileName, std::uint64_t size,
                                      const std::optional<std::string>& folderId);
// The session URL from the session response: the "Location" header of the
// last response, else the JSON "url" of the body. Nothing when neither names one.
std::optional<std::string> ExtractSessionUrl(std::string_view headers, std::string_view body);
// The new entry's id in the final upload response; nothing when none is named.
std::optional<std::string> ExtractUploadedEntryId(std::string_view body);

}  // namespace tallowdesk
