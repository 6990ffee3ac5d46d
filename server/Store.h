#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tallowdesk::server {

struct ParentRef {
    std::string id;
    std::string title;
};

// One stored item of the document list. Times are milliseconds since the epoch.
struct StoredEntry {
    std::string id;    // short id
    std::string kind;  // folder, document, spreadsheet, presentation, drawing, pdf, file
    std::string title;
    std::string mime;  // empty for folders and native documents
    std::string ownerEmail;
    std::string ownerName;
    std::string modifierEmail;
    std::string modifierName;
    std::string etag;  // with its double quotes
    std::int64_t published = 0;
    std::int64_t updated = 0;
    std::int64_t edited = 0;
    std::int64_t size = 0;
    bool starred = false;  // by the account the entry was read for
    bool trashed = false;
    bool explicitlyTrashed = false;
    bool viewed = false;
    bool hidden = false;
    bool hasContent = false;
    bool writersCanInvite = true;
    std::vector<ParentRef> parents;
};

enum class ListScope { All, Mine, SharedWithMe, Starred, Trashed, Folder, Root };

// A place in the order of every listing: the newest edit first and, within
// one millisecond, the greater id first. A page that starts after it holds
// only entries that come later in that order.
struct ListPosition {
    std::int64_t edited = 0;
    std::string id;
};

struct ListQuery {
    std::string user;
    ListScope scope = ListScope::All;
    std::string folderId;  // for ListScope::Folder
    std::string kind;      // only this kind when not empty
    bool includeFolders = false;
    std::vector<std::string> words;     // every word must occur in the title
    std::optional<ListPosition> after;  // start after this entry
    std::int64_t offset = 0;            // then skip this many
    std::int64_t limit = 100;
};

struct ListResult {
    std::vector<StoredEntry> entries;
    bool more = false;
};

enum class PasswordCheck { Ok, NoAccount, BadPassword, Disabled };

// Thrown by Store::Create when a folder the entry goes into no longer exists
// (deleted while an upload into it was arriving). Nothing is stored.
class FolderGone : public std::runtime_error {
public:
    FolderGone() : std::runtime_error("The folder no longer exists.") {}
};

// Thrown by AddParent when the folder is the entry itself or lies below it:
// the tree would have a loop. Nothing is changed.
class WouldCycle : public std::runtime_error {
public:
    WouldCycle()
        : std::runtime_error("A folder cannot be put into itself or into one of its subfolders.") {}
};

// What the start-up check of the content folder against the database found.
struct Reconciliation {
    int removedTemporary = 0;              // leftovers of interrupted writes
    std::vector<std::string> quarantined;  // files no entry points at, moved aside
    std::vector<std::string> missing;      // entries whose content file is gone
};

enum class Access { None, Read, Write, Own };

struct NewEntry {
    std::string kind;
    std::string title;
    std::string mime;
    std::vector<std::string> parents;
    std::optional<std::string> content;  // bytes of the stored file
    // Or a finished, synced file in the content folder that becomes the
    // entry's content (renamed, never copied).
    std::string contentFile;
    bool starred = false;
    bool trashed = false;
    bool viewed = false;
    std::int64_t time = 0;  // 0: now
    std::string id;         // empty: a fresh random id
    // When set, the owner's stored bytes with this content may not exceed
    // it; checked inside the change, so that uploads landing at once (in
    // one process or several) cannot pass the limit together.
    std::optional<std::int64_t> quotaBytes;
};

// Thrown by Store::Create when the content would take the owner past
// NewEntry::quotaBytes. Nothing is stored.
class QuotaExceeded : public std::runtime_error {
public:
    QuotaExceeded() : std::runtime_error("The storage limit would be exceeded.") {}
};

// The service's persistent state: accounts, entries with their folders and
// labels, access rules, sign-in tokens and browser sessions in a database,
// and file contents under content/ in the data folder. Implemented once per
// database (SqliteStore, PgStore) with the same behaviour: every method is
// thread-safe, a method that changes something returns only after its change
// is committed, and a call that reads sees every change committed before it.
class StoreBackend {
public:
    virtual ~StoreBackend() = default;

