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

class SqliteDb;
class SqliteReaders;

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
};

// The service's persistent state: accounts, entries with their folders and
// labels, access rules, sign-in tokens and browser sessions, in SQLite, and
// file contents under content/. Every method is thread-safe: changes go
// through one connection behind a mutex, one at a time, and a method returns
// only after its change is committed; calls that only read use connections
// of their own side by side and see every change committed before them.
class Store {
public:
    explicit Store(const std::string& dataDir, int passwordIterations = 200000);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Accounts. AddAccount replaces the password of an existing account.
    void AddAccount(const std::string& email, std::string_view password,
                    const std::string& displayName);
    bool AccountExists(const std::string& email);
    // Creates the account only when the address is free; false when taken.
    bool CreateAccount(const std::string& email, std::string_view password,
                       const std::string& displayName);
    std::string DisplayName(const std::string& email);
    // Accounts made by open sign-up start unconfirmed: rules naming their
    // address or its domain do not reach them until the holder follows the
    // one-time link (ProveAddress) or the operator confirms the account.
    // AddAccount's accounts are confirmed.
    std::string IssueAddressProof(const std::string& email);  // the link's token
    // The confirmed address, or nothing for a wrong, used or expired token.
    std::optional<std::string> ProveAddress(const std::string& token);
    bool ConfirmAccount(const std::string& email);  // false: no such account
    bool AccountConfirmed(const std::string& email);
    PasswordCheck CheckPassword(const std::string& email, std::string_view password);
    void SetDisabled(const std::string& email, bool disabled);
    // Counts a failed sign-in; the third in a row makes a CAPTCHA necessary.
    void RecordFailure(const std::string& email);
    void ClearFailures(const std::string& email);
    bool CaptchaRequired(const std::string& email);
    void SetCaptchaRequired(const std::string& email, bool required);

    // Tokens and sessions. Both are stored as SHA-256 hashes, end
    // kTokenLifetimeMs after their last use, and end with a password change.
    std::string IssueToken(const std::string& email, const std::string& service);
    std::optional<std::string> TokenOwner(const std::string& token, const std::string& service);
    struct Session {
        std::string sid;
        std::string hsid;
    };
    Session CreateSession(const std::string& email);
    std::optional<std::string> SessionOwner(const std::string& sid, const std::string& hsid);
    // Signs a browser out: the session's cookies stop working everywhere.
    void EndSession(const std::string& sid);
    // Makes every token, session and address proof look `millis` older
    // (tests of expiry).
    void AgeSecretsForTest(std::int64_t millis);

    // Entries.
    // The entry as stored: every folder it is in, no star.
    std::optional<StoredEntry> GetEntry(const std::string& id);
    // The entry as `viewer` sees it: the viewer's own star, and only the
    // folders the viewer may open.
    std::optional<StoredEntry> GetEntryFor(const std::string& viewer, const std::string& id);
    Access AccessOf(const std::string& user, const std::string& id);
    // Entries `query.user` may open, each with that account's star and the
    // folders it may open. For ListScope::Folder the caller has checked that
    // the account may open the folder.
    ListResult List(const ListQuery& query);
    StoredEntry Create(const std::string& owner, const NewEntry& entry);
    // Changes the title and/or the editor's own star when the entry's etag
    // still equals `ifMatch` ("*" matches any); returns the entry as the
    // editor sees it with its new etag, or nothing when the etag differs.
    std::optional<StoredEntry> Update(const std::string& id, const std::string& editor,
                                      const std::optional<std::string>& title,
                                      const std::optional<bool>& starred,
                                      const std::string& ifMatch);
    // True when `candidate` is `id` itself or lies somewhere below it: filing
    // `id` into `candidate` would make a cycle.
    bool IsSelfOrBelow(const std::string& id, const std::string& candidate);
    void SetWritersCanInvite(const std::string& id, bool allowed);
    // Puts an existing entry into one more folder.
    StoredEntry AddParent(const std::string& id, const std::string& folderId);
    // Takes the entry out of one folder; false when it was not in it.
    bool RemoveParent(const std::string& id, const std::string& folderId);
    // Moves the entry and everything below it that the same user owns to the trash.
    void Trash(const std::string& id);
    // Takes the entry out of the trash, with everything below it that went
    // there with it (not what was trashed on its own before); it is back in
    // the folders it was in.
    void Restore(const std::string& id);
    // Deletes the entry and everything below it that has the same owner and
    // no other parent; entries of other accounts below it are only detached.
    void Delete(const std::string& id);
    std::string ContentPath(const std::string& id) const;
    const std::string& DataDir() const { return m_dataDir; }

    void AddAclRule(const std::string& id, const std::string& scopeType, const std::string& scope,
                    const std::string& role);
    struct AclRow {
        std::string scopeType;
        std::string scope;  // empty for "default"
        std::string role;
    };
    // The owner's rule first.
    std::vector<AclRow> AclRules(const std::string& id);
    std::optional<AclRow> FindAclRule(const std::string& id, const std::string& scopeType,
                                      const std::string& scope);
    bool RemoveAclRule(const std::string& id, const std::string& scopeType,
                       const std::string& scope);
    // Group rules reach the accounts listed as members of the group address.
    void AddGroupMember(const std::string& group, const std::string& member);
    // Bytes of stored content the account owns.
    std::int64_t UsageBytes(const std::string& owner);

    // What the last opening found when it compared content/ with the entries.
    const Reconciliation& LastReconciliation() const { return m_reconciliation; }
    // Problems of the database and the content folder: SQLite's integrity and
    // foreign-key checks, content files without entries and entries without
    // content. Empty when all is well.
    std::vector<std::string> CheckConsistency();

    // The service's own secret that signs the places in listings it hands
    // out (the start-key of feed pages); kept in the database, so a key
    // stays valid across restarts.
    const std::string& PageKeySecret() const { return m_pageKeySecret; }

    std::optional<std::string> Meta(const std::string& key);
    void SetMeta(const std::string& key, const std::string& value);

private:
    StoredEntry LoadLocked(const std::string& id, const std::optional<std::string>& viewer);
    void Reconcile();
    std::optional<StoredEntry> FindLocked(SqliteDb& db, const std::string& id,
                                          const std::optional<std::string>& viewer);

    std::string m_dataDir;
    int m_passwordIterations;
    std::mutex m_mutex;
    std::unique_ptr<SqliteDb> m_db;  // the writer, under m_mutex
    std::unique_ptr<SqliteReaders> m_readers;
    Reconciliation m_reconciliation;
    std::string m_pageKeySecret;
};

std::int64_t NowMillis();
// Addresses are stored and compared in lower case.
std::string NormalEmail(std::string email);
std::string FormatTime(std::int64_t millis);  // 2013-07-30T14:52:13.096Z

}  // namespace tallowdesk::server
