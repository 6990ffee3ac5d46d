#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

class TransferProgressSink;

// The service calls the transfer loops need, injected so that the loops stay
// free of the network: the real implementation wraps the signed-in service
// client; tests pass fakes. Borrowed by the loops for one call; used on the
// loop's thread, and with transfers > 1 DownloadEntry and UploadFile also from
// several transfer threads at once.
//
// Every operation reports failure by throwing std::runtime_error (or a type
// derived from it, such as UploadedFileGetInfoException) with a message meant
// for the user. Streaming operations report their bytes to the sink's
// Progress and stop at their next chunk once transferCancel is raised.
class TransferOps {
public:
    virtual ~TransferOps() = default;

    // Fetches one feed page into doc (which it clears first).
    virtual void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) = 0;

    // Streams one entry into localPath (created or truncated). Without an
    // exportFormat: the entry's stored form, or the default format of its kind.
    virtual void DownloadEntry(const std::string& url, const std::string& kind,
                               const std::filesystem::path& localPath,
                               const std::optional<std::string>& exportFormat,
                               TransferProgressSink& sink) = 0;

    // Uploads one local file into the folder whose contents feed is targetUrl,
    // choosing the converted or the stored route; the new entry lands in reply
    // (which stays empty when the service names no entry). The entry is named
    // after the file unless name is given.
    virtual void UploadFile(const std::filesystem::path& localPath, const std::string& targetUrl,
                            const std::string& name, tinyxml2::XMLDocument& reply,
                            TransferProgressSink& sink) = 0;

    // Puts the local file's bytes in place of the content of the entry whose
    // "edit-media" link is editMediaUrl; the entry, as it is afterwards, lands
    // in reply.
    virtual void ReplaceContent(const std::filesystem::path& localPath,
                                const std::string& editMediaUrl, tinyxml2::XMLDocument& reply,
                                TransferProgressSink& sink) = 0;

    // Creates a folder titled title inside the folder whose contents feed is
    // parentContentsUrl; the new entry lands in reply.
    virtual void CreateFolder(const std::string& title, const std::string& parentContentsUrl,
                              tinyxml2::XMLDocument& reply) = 0;
};

}  // namespace tallowdesk
