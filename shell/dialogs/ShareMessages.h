#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../UiMessages.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk::shell {

// What the sharing workers tell the sharing dialogs.
class ShareSingleMessages {
public:
    virtual ~ShareSingleMessages() = default;
    // "the entry's ACL has gotten": the ACL feed, owned by the loader.
    virtual void AclReceived(const tinyxml2::XMLDocument& feed) = 0;
    // The ACL could not be read.
    virtual void AclUnreadable(const std::string& message) = 0;
    // "Refresh the ACL list": a change went through; read the rules again.
    virtual void RefreshAclList() = 0;
    // A worker's status text ("  failed: ...", "Operation failed.", ...).
    virtual void SetShareStatus(const std::string& text) = 0;
    // A change failed: the dialog takes new actions again.
    virtual void ShareActionFailed() = 0;
    // Adding people ended: what is left in the address box (the addresses
    // that could not be added, empty when all were).
    virtual void PeopleAdded(const std::string& remaining, const std::string& failures) = 0;
};

class ShareSinglePort : public Port<ShareSingleMessages> {
public:
    using Port::Port;
    void AclReceived(const tinyxml2::XMLDocument& feed) const {  // send
        SendCall([&feed](ShareSingleMessages& d) { d.AclReceived(feed); });
    }
    void AclUnreadable(std::string message) const {  // post
        PostCall([message](ShareSingleMessages& d) { d.AclUnreadable(message); });
    }
    void RefreshAclList() const {  // send
        SendCall([](ShareSingleMessages& d) { d.RefreshAclList(); });
    }
    void SetShareStatus(const std::string& text) const {  // send
        SendCall([&text](ShareSingleMessages& d) { d.SetShareStatus(text); });
    }
    void ShareActionFailed() const {  // post
        PostCall([](ShareSingleMessages& d) { d.ShareActionFailed(); });
    }
    void PeopleAdded(std::string remaining, std::string failures) const {  // post
        PostCall(
            [remaining, failures](ShareSingleMessages& d) { d.PeopleAdded(remaining, failures); });
    }
};

// The outcome of sharing one entry of the multi-entry dialog.
struct EntryShareReport {
    std::size_t index = 0;              // in the dialog's list of entries
    std::vector<std::string> failures;  // "address  failed: message", in order
};

class ShareMultiMessages {
public:
    virtual ~ShareMultiMessages() = default;
    virtual void EntryShared(const EntryShareReport& report) = 0;
    virtual void MultiShareFinished() = 0;
};

class ShareMultiPort : public Port<ShareMultiMessages> {
public:
    using Port::Port;
    void EntryShared(EntryShareReport report) const {  // post
        PostCall([report](ShareMultiMessages& d) { d.EntryShared(report); });
    }
    void MultiShareFinished() const {  // post
        PostCall([](ShareMultiMessages& d) { d.MultiShareFinished(); });
    }
};

}  // namespace tallowdesk::shell
