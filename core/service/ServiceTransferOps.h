#pragma once

#include <optional>

#include "transfer/TransferOps.h"

namespace tallowdesk {

class ServiceClient;

// The transfer loops' service calls on a signed-in client. Borrows the client
// for its own lifetime; used on the thread that runs the loop, and for
// transfers > 1 from the loop's transfer threads at once (each request has its
// own handle; the client's cookie store has its own lock).
class ServiceTransferOps final : public TransferOps {
public:
    // Without autoConvert, every upload reads "fileautoconvert" from the
    // settings file, so a change in the settings applies to the next file.
    explicit ServiceTransferOps(ServiceClient& client,
                                std::optional<bool> autoConvert = std::nullopt)
        : m_client(client), m_autoConvert(autoConvert) {}

    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override;
    void DownloadEntry(const std::string& url, const std::string& kind,
                       const std::filesystem::path& localPath,
                       const std::optional<std::string>& exportFormat,
                       TransferProgressSink& sink) override;
    void UploadFile(const std::filesystem::path& localPath, const std::string& targetUrl,
                    const std::string& name, tinyxml2::XMLDocument& reply,
                    TransferProgressSink& sink) override;
    void ReplaceContent(const std::filesystem::path& localPath, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override;
    void CreateFolder(const std::string& title, const std::string& parentContentsUrl,
                      tinyxml2::XMLDocument& reply) override;

private:
    ServiceClient& m_client;
    std::optional<bool> m_autoConvert;
};

}  // namespace tallowdesk
