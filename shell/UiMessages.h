#pragma once

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ListingPages.h"
#include "Notifier.h"
#include "model/ListingWorker.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk::shell {

// The messages workers exchange with windows. Each receiver implements one
// interface on the UI thread; a worker holds a Port (the "window handle" of
// its parameter block) whose methods fix the direction: the send methods
// block until handled, the post methods queue a value. See Notifier.h.

// Node of the folder tree as workers know it: an id, never a pointer, since
// "Refresh tree" may delete the node while the worker runs.
using TreeNodeId = std::uint64_t;
inline constexpr TreeNodeId kTreeRoot = 0;

// One folder node to insert, pointing into the sender's memory (sent).
struct FolderNodeBlock {
    TreeNodeId parent = kTreeRoot;
    const std::string& title;
    const std::string& url;
};

class ListViewMessages {
public:
    virtual ~ListViewMessages() = default;
    // "Entry Items Added": one page the worker parsed into the entry list
    // while it was at generation (the records themselves, in order).
    virtual void EntryItemsAdded(std::uint64_t generation, EntryPage page) = 0;
    virtual void ListingReset() = 0;
    // The listing that filled generation of the entry list ended; failure
    // holds the message of the request that ended it early.
    virtual void ListingFinished(std::uint64_t generation, const CurrentLocation& location,
                                 const std::optional<std::string>& failure) = 0;
    virtual void AddNewlyUploadedItem(const tinyxml2::XMLDocument& reply) = 0;
    virtual void DeleteItemByResourceId(const std::string& resourceId) = 0;
    virtual void DeleteItemByEditLink(const std::string& editHref) = 0;
    virtual void RefreshListView() = 0;
    // "Exit delete/trash/star/hidden thread": hides and destroys a command's
    // own processing window. Guarded: a window already gone is ignored.
    virtual void ExitActionThread(const QPointer<QObject>& processingWindow) = 0;
    // An upload made this entry where the list shows it: a row at the top.
    virtual void AddUploadedEntry(const DocEntryPtr& entry) = 0;
    virtual void FolderNameChangedInTree(const std::string& title, const std::string& url) = 0;
    // A command on the rows failed; the text says what and why.
    virtual void CommandFailed(const std::string& text) = 0;
};

class TreeViewMessages {
public:
    virtual ~TreeViewMessages() = default;
    virtual void AddFolderToTreeView(const FolderNodeBlock& block) = 0;
    virtual void DeleteChildren(TreeNodeId node) = 0;
    virtual void ChangeItemIcon(TreeNodeId node, int image) = 0;
    virtual void DeleteItemByResourceId(const std::string& resourceId) = 0;
    virtual void DeleteItemByEditLink(const std::string& editHref) = 0;
    virtual void FolderNameChangedInList(const std::string& title, const std::string& url) = 0;
    virtual void AddGeneralCategories() = 0;
    // A worker's placeholder node goes (the refresh removes its own).
    virtual void DeleteNode(TreeNodeId node) = 0;
    // A folder rename ended: the new title on success, nothing on failure.
    virtual void FolderRenameFinished(TreeNodeId node, std::optional<std::string> title) = 0;
    // A folder was moved to the trash.
    virtual void FolderTrashed(const std::string& resourceId) = 0;
    // A folder came back from the trash into the folder of parentUrl (empty:
    // the top level).
    virtual void FolderRestored(const std::string& parentUrl, const std::string& title,
                                const std::string& url) = 0;
    // "Refresh tree" could not read the folders; the tree stays empty.
    virtual void TreeRefreshFailed(const std::string& message) = 0;
    // Reading the sub-folders of node (the root: the top-level folders) failed.
    virtual void FolderLoadFailed(TreeNodeId node, const std::string& reason) = 0;
    // A rename or trash of a folder was refused or failed; text says what and why.
    virtual void FolderCommandFailed(const std::string& text) = 0;
};

// Carries what the sign-in worker reads from and writes to the dialog.
struct SignInInput {
    std::string email;
    std::string password;
    bool remember = false;
};

class SignInMessages {
public:
    virtual ~SignInMessages() = default;
    virtual void LoginFinished() = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void EnableButtons() = 0;
    virtual SignInInput ReadInput() = 0;
    // Shows the picture and asks for its code; nothing when closed without OK.
    virtual std::optional<std::string> AskCaptcha(const std::string& picturePath) = 0;
};

// Holds the receiver weakly; does nothing once it is gone.
template <typename Iface>
class Port {
public:
    Port() = default;
    template <typename Receiver>
    explicit Port(Receiver* receiver) : m_object(receiver), m_iface(receiver) {}

protected:
    // The receiver is looked at on the UI thread only.
    template <typename Fn>
    bool SendCall(Fn&& fn) const {
        QPointer<QObject> guard = m_object;
        Iface* iface = m_iface;
        bool handled = false;
        notifier::Send([&] {
            if (!guard) return;
            fn(*iface);
            handled = true;
        });
        return handled;
    }
    template <typename Fn>
    void PostCall(Fn fn) const {
        QPointer<QObject> guard = m_object;
        Iface* iface = m_iface;
        notifier::Post([guard, iface, fn] {
            if (guard) fn(*iface);
        });
    }

private:
    QPointer<QObject> m_object;
    Iface* m_iface = nullptr;
};