    // Accounts. AddAccount replaces the password of an existing account.
    virtual void AddAccount(const std::string& email, std::string_view password,
                            const std::string& displayName) = 0;
    virtual bool AccountExists(const std::string& email) = 0;
    // Creates the account only when the address is free; false when taken.
    virtual bool CreateAccount(const std::string& email, std::string_view password,
                               const std::string& displayName) = 0;
    virtual std::string DisplayName(const std::string& email) = 0;
    // Accounts made by open sign-up start unconfirmed: rules naming their
    // address or its domain do not reach them until the holder follows the
    // one-time link (ProveAddress) or the operator confirms the account.
    // AddAccount's accounts are confirmed.
    virtual std::string IssueAddressProof(const std::string& email) = 0;  // the link's token
    // The confirmed address, or nothing for a wrong, used or expired token.
    virtual std::optional<std::string> ProveAddress(const std::string& token) = 0;
    virtual bool ConfirmAccount(const std::string& email) = 0;  // false: no such account
    virtual bool AccountConfirmed(const std::string& email) = 0;
    virtual PasswordCheck CheckPassword(const std::string& email, std::string_view password) = 0;
    virtual void SetDisabled(const std::string& email, bool disabled) = 0;
    // Counts a failed sign-in; the third in a row makes a CAPTCHA necessary.
    virtual void RecordFailure(const std::string& email) = 0;
    virtual void ClearFailures(const std::string& email) = 0;
    virtual bool CaptchaRequired(const std::string& email) = 0;
    virtual void SetCaptchaRequired(const std::string& email, bool required) = 0;

    // Tokens and sessions. Both are stored as SHA-256 hashes, end
    // kTokenLifetimeMs after their last use, and end with a password change.
    virtual std::string IssueToken(const std::string& email, const std::string& service) = 0;
    virtual std::optional<std::string> TokenOwner(const std::string& token,
                                                  const std::string& service) = 0;
    struct Session {
        std::string sid;
        std::string hsid;
    };
    virtual Session CreateSession(const std::string& email) = 0;
    virtual std::optional<std::string> SessionOwner(const std::string& sid,
                                                    const std::string& hsid) = 0;
    // Signs a browser out: the session's cookies stop working everywhere.
    virtual void EndSession(const std::string& sid) = 0;
    // Makes every token, session and address proof look `millis` older
    // (tests of expiry).
    virtual void AgeSecretsForTest(std::int64_t millis) = 0;

    // Entries.
    // The entry as stored: every folder it is in, no star.
    virtual std::optional<StoredEntry> GetEntry(const std::string& id) = 0;
    // The entry as `viewer` sees it: the viewer's own star, and only the
    // folders the viewer may open.
    virtual std::optional<StoredEntry> GetEntryFor(const std::string& viewer,
                                                   const std::string& id) = 0;
    virtual Access AccessOf(const std::string& user, const std::string& id) = 0;
    // Entries `query.user` may open, each with that account's star and the
    // folders it may open. For ListScope::Folder the caller has checked that
    // the account may open the folder.
    virtual ListResult List(const ListQuery& query) = 0;
    virtual StoredEntry Create(const std::string& owner, const NewEntry& entry) = 0;
    // Puts the finished, synced file `contentFile` of the content folder in
    // place of the entry's stored content (renamed, never copied) when the
    // etag still equals `ifMatch` ("*" matches any); the id, folders, rules
    // and labels stay. Returns the entry with its new size and etag, or
    // nothing when the etag differs (the file is then left where it is).
    // The old content stays until the change is committed.
    virtual std::optional<StoredEntry> ReplaceContent(const std::string& id,
                                                      const std::string& editor,
                                                      const std::string& contentFile,
                                                      const std::string& ifMatch) = 0;
    // Changes the title and/or the editor's own star when the entry's etag
    // still equals `ifMatch` ("*" matches any); returns the entry as the
    // editor sees it with its new etag, or nothing when the etag differs.
    virtual std::optional<StoredEntry> Update(const std::string& id, const std::string& editor,
                                              const std::optional<std::string>& title,
                                              const std::optional<bool>& starred,
                                              const std::string& ifMatch) = 0;
    // True when `candidate` is `id` itself or lies somewhere below it: filing
    // `id` into `candidate` would make a cycle.
    virtual bool IsSelfOrBelow(const std::string& id, const std::string& candidate) = 0;
    virtual void SetWritersCanInvite(const std::string& id, bool allowed) = 0;
    // Puts an existing entry into one more folder; WouldCycle when the
    // folder is the entry or lies below it.
    virtual StoredEntry AddParent(const std::string& id, const std::string& folderId) = 0;
    // Takes the entry out of one folder; false when it was not in it.
    virtual bool RemoveParent(const std::string& id, const std::string& folderId) = 0;
    // Moves the entry and everything below it that the same user owns to the trash.
    virtual void Trash(const std::string& id) = 0;
    // Takes the entry out of the trash, with everything below it that went
    // there with it (not what was trashed on its own before); it is back in
    // the folders it was in.
    virtual void Restore(const std::string& id) = 0;
    // Deletes the entry and everything below it that has the same owner and
    // no other parent; entries of other accounts below it are only detached.
    virtual void Delete(const std::string& id) = 0;
    virtual std::string ContentPath(const std::string& id) const = 0;

