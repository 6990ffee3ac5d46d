#pragma once

#include <tinyxml2.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServiceCalls.h"
#include "model/DocEntry.h"

// Atom feeds built in memory, and a fake document service that serves them
// by URL, for tests of the window without a network.
namespace fakes {

struct Item {
    std::string kind;  // "folder", "document", "file", ...
    std::string title;
    std::string id;  // short id
    std::string size = "0";
    std::string updated = "2013-04-02T10:20:30.000Z";
    std::string author = "Ann";
    std::string contentType = "text/plain";
};

inline std::string ContentsUrl(const std::string& shortId) {
    return "https://docs.test/feeds/default/private/full/folder%3A" + shortId + "/contents";
}

inline std::string EntryXml(const Item& it) {
    const std::string rid = it.kind + ":" + it.id;
    std::string src =
        it.kind == "folder" ? ContentsUrl(it.id) : "https://docs.test/download/" + it.id;
    std::string type = it.kind == "folder" ? "application/atom+xml;type=feed" : it.contentType;
    return "<entry gd:etag='&quot;E&quot;'><id>https://docs.test/feeds/id/" + rid +
           "</id><updated>" + it.updated + "</updated><title>" + it.title +
           "</title><content type='" + type + "' src='" + src +
           "'/><link rel='edit' type='application/atom+xml' href='https://docs.test/edit/" + it.id +
           "'/><author><name>" + it.author + "</name><email>a@b</email></author>" +
           "<gd:resourceId>" + rid + "</gd:resourceId><gd:quotaBytesUsed>" + it.size +
           "</gd:quotaBytesUsed></entry>";
}

inline std::string FeedXml(const std::vector<Item>& items, const std::string& next = {}) {
    std::string xml =
        "<?xml version='1.0' encoding='UTF-8'?><feed xmlns='http://www.w3.org/2005/Atom' "
        "xmlns:gd='http://schemas.google.com/g/2005'>";
    if (!next.empty()) xml += "<link rel='next' type='application/atom+xml' href='" + next + "'/>";
    for (const Item& it : items) xml += EntryXml(it);
    return xml + "</feed>";
}

// Serves feeds by exact URL; any other URL fails like a network error.
class FakeService {
public:
    void Serve(const std::string& url, std::string xml) {
        std::lock_guard lock(m_mutex);
        m_feeds[url] = std::move(xml);
    }
    void Forget(const std::string& url) {
        std::lock_guard lock(m_mutex);
        m_feeds.erase(url);
    }
    // Requests of url wait until Release(url).
    void Hold(const std::string& url) {
        std::lock_guard lock(m_mutex);
        m_held.insert(url);
    }
    void Release(const std::string& url) {
        {
            std::lock_guard lock(m_mutex);
            m_held.erase(url);
        }
        m_released.notify_all();
    }
    bool Waiting(const std::string& url) const {
        std::lock_guard lock(m_mutex);
        return m_waiting.count(url) != 0;
    }
    std::size_t Count(const std::string& request) const {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const std::string& r : m_requests) n += r == request;
        return n;
    }
    // What the storage page says: a sentence, nothing, or (fail) an error.
    void SetQuota(std::optional<std::string> sentence, bool fail = false) {
        std::lock_guard lock(m_mutex);
        m_quota = std::move(sentence);
        m_quotaFails = fail;
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    tallowdesk::shell::ServiceCalls Calls(std::shared_ptr<FakeService> self) const {
        tallowdesk::shell::ServiceCalls calls;
        calls.getFeed = [self](const std::string& url, tinyxml2::XMLDocument& doc) {
            std::string xml;
            {
                std::unique_lock lock(self->m_mutex);
                self->m_requests.push_back(url);
                self->m_waiting.insert(url);
                self->m_released.wait(lock, [&] { return self->m_held.count(url) == 0; });
                self->m_waiting.erase(url);
                auto it = self->m_feeds.find(url);
                if (it == self->m_feeds.end())
                    throw std::runtime_error("Error: Cannot connect to Google Docs.");
                xml = it->second;
            }
            doc.Parse(xml.c_str(), xml.size());
        };
        calls.renameEntry = [self](const std::string& href, const std::string& title) {
            std::lock_guard lock(self->m_mutex);
            self->m_requests.push_back("rename " + href + " " + title);
        };
        calls.trashEntry = [self](const std::string& rid) {
            std::lock_guard lock(self->m_mutex);
            self->m_requests.push_back("trash " + rid);
        };
        calls.quotaText = [self]() -> std::optional<std::string> {
            std::lock_guard lock(self->m_mutex);
            self->m_requests.push_back("quota");
            if (self->m_quotaFails) throw std::runtime_error("Get quota space failed");
            return self->m_quota;
        };
        return calls;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::set<std::string> m_held;
    std::set<std::string> m_waiting;
    std::map<std::string, std::string> m_feeds;
    std::vector<std::string> m_requests;
    std::optional<std::string> m_quota;
    bool m_quotaFails = false;
};

inline tallowdesk::DocEntry Parse(const Item& it) {
    tinyxml2::XMLDocument doc;
    const std::string xml = EntryXml(it);
    doc.Parse(xml.c_str());
    return tallowdesk::ParseEntry(*doc.FirstChildElement("entry"));
}

}  // namespace fakes
