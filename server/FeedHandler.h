#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "HttpMessage.h"

namespace tallowdesk::server {

class Store;
class SignInHandler;
struct StoredEntry;

// The document list under /feeds/default/private/full (feeds, entries and
// their changes) and the downloads under /feeds/download. Thread-safe.
class FeedHandler {
public:
    FeedHandler(Store& store, SignInHandler& signIn, std::size_t pageSize);

    HttpResponse DocumentList(const HttpRequest& request);
    HttpResponse Download(const HttpRequest& request);
    // At most kMaxPageSize: a page's size is bounded by it and the title cap.
    void SetPageSize(std::size_t pageSize);
    // The body of a download or an export (empty format: as stored) of an
    // entry the caller may read; the access check is the caller's.
    HttpResponse DownloadEntry(const StoredEntry& entry, const std::string& format);

private:
    struct Caller {
        std::string email;
        std::optional<HttpResponse> refusal;
    };
    // A token of `service`; session cookies count too when allowCookies.
    Caller Authorise(const HttpRequest& request, const std::string& service, bool allowCookies);
    HttpResponse Export(const StoredEntry& entry, const std::string& format);

    HttpResponse Feed(const HttpRequest& request, const std::string& user,
                      const std::vector<std::string>& segments);
    HttpResponse EntryRequest(const HttpRequest& request, const std::string& user,
                              const std::string& resource, const std::string& folderContext);
    HttpResponse Create(const HttpRequest& request, const std::string& user,
                        const std::string& folderId);
    HttpResponse Update(const HttpRequest& request, const std::string& user,
                        const StoredEntry& entry);
    HttpResponse Remove(const HttpRequest& request, const std::string& user,
                        const StoredEntry& entry, const std::string& folderContext);

    HttpResponse AclFeed(const HttpRequest& request, const std::string& user,
                         const StoredEntry& entry);
    HttpResponse AclRuleRequest(const HttpRequest& request, const std::string& user,
                                const StoredEntry& entry, const std::string& ruleName);

    Store& m_store;
    SignInHandler& m_signIn;
    std::atomic<std::size_t> m_pageSize;
};

// The export formats the service offers for a native kind (none for files).
const std::vector<std::string>& ExportFormats(const std::string& kind);

HttpResponse GDataError(int status, const std::string& code, const std::string& reason);

}  // namespace tallowdesk::server
