#include "ServiceCalls.h"

#include <stdexcept>

#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/ServiceTransferOps.h"
#include "service/Sharing.h"

namespace tallowdesk::shell {
namespace {

// The service client's transfer calls, keeping the client alive while a
// transfer thread uses them.
class OwningTransferOps final : public TransferOps {
public:
    explicit OwningTransferOps(std::shared_ptr<ServiceClient> client)
        : m_client(std::move(client)), m_ops(*m_client) {}
    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override {
        m_ops.GetFeed(url, doc);
    }
    void DownloadEntry(const std::string& url, const std::string& kind,
                       const std::filesystem::path& localPath,
                       const std::optional<std::string>& exportFormat,
                       TransferProgressSink& sink) override {
        m_ops.DownloadEntry(url, kind, localPath, exportFormat, sink);
    }
    void UploadFile(const std::filesystem::path& localPath, const std::string& targetUrl,
                    const std::string& name, tinyxml2::XMLDocument& reply,
                    TransferProgressSink& sink) override {
        m_ops.UploadFile(localPath, targetUrl, name, reply, sink);
    }
    void ReplaceContent(const std::filesystem::path& localPath, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override {
        m_ops.ReplaceContent(localPath, editMediaUrl, reply, sink);
    }
    void CreateFolder(const std::string& title, const std::string& parentContentsUrl,
                      tinyxml2::XMLDocument& reply) override {
        m_ops.CreateFolder(title, parentContentsUrl, reply);
    }

private:
    std::shared_ptr<ServiceClient> m_client;
    ServiceTransferOps m_ops;
};

[[noreturn]] void NotSignedIn() {
    throw std::runtime_error("The user must be logged in.");
}

}  // namespace

ServiceCalls ServiceCallsFor(std::shared_ptr<ServiceClient> client) {
    ServiceCalls calls;
    calls.getFeed = [client](const std::string& url, tinyxml2::XMLDocument& doc) {
        GetFeed(*client, url, doc);
    };
    calls.renameEntry = [client](const std::string& editHref, const std::string& title) {
        RenameEntry(editHref, title, *client);
    };
    calls.trashEntry = [client](const std::string& resourceId) {
        TrashEntry(*client, resourceId, false);
    };
    calls.restoreEntry = [client](const std::string& editHref) { RestoreEntry(*client, editHref); };
    calls.deleteForever = [client](const std::string& resourceId) {
        TrashEntry(*client, resourceId, true);
    };
    calls.setStarred = [client](const std::string& editHref, bool starred) {
        SetStarred(*client, editHref, starred);
    };
    calls.createFolder = [client](const std::string& title, const std::string& parentUrl,
                                  tinyxml2::XMLDocument& reply) {
        CreateFolder(*client, title, parentUrl, reply);
    };
    calls.transferOps = [client]() -> std::unique_ptr<TransferOps> {
        return std::make_unique<OwningTransferOps>(client);
    };
    calls.quotaText = [client] { return GetQuotaText(*client); };
    return calls;
}

ServiceCalls OfflineServiceCalls() {
    ServiceCalls calls;
    calls.getFeed = [](const std::string&, tinyxml2::XMLDocument&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.renameEntry = [](const std::string&, const std::string&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.trashEntry = [](const std::string&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.setStarred = [](const std::string&, bool) { NotSignedIn(); };
    calls.restoreEntry = [](const std::string&) { NotSignedIn(); };
    calls.deleteForever = [](const std::string&) { NotSignedIn(); };
    calls.createFolder = [](const std::string&, const std::string&, tinyxml2::XMLDocument&) {
        NotSignedIn();
    };
    calls.transferOps = []() -> std::unique_ptr<TransferOps> { NotSignedIn(); };
    calls.quotaText = [] { return std::optional<std::string>(); };
    return calls;
}

ServiceCalls SessionServiceCalls(ServiceCalls c, std::shared_ptr<const std::atomic<bool>> ended) {
    auto live = [ended] {
        if (ended->load()) NotSignedIn();
    };
    ServiceCalls calls;
    calls.getFeed = [live, f = c.getFeed](const std::string& url, tinyxml2::XMLDocument& doc) {
        live();
        f(url, doc);
    };
    calls.renameEntry = [live, f = c.renameEntry](const std::string& h, const std::string& t) {
        live();
        f(h, t);
    };
    calls.trashEntry = [live, f = c.trashEntry](const std::string& id) {
        live();
        f(id);
    };
    calls.restoreEntry = [live, f = c.restoreEntry](const std::string& h) {
        live();
        f(h);
    };
    calls.deleteForever = [live, f = c.deleteForever](const std::string& id) {
        live();
        f(id);
    };
    calls.setStarred = [live, f = c.setStarred](const std::string& h, bool on) {
        live();
        f(h, on);
    };
    calls.createFolder = [live, f = c.createFolder](const std::string& t, const std::string& p,
                                                    tinyxml2::XMLDocument& reply) {
        live();
        f(t, p, reply);
    };
    // A transfer is refused while it could end the session, so its own
    // requests need no check once it has its calls.
    calls.transferOps = [live, f = c.transferOps]() -> std::unique_ptr<TransferOps> {
        live();
        return f();
    };
    calls.quotaText = [ended, f = c.quotaText]() -> std::optional<std::string> {
        if (ended->load()) return std::nullopt;
        return f();
    };
    return calls;
}

}  // namespace tallowdesk::shell