    virtual void AddAclRule(const std::string& id, const std::string& scopeType,
                            const std::string& scope, const std::string& role) = 0;
    struct AclRow {
        std::string scopeType;
        std::string scope;  // empty for "default"
        std::string role;
    };
    // The owner's rule first.
    virtual std::vector<AclRow> AclRules(const std::string& id) = 0;
    virtual std::optional<AclRow> FindAclRule(const std::string& id, const std::string& scopeType,
                                              const std::string& scope) = 0;
    virtual bool RemoveAclRule(const std::string& id, const std::string& scopeType,
                               const std::string& scope) = 0;
    // Group rules reach the accounts listed as members of the group address.
    virtual void AddGroupMember(const std::string& group, const std::string& member) = 0;
    // Bytes of stored content the account owns.
    virtual std::int64_t UsageBytes(const std::string& owner) = 0;

    // What the last opening found when it compared content/ with the entries.
    virtual const Reconciliation& LastReconciliation() const = 0;
    // Problems of the database and the content folder: the database's own
    // checks, content files without entries and entries without
    // content. Empty when all is well.
    virtual std::vector<std::string> CheckConsistency() = 0;

    // The service's own secret that signs the places in listings it hands
    // out (the start-key of feed pages); kept in the database, so a key
    // stays valid across restarts.
    virtual const std::string& PageKeySecret() const = 0;

    virtual std::optional<std::string> Meta(const std::string& key) = 0;
    virtual void SetMeta(const std::string& key, const std::string& value) = 0;
};

