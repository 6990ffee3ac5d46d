#pragma once

#include <optional>
#include <string>

#include "HttpMessage.h"
#include "Store.h"
#include "WebCommon.h"

namespace tallowdesk::server {
class FeedHandler;
}

namespace tallowdesk::server::web {

// The pages of entries and folders at their feed "alternate" addresses, the
// sandboxed preview of HTML content and downloads from a page. Whoever may
// read an entry through the feeds may read its page: the store's access
// check decides, for visitors without a session too (public entries).
class EntryPages {
public:
    EntryPages(Store& store, FeedHandler& feeds);

    // Nothing when the path is not one of these pages.
    std::optional<HttpResponse> Handle(const HttpRequest& request, const Visitor& visitor);

private:
    struct Found {
        std::optional<StoredEntry> entry;
        Access access = Access::None;
        std::optional<HttpResponse> refusal;
    };
    // The entry when the visitor may read it; otherwise the sign-in form
    // (no session) or "not found" (no access, no such entry, wrong kind).
    Found Find(const HttpRequest& request, const Visitor& visitor, const std::string& id,
               const std::string& kind);

    HttpResponse EntryPage(const HttpRequest& request, const Visitor& visitor,
                           const std::string& id, const std::string& kind);
    HttpResponse FolderPage(const HttpRequest& request, const Visitor& visitor,
                            const std::string& id);
    HttpResponse ListPage(const HttpRequest& request, const Visitor& visitor, ListScope scope,
                          const std::string& title);
    HttpResponse Preview(const HttpRequest& request, const Visitor& visitor);
    HttpResponse Download(const HttpRequest& request, const Visitor& visitor);
    HttpResponse NotFound(const HttpRequest& request, const Visitor& visitor);

    std::string Facts(const Visitor& visitor, const StoredEntry& entry);
    std::string PreviewBlock(const StoredEntry& entry);
    std::string Contents(const HttpRequest& request, ListQuery query);

    Store& m_store;
    FeedHandler& m_feeds;
};

}  // namespace tallowdesk::server::web
