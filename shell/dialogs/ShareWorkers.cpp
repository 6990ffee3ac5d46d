#include "ShareWorkers.h"

#include <tinyxml2.h>

#include <QCoreApplication>
#include <exception>
#include <stdexcept>

#include "../Worker.h"
#include "service/ServiceClient.h"
#include "service/Sharing.h"

namespace tallowdesk::shell {
namespace {

// A text of this file in the user's language, for the ports' UTF-8 strings.
std::string Tr(const char* text) {
    return QCoreApplication::translate("ShareWorkers", text).toStdString();
}

// "address  failed: reason", one line of the failure report.
std::string FailedLine(const std::string& address, const std::string& reason) {
    return QCoreApplication::translate("ShareWorkers", "%1  failed: %2")
        .arg(QString::fromStdString(address), QString::fromStdString(reason))
        .toStdString();
}

}  // namespace

ShareService ShareServiceFor(std::shared_ptr<ServiceClient> client) {
    ShareService service;
    auto require = [client]() -> ServiceClient& {
        if (!client) throw std::runtime_error("The user must be logged in.");
        return *client;
    };
    service.getAcl = [require](const std::string& shortId, const std::string& kind,
                               tinyxml2::XMLDocument& feed) {
        GetAcl(require(), shortId, kind, feed);
    };
    service.addRule = [require](const std::string& scopeType, const std::string& value,
                                const std::string& shortId, const std::string& kind,
                                const std::string& role) {
        AddAclRule(scopeType, value, require(), shortId, kind, role);
    };
    service.changeRole = [require](const std::string& scopeType, const std::string& value,
                                   const std::string& editHref, const std::string& etag,
                                   const std::string& role) {
        ChangeAclRole(scopeType, value, require(), editHref, etag, role);
    };
    service.deleteRule = [require](const std::string& editHref) {
        DeleteAclRule(editHref, require());
    };
    return service;
}

std::vector<ShareRequest> ShareRequestsFor(const std::string& text,
                                           const std::string& groupsMailDomain) {
    std::vector<ShareRequest> requests;
    for (auto& address : SplitShareAddresses(text)) {
        requests.push_back({ScopeTypeForAddress(address, groupsMailDomain), std::move(address)});
    }
    return requests;
}

std::vector<AclRule> ParseAclFeed(const tinyxml2::XMLDocument& feed) {
    std::vector<AclRule> rules;
    const tinyxml2::XMLElement* root = feed.FirstChildElement("feed");
    if (!root) return rules;
    for (const auto* entry = root->FirstChildElement("entry"); entry;
         entry = entry->NextSiblingElement("entry")) {
        rules.push_back(ParseAclRule(entry));
    }
    return rules;
}

std::string RoleShownText(const std::optional<std::string>& role) {
    if (role == "owner") return Tr(QT_TRANSLATE_NOOP("ShareWorkers", "Is owner"));
    if (role == "writer") return Tr(QT_TRANSLATE_NOOP("ShareWorkers", "Can edit"));
    if (role == "reader") return Tr(QT_TRANSLATE_NOOP("ShareWorkers", "Can view"));
    return {};
}

namespace share_workers {

namespace {

// What every single-dialog worker carries: its own copies and the port.
struct SingleBlock {
    ShareService service;
    ShareSinglePort port;
    std::string shortId;
    std::string kind;
    std::string text;
    std::string role;
    std::string groupsMailDomain;
    AclRule rule;
};

std::unique_ptr<SingleBlock> Block(const ShareService& service, ShareSinglePort port) {
    auto block = std::make_unique<SingleBlock>();
    block->service = service;
    block->port = std::move(port);
    return block;
}

// Runs one change and asks for a fresh read; a failure shows failedText and
// leaves the list as the service last confirmed it.
template <typename Fn>
void RunChange(SingleBlock& b, const char* failedText, Fn change) {
    try {
        change();
    } catch (...) {
        // The texts are marked where the callers name them.
        b.port.SetShareStatus(Tr(failedText));
        b.port.ShareActionFailed();
        return;
    }
    b.port.RefreshAclList();
}

}  // namespace

void LoadAcl(const ShareService& service, const DocEntry& entry, ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->shortId = entry.shortId;
    block->kind = entry.kind;
    StartWorker(std::move(block), [](SingleBlock& b) {
        tinyxml2::XMLDocument feed;
        try {
            b.service.getAcl(b.shortId, b.kind, feed);
        } catch (const std::exception& e) {
            b.port.AclUnreadable(e.what());
            return;
        } catch (...) {
            b.port.AclUnreadable(
                Tr(QT_TRANSLATE_NOOP("ShareWorkers", "Get ACL informaiton failed.")));
            return;
        }
        b.port.AclReceived(feed);
    });
}

void AddPeople(const ShareService& service, const DocEntry& entry, const std::string& text,
               const std::string& role, const std::string& groupsMailDomain, ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->shortId = entry.shortId;
    block->kind = entry.kind;
    block->text = text;
    block->role = role;
    block->groupsMailDomain = groupsMailDomain;
    StartWorker(std::move(block), [](SingleBlock& b) {
        std::string remaining;
        std::string failures;
        for (const auto& request : ShareRequestsFor(b.text, b.groupsMailDomain)) {
            try {
                b.service.addRule(request.scopeType, request.address, b.shortId, b.kind, b.role);
            } catch (const std::exception& e) {
                const std::string status = FailedLine(request.address, e.what());
                b.port.SetShareStatus(status);
                if (!remaining.empty()) remaining += ", ";
                remaining += request.address;
                if (!failures.empty()) failures += "\n";
                failures += status;
            }
        }
        b.port.PeopleAdded(remaining, failures);
        b.port.RefreshAclList();
    });
}

void ChangeRole(const ShareService& service, const AclRule& rule, const std::string& role,
                ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->rule = rule;
    block->role = role;
    StartWorker(std::move(block), [](SingleBlock& b) {
        RunChange(b, QT_TRANSLATE_NOOP("ShareWorkers", "Operation failed."), [&b] {
            b.service.changeRole(b.rule.scopeType.value_or(""), b.rule.scopeValue.value_or(""),
                                 b.rule.editHref.value_or(""), b.rule.etag.value_or(""), b.role);
        });
    });
}

void DeleteRule(const ShareService& service, const std::string& editHref, ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->text = editHref;
    StartWorker(std::move(block), [](SingleBlock& b) {
        RunChange(b, QT_TRANSLATE_NOOP("ShareWorkers", "user deletion failed."),
                  [&b] { b.service.deleteRule(b.text); });
    });
}

void SetPublic(const ShareService& service, const DocEntry& entry, ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->shortId = entry.shortId;
    block->kind = entry.kind;
    StartWorker(std::move(block), [](SingleBlock& b) {
        RunChange(b, QT_TRANSLATE_NOOP("ShareWorkers", "Operation failed."),
                  [&b] { b.service.addRule("default", "", b.shortId, b.kind, "reader"); });
    });
}

void SetPrivate(const ShareService& service, const std::string& editHref, ShareSinglePort port) {
    auto block = Block(service, std::move(port));
    block->text = editHref;
    StartWorker(std::move(block), [](SingleBlock& b) {
        RunChange(b, QT_TRANSLATE_NOOP("ShareWorkers", "Operation failed."),
                  [&b] { b.service.deleteRule(b.text); });
    });
}

void ShareEntries(const ShareService& service,
                  const std::vector<std::shared_ptr<const DocEntry>>& entries,
                  const std::string& text, const std::string& role,
                  const std::string& groupsMailDomain, ShareMultiPort port) {
    struct MultiBlock {
        ShareService service;
        ShareMultiPort port;
        std::vector<std::shared_ptr<const DocEntry>> entries;
        std::vector<ShareRequest> requests;
        std::string role;
    };
    auto block = std::make_unique<MultiBlock>(MultiBlock{
        service, std::move(port), entries, ShareRequestsFor(text, groupsMailDomain), role});
    StartWorker(std::move(block), [](MultiBlock& b) {
        for (std::size_t i = 0; i < b.entries.size(); ++i) {
            const DocEntry& entry = *b.entries[i];
            EntryShareReport report;
            report.index = i;
            for (const auto& request : b.requests) {
                try {
                    b.service.addRule(request.scopeType, request.address, entry.shortId, entry.kind,
                                      b.role);
                } catch (const std::exception& e) {
                    report.failures.push_back(FailedLine(request.address, e.what()));
                } catch (...) {
                    report.failures.push_back(FailedLine(
                        request.address, Tr(QT_TRANSLATE_NOOP("ShareWorkers", "Sharing failed."))));
                }
            }
            b.port.EntryShared(report);
        }
        b.port.MultiShareFinished();
    });
}

}  // namespace share_workers

}  // namespace tallowdesk::shell