// The store the service and its tools hold: SQLite in the data folder
// unless `database` names a PostgreSQL database ("postgresql://..." or a
// libpq "key=value" string). File contents stay in the data folder's
// content/ for both. Each call goes to the backend unchanged.
class Store {
public:
    explicit Store(const std::string& dataDir, int passwordIterations = 200000,
                   const std::string& database = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    using Session = StoreBackend::Session;
    using AclRow = StoreBackend::AclRow;

    void AddAccount(const std::string& email, std::string_view password,
                    const std::string& displayName) {
        return m_backend->AddAccount(email, password, displayName);
    }
    bool AccountExists(const std::string& email) { return m_backend->AccountExists(email); }
    bool CreateAccount(const std::string& email, std::string_view password,
                       const std::string& displayName) {
        return m_backend->CreateAccount(email, password, displayName);
    }
    std::string DisplayName(const std::string& email) { return m_backend->DisplayName(email); }
    std::string IssueAddressProof(const std::string& email) {
        return m_backend->IssueAddressProof(email);
    }
    std::optional<std::string> ProveAddress(const std::string& token) {
        return m_backend->ProveAddress(token);
    }
    bool ConfirmAccount(const std::string& email) { return m_backend->ConfirmAccount(email); }
    bool AccountConfirmed(const std::string& email) { return m_backend->AccountConfirmed(email); }
    PasswordCheck CheckPassword(const std::string& email, std::string_view password) {
        return m_backend->CheckPassword(email, password);
    }
    void SetDisabled(const std::string& email, bool disabled) {
        return m_backend->SetDisabled(email, disabled);
    }
    void RecordFailure(const std::string& email) { return m_backend->RecordFailure(email); }
    void ClearFailures(const std::string& email) { return m_backend->ClearFailures(email); }
    bool CaptchaRequired(const std::string& email) { return m_backend->CaptchaRequired(email); }
    void SetCaptchaRequired(const std::string& email, bool required) {
        return m_backend->SetCaptchaRequired(email, required);
    }
    std::string IssueToken(const std::string& email, const std::string& service) {
        return m_backend->IssueToken(email, service);
    }
    std::optional<std::string> TokenOwner(const std::string& token, const std::string& service) {
        return m_backend->TokenOwner(token, service);
    }
    Session CreateSession(const std::string& email) { return m_backend->CreateSession(email); }
    std::optional<std::string> SessionOwner(const std::string& sid, const std::string& hsid) {
        return m_backend->SessionOwner(sid, hsid);
    }
    void EndSession(const std::string& sid) { return m_backend->EndSession(sid); }
    void AgeSecretsForTest(std::int64_t millis) { return m_backend->AgeSecretsForTest(millis); }
    std::optional<StoredEntry> GetEntry(const std::string& id) { return m_backend->GetEntry(id); }
    std::optional<StoredEntry> GetEntryFor(const std::string& viewer, const std::string& id) {
        return m_backend->GetEntryFor(viewer, id);
    }
    Access AccessOf(const std::string& user, const std::string& id) {
        return m_backend->AccessOf(user, id);
    }
    ListResult List(const ListQuery& query) { return m_backend->List(query); }
    StoredEntry Create(const std::string& owner, const NewEntry& entry) {
        return m_backend->Create(owner, entry);
    }
    std::optional<StoredEntry> ReplaceContent(const std::string& id, const std::string& editor,
                                              const std::string& contentFile,
                                              const std::string& ifMatch) {
        return m_backend->ReplaceContent(id, editor, contentFile, ifMatch);
    }
    std::optional<StoredEntry> Update(const std::string& id, const std::string& editor,
                                      const std::optional<std::string>& title,
                                      const std::optional<bool>& starred,
                                      const std::string& ifMatch) {
        return m_backend->Update(id, editor, title, starred, ifMatch);
    }
    bool IsSelfOrBelow(const std::string& id, const std::string& candidate) {
        return m_backend->IsSelfOrBelow(id, candidate);
    }
    void SetWritersCanInvite(const std::string& id, bool allowed) {
        return m_backend->SetWritersCanInvite(id, allowed);
    }
    StoredEntry AddParent(const std::string& id, const std::string& folderId) {
        return m_backend->AddParent(id, folderId);
    }
    bool RemoveParent(const std::string& id, const std::string& folderId) {
        return m_backend->RemoveParent(id, folderId);
    }
    void Trash(const std::string& id) { return m_backend->Trash(id); }
    void Restore(const std::string& id) { return m_backend->Restore(id); }
    void Delete(const std::string& id) { return m_backend->Delete(id); }
    std::string ContentPath(const std::string& id) const { return m_backend->ContentPath(id); }
    const std::string& DataDir() const { return m_dataDir; }
    void AddAclRule(const std::string& id, const std::string& scopeType, const std::string& scope,
                    const std::string& role) {
        return m_backend->AddAclRule(id, scopeType, scope, role);
    }
    std::vector<AclRow> AclRules(const std::string& id) { return m_backend->AclRules(id); }
    std::optional<AclRow> FindAclRule(const std::string& id, const std::string& scopeType,
                                      const std::string& scope) {
        return m_backend->FindAclRule(id, scopeType, scope);
    }
    bool RemoveAclRule(const std::string& id, const std::string& scopeType,
                       const std::string& scope) {
        return m_backend->RemoveAclRule(id, scopeType, scope);
    }
    void AddGroupMember(const std::string& group, const std::string& member) {
        return m_backend->AddGroupMember(group, member);
    }
    std::int64_t UsageBytes(const std::string& owner) { return m_backend->UsageBytes(owner); }
    const Reconciliation& LastReconciliation() const { return m_backend->LastReconciliation(); }
    std::vector<std::string> CheckConsistency() { return m_backend->CheckConsistency(); }
    const std::string& PageKeySecret() const { return m_backend->PageKeySecret(); }
    std::optional<std::string> Meta(const std::string& key) { return m_backend->Meta(key); }
    void SetMeta(const std::string& key, const std::string& value) {
        return m_backend->SetMeta(key, value);
    }

private:
    std::string m_dataDir;
    std::unique_ptr<StoreBackend> m_backend;
};

// True when `database` names a PostgreSQL database rather than nothing.
bool IsPostgresDatabase(const std::string& database);

std::int64_t NowMillis();
// Addresses are stored and compared in lower case.
std::string NormalEmail(std::string email);
std::string FormatTime(std::int64_t millis);  // 2013-07-30T14:52:13.096Z

// The etag an account is given for an entry. An entry is answered as its
// reader sees it (their own star, only the folders they may open), so one
// etag for all would let a copy kept by one account pass for another's.
// While the entry looks to the viewer as stored (no star of theirs, every
// folder it is in shown) this is the stored etag, so copies kept before
// stay valid; otherwise the stored one with a mark of what differs.
std::string ViewerEtag(std::string_view stored, bool starred, bool someFoldersHidden,
                       const std::vector<ParentRef>& shownFolders);

// What both stores keep of a password set for an address: the address made
// normal, a fresh salt and the hash. Throws for an address without '@' and
// for an empty password.
struct NewCredentials {
    std::string email;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};
NewCredentials MakeCredentials(const std::string& rawEmail, std::string_view password,
                               int iterations);

}  // namespace tallowdesk::server