class ListViewPort : public Port<ListViewMessages> {
public:
    using Port::Port;
    void EntryItemsAdded(std::uint64_t generation, EntryPage page) const {  // post
        PostCall([generation, page = std::move(page)](ListViewMessages& v) {
            v.EntryItemsAdded(generation, page);
        });
    }
    void ListingReset() const {  // send
        SendCall([](ListViewMessages& v) { v.ListingReset(); });
    }
    void ListingFinished(std::uint64_t generation, CurrentLocation location,
                         std::optional<std::string> failure = {}) const {  // post
        PostCall([generation, location, failure](ListViewMessages& v) {
            v.ListingFinished(generation, location, failure);
        });
    }
    void AddNewlyUploadedItem(const tinyxml2::XMLDocument& reply) const {  // send
        SendCall([&reply](ListViewMessages& v) { v.AddNewlyUploadedItem(reply); });
    }
    void DeleteItemByResourceId(const std::string& id) const {  // send
        SendCall([&id](ListViewMessages& v) { v.DeleteItemByResourceId(id); });
    }
    void DeleteItemByEditLink(const std::string& href) const {  // send
        SendCall([&href](ListViewMessages& v) { v.DeleteItemByEditLink(href); });
    }
    void RefreshListView() const {  // send
        SendCall([](ListViewMessages& v) { v.RefreshListView(); });
    }
    void ExitActionThread(const QPointer<QObject>& window) const {  // send
        SendCall([&window](ListViewMessages& v) { v.ExitActionThread(window); });
    }
    void AddUploadedEntry(const DocEntryPtr& entry) const {  // send
        SendCall([&entry](ListViewMessages& v) { v.AddUploadedEntry(entry); });
    }
    void FolderNameChangedInTree(const std::string& title, const std::string& url) const {  // send
        SendCall([&](ListViewMessages& v) { v.FolderNameChangedInTree(title, url); });
    }
    void CommandFailed(std::string text) const {  // post: the worker does not wait for the box
        PostCall([text = std::move(text)](ListViewMessages& v) { v.CommandFailed(text); });
    }
};

class TreeViewPort : public Port<TreeViewMessages> {
public:
    using Port::Port;
    void AddFolderToTreeView(const FolderNodeBlock& block) const {  // send
        SendCall([&block](TreeViewMessages& t) { t.AddFolderToTreeView(block); });
    }
    void DeleteChildren(TreeNodeId node) const {  // send
        SendCall([node](TreeViewMessages& t) { t.DeleteChildren(node); });
    }
    void ChangeItemIcon(TreeNodeId node, int image) const {  // send
        SendCall([node, image](TreeViewMessages& t) { t.ChangeItemIcon(node, image); });
    }
    void DeleteItemByResourceId(const std::string& id) const {  // send
        SendCall([&id](TreeViewMessages& t) { t.DeleteItemByResourceId(id); });
    }
    void DeleteItemByEditLink(const std::string& href) const {  // send
        SendCall([&href](TreeViewMessages& t) { t.DeleteItemByEditLink(href); });
    }
    void FolderNameChangedInList(const std::string& title, const std::string& url) const {  // send
        SendCall([&](TreeViewMessages& t) { t.FolderNameChangedInList(title, url); });
    }
    void AddGeneralCategories() const {  // send
        SendCall([](TreeViewMessages& t) { t.AddGeneralCategories(); });
    }
    void DeleteNode(TreeNodeId node) const {  // send
        SendCall([node](TreeViewMessages& t) { t.DeleteNode(node); });
    }
    void FolderRestored(const std::string& parentUrl, const std::string& title,
                        const std::string& url) const {  // send
        SendCall([&](TreeViewMessages& t) { t.FolderRestored(parentUrl, title, url); });
    }
    void FolderLoadFailed(TreeNodeId node, std::string reason) const {  // post
        PostCall([node, reason = std::move(reason)](TreeViewMessages& t) {
            t.FolderLoadFailed(node, reason);
        });
    }
    void FolderCommandFailed(std::string text) const {  // post
        PostCall([text = std::move(text)](TreeViewMessages& t) { t.FolderCommandFailed(text); });
    }
    void FolderRenameFinished(TreeNodeId node, std::optional<std::string> title) const {  // post
        PostCall([node, title](TreeViewMessages& t) { t.FolderRenameFinished(node, title); });
    }
    void FolderTrashed(std::string resourceId) const {  // post
        PostCall([resourceId](TreeViewMessages& t) { t.FolderTrashed(resourceId); });
    }
    void TreeRefreshFailed(std::string message) const {  // post
        PostCall([message](TreeViewMessages& t) { t.TreeRefreshFailed(message); });
    }
};

class SignInPort : public Port<SignInMessages> {
public:
    using Port::Port;
    void LoginFinished() const {  // post
        PostCall([](SignInMessages& d) { d.LoginFinished(); });
    }
    void SetStatusText(const std::string& text) const {  // send
        SendCall([&text](SignInMessages& d) { d.SetStatusText(text); });
    }
    void EnableButtons() const {  // send
        SendCall([](SignInMessages& d) { d.EnableButtons(); });
    }
    SignInInput ReadInput() const {  // send
        SignInInput input;
        SendCall([&input](SignInMessages& d) { input = d.ReadInput(); });
        return input;
    }
    std::optional<std::string> AskCaptcha(const std::string& path) const {  // send
        std::optional<std::string> answer;
        SendCall([&](SignInMessages& d) { answer = d.AskCaptcha(path); });
        return answer;
    }
};

// Receivers built with later commands (transfer progress dialogs, sharing
// dialogs, the create-folder dialog) get their ports here in the same shape:
// "Transfer thread Finished", "the entry's ACL has gotten", "Refresh the ACL
// list" and "Create new folder finished." are all sends.

}  // namespace tallowdesk::shell
