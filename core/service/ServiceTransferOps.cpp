#include "ServiceTransferOps.h"

#include "Download.h"
#include "GDataRequests.h"
#include "TransferProgress.h"
#include "Upload.h"
#include "settings/ConfigFile.h"
#include "transfer/TransferProgressSink.h"

namespace tallowdesk {

void ServiceTransferOps::GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) {
    tallowdesk::GetFeed(m_client, url, doc);
}

void ServiceTransferOps::DownloadEntry(const std::string& url, const std::string& kind,
                                       const std::filesystem::path& localPath,
                                       const std::optional<std::string>& exportFormat,
                                       TransferProgressSink& sink) {
    ProgressToSink<TransferProgressSink> listener(sink);
    std::optional<std::string_view> format;
    if (exportFormat) format = *exportFormat;
    tallowdesk::DownloadEntry(m_client, url, kind, localPath, &listener, format);
}

void ServiceTransferOps::UploadFile(const std::filesystem::path& localPath,
                                    const std::string& targetUrl, const std::string& name,
                                    tinyxml2::XMLDocument& reply, TransferProgressSink& sink) {
    ProgressToSink<TransferProgressSink> listener(sink);
    const bool autoConvert = m_autoConvert ? *m_autoConvert : ConfigFile().GetFileAutoConvert();
    UploadFileByRoute(m_client, localPath.string(), targetUrl, reply, &listener, autoConvert, name);
}

void ServiceTransferOps::ReplaceContent(const std::filesystem::path& localPath,
                                        const std::string& editMediaUrl,
                                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) {
    ProgressToSink<TransferProgressSink> listener(sink);
    ReplaceEntryContent(m_client, localPath.string(), editMediaUrl, reply, &listener);
}

void ServiceTransferOps::CreateFolder(const std::string& title,
                                      const std::string& parentContentsUrl,
                                      tinyxml2::XMLDocument& reply) {
    std::optional<std::string_view> parent;
    if (!parentContentsUrl.empty()) parent = parentContentsUrl;
    tallowdesk::CreateFolder(m_client, title, parent, reply);
}

}  // namespace tallowdesk
