#include "SqliteStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "Crypto.h"
#include "FolderLock.h"
#include "Limits.h"
#include "SqliteDb.h"
#include "SqliteReaders.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"

namespace tallowdesk::server {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
  email TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  salt BLOB NOT NULL,
  hash BLOB NOT NULL,
  iterations INTEGER NOT NULL,
  disabled INTEGER NOT NULL DEFAULT 0,
  failures INTEGER NOT NULL DEFAULT 0,
  captcha INTEGER NOT NULL DEFAULT 0,
  confirmed INTEGER NOT NULL DEFAULT 1
);
CREATE TABLE IF NOT EXISTS entries (
  id TEXT PRIMARY KEY,
  kind TEXT NOT NULL,
  title TEXT NOT NULL,
  mime TEXT NOT NULL DEFAULT '',
  owner TEXT NOT NULL REFERENCES accounts(email),
  modified_by TEXT NOT NULL,
  etag TEXT NOT NULL,
  published INTEGER NOT NULL,
  updated INTEGER NOT NULL,
  edited INTEGER NOT NULL,
  size INTEGER NOT NULL DEFAULT 0,
  has_content INTEGER NOT NULL DEFAULT 0,
  starred INTEGER NOT NULL DEFAULT 0,
  trashed INTEGER NOT NULL DEFAULT 0,
  explicit_trash INTEGER NOT NULL DEFAULT 0,
  viewed INTEGER NOT NULL DEFAULT 0,
  hidden INTEGER NOT NULL DEFAULT 0,
  writers_can_invite INTEGER NOT NULL DEFAULT 1
);
CREATE TABLE IF NOT EXISTS parents (
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  parent TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  edited INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (entry, parent)
);
CREATE INDEX IF NOT EXISTS parents_parent ON parents(parent);
CREATE TABLE IF NOT EXISTS acl (
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  scope_type TEXT NOT NULL,
  scope TEXT NOT NULL,
  role TEXT NOT NULL,
  PRIMARY KEY (entry, scope_type, scope)
);
CREATE INDEX IF NOT EXISTS acl_scope ON acl(scope);
CREATE TABLE IF NOT EXISTS tokens (
  token TEXT PRIMARY KEY,
  email TEXT NOT NULL REFERENCES accounts(email) ON DELETE CASCADE,
  service TEXT NOT NULL,
  created INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS sessions (
  sid TEXT PRIMARY KEY,
  hsid TEXT NOT NULL,
  email TEXT NOT NULL REFERENCES accounts(email) ON DELETE CASCADE,
  created INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS group_members (
  grp TEXT NOT NULL,
  member TEXT NOT NULL,
  PRIMARY KEY (grp, member)
);
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS stars (
  account TEXT NOT NULL,
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  PRIMARY KEY (account, entry)
);
CREATE INDEX IF NOT EXISTS stars_entry ON stars(entry);
CREATE TABLE IF NOT EXISTS address_proofs (
  email TEXT PRIMARY KEY REFERENCES accounts(email) ON DELETE CASCADE,
  token TEXT NOT NULL UNIQUE,
  expires INTEGER NOT NULL
);
)sql";

// The version of the tables below; raised with every change of them.
constexpr int kSchemaVersion = 1;

// Listings are read in the order (edited DESC, id DESC) and a page starts
// after the last entry of the one before, so each order has an index that
// a page reads from its start without counting what came before: one over
// all entries, one per owner and, for the contents of a folder, one over
// the folder's rows in parents, which carry a copy of the entry's edit
// time that triggers keep current. The root folder reads a partial index of
// the owner's entries that sit in no folder of the owner's (entries count
// their rows in parents whose folder has the same owner, marked `own`: an
// entry someone else filed into a folder of theirs stays in its owner's
// root) and shared-with-me one over the rules that name a reader, which
// carry the entry's edit time like the folder rows do; otherwise both would
// step over every entry filed in a folder, or every entry of everyone.
constexpr const char* kListingSchema = R"sql(
DROP INDEX IF EXISTS entries_owner;
CREATE INDEX IF NOT EXISTS entries_order ON entries(edited, id);
CREATE INDEX IF NOT EXISTS entries_owner_order ON entries(owner, edited, id);
CREATE INDEX IF NOT EXISTS parents_order ON parents(parent, edited, entry);
CREATE TRIGGER IF NOT EXISTS parents_take_edited AFTER INSERT ON parents BEGIN
  UPDATE parents SET edited = (SELECT edited FROM entries WHERE id = NEW.entry)
  WHERE entry = NEW.entry AND parent = NEW.parent;
END;
CREATE TRIGGER IF NOT EXISTS entries_pass_edited AFTER UPDATE OF edited ON entries BEGIN
  UPDATE parents SET edited = NEW.edited WHERE entry = NEW.id;
END;
CREATE TRIGGER IF NOT EXISTS acl_take_edited AFTER INSERT ON acl BEGIN
  UPDATE acl SET edited = (SELECT edited FROM entries WHERE id = NEW.entry)
  WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER IF NOT EXISTS entries_pass_edited_acl AFTER UPDATE OF edited ON entries BEGIN
  UPDATE acl SET edited = NEW.edited WHERE entry = NEW.id;
END;
DROP TRIGGER IF EXISTS parents_count_added;
DROP TRIGGER IF EXISTS parents_count_removed;
CREATE TRIGGER IF NOT EXISTS parents_own_added AFTER INSERT ON parents BEGIN
  UPDATE parents SET own = (SELECT e.owner = f.owner FROM entries e, entries f
                            WHERE e.id = NEW.entry AND f.id = NEW.parent)
  WHERE entry = NEW.entry AND parent = NEW.parent;
  UPDATE entries SET parent_count = parent_count + 1
  WHERE id = NEW.entry AND owner = (SELECT owner FROM entries WHERE id = NEW.parent);
END;
CREATE TRIGGER IF NOT EXISTS parents_own_removed AFTER DELETE ON parents WHEN OLD.own = 1 BEGIN
  UPDATE entries SET parent_count = parent_count - 1 WHERE id = OLD.entry;
END;
CREATE INDEX IF NOT EXISTS entries_root_order ON entries(owner, edited, id)
  WHERE parent_count = 0 AND trashed = 0;
CREATE INDEX IF NOT EXISTS acl_listed_order ON acl(scope_type, scope, edited, entry)
  WHERE role <> 'owner';
)sql";

// Columns the root and shared-with-me orders need, added to databases of
// older versions and filled from what is there.
constexpr const char* kAddRootCount =
    "ALTER TABLE entries ADD COLUMN parent_count INTEGER NOT NULL DEFAULT 0;"
    "UPDATE entries SET parent_count = (SELECT count(*) FROM parents WHERE entry = entries.id);";
// Older versions counted every folder an entry was in, also folders of
// other accounts; from now on only the owner's own folders take an entry
// out of its owner's root.
constexpr const char* kAddOwnFolder =
    "ALTER TABLE parents ADD COLUMN own INTEGER NOT NULL DEFAULT 1;"
    "UPDATE parents SET own = (SELECT e.owner = f.owner FROM entries e, entries f "
    "WHERE e.id = parents.entry AND f.id = parents.parent);"
    "UPDATE entries SET parent_count = "
    "(SELECT count(*) FROM parents WHERE entry = entries.id AND own = 1);";
// Older versions kept one star per entry, set by whoever starred it; it
// becomes the owner's star.
constexpr const char* kOwnersStars =
    "BEGIN IMMEDIATE;"
    "INSERT OR IGNORE INTO stars(account, entry) SELECT owner, id FROM entries WHERE starred = 1;"
    "UPDATE entries SET starred = 0 WHERE starred = 1;"
    "INSERT INTO meta(key, value) VALUES('stars', 'per-account') "
    "ON CONFLICT(key) DO UPDATE SET value = excluded.value;"
    "COMMIT;";
// Accounts of older versions were all made by the operator: confirmed.
constexpr const char* kAddConfirmed =
    "ALTER TABLE accounts ADD COLUMN confirmed INTEGER NOT NULL DEFAULT 1;";
constexpr const char* kAddRuleOrder =
    "ALTER TABLE acl ADD COLUMN edited INTEGER NOT NULL DEFAULT 0;"
    "UPDATE acl SET edited = (SELECT edited FROM entries WHERE id = acl.entry);";

// The star is the viewer's own (?1 of every statement that reads entries).
constexpr const char* kEntryColumns =
    "e.id, e.kind, e.title, e.mime, e.owner, COALESCE(o.name, e.owner), e.modified_by, "
    "COALESCE(m.name, e.modified_by), e.etag, e.published, e.updated, e.edited, e.size, "
    "EXISTS (SELECT 1 FROM stars s WHERE s.entry = e.id AND s.account = ?1), "
    "e.trashed, e.explicit_trash, e.viewed, e.hidden, e.has_content, "
    "e.writers_can_invite";
// Listings also say whether an entry is in any folder at all: a page of
// entries in none (most of a root folder's) needs no query for folders.
constexpr const char* kInAnyFolder = ", (EXISTS (SELECT 1 FROM parents x WHERE x.entry = e.id))";
constexpr int kInAnyFolderColumn = 20;
constexpr const char* kEntryJoins =
    " FROM entries e LEFT JOIN accounts o ON o.email = e.owner"
    " LEFT JOIN accounts m ON m.email = e.modified_by";

// Rules (alias a) that reach the account ?1. A rule naming an address, or
// the domain of one, promises the entry to whoever owns that mailbox: an
// account made by open sign-up has not shown that it does until its
// address is confirmed.
constexpr const char* kAddressProven =
    "EXISTS (SELECT 1 FROM accounts WHERE email = ?1 AND confirmed = 1)";

std::string UserRuleReaches() {
    return std::string("(a.scope_type = 'user' AND a.scope = ?1 AND ") + kAddressProven + ")";
}

std::string GroupRuleReaches() {
    return "(a.scope_type = 'group' AND a.scope IN "
           "(SELECT grp FROM group_members WHERE member = ?1))";
}

// Its own address and the groups it belongs to and, unless `listedOnly`,
// its mail domain or everybody signed in.
std::string RuleReaches(bool listedOnly) {
    std::string sql = "(" + UserRuleReaches() + " OR " + GroupRuleReaches();
    // Rules for a whole domain or for everybody open an entry to whoever has
    // its link; they do not put it into everybody's list.
    if (!listedOnly) {
        sql += std::string(
                   " OR (a.scope_type = 'domain' AND a.scope = substr(?1, instr(?1, "
                   "'@') + 1) AND ") +
               kAddressProven +
               ")"
               " OR a.scope_type = 'default'";
    }
    return sql + ")";
}

// `up(id)`: the entry `start` and the folders above it that belong to
// `owner`, the entry's owner, where the rules that open the entry sit.
// Rights on a folder reach what inside it belongs to the folder's owner;
// the walk stops at a folder of anyone else: holding a folder never gives
// power over what another account filed into it, and filing an entry
// somewhere never hands its owner's rights to that folder's owner. It has
// no depth limit, so a share reaches every level the listings show; UNION
// keeps each folder once, which also ends a loop.
std::string RuleHolders(const std::string& start, const std::string& owner) {
    return "up(id) AS (SELECT " + start +
           " UNION SELECT up_p.parent FROM parents up_p JOIN up ON up_p.entry = up.id "
           "JOIN entries up_f ON up_f.id = up_p.parent WHERE up_f.owner = " +
           owner + ")";
}

// True for a row of `alias` (of entries) that the account ?1 may open: the
// same answer as Store::AccessOf, inside a query.
std::string MayOpen(const std::string& alias) {
    return "(" + alias + ".owner = ?1 OR EXISTS (WITH RECURSIVE " +
           RuleHolders(alias + ".id", alias + ".owner") +
           " SELECT 1 FROM up JOIN acl a ON a.entry = up.id WHERE " + RuleReaches(false) + "))";
}

StoredEntry ReadEntry(const SqliteStatement& st) {
    StoredEntry e;
    e.id = st.Text(0);
    e.kind = st.Text(1);
    e.title = st.Text(2);
    e.mime = st.Text(3);
    e.ownerEmail = st.Text(4);
    e.ownerName = st.Text(5);
    e.modifierEmail = st.Text(6);
    e.modifierName = st.Text(7);
    e.etag = st.Text(8);
    e.published = st.Int(9);
    e.updated = st.Int(10);
    e.edited = st.Int(11);
    e.size = st.Int(12);
    e.starred = st.Int(13) != 0;
    e.trashed = st.Int(14) != 0;
    e.explicitlyTrashed = st.Int(15) != 0;
    e.viewed = st.Int(16) != 0;
    e.hidden = st.Int(17) != 0;
    e.hasContent = st.Int(18) != 0;
    e.writersCanInvite = st.Int(19) != 0;
    return e;
}

// The folders an entry is in; for a viewer only those the viewer may open
// (the others' titles and ids are their owners' business), and the etag the
// viewer is given for what it is shown.
void LoadParents(SqliteDb& db, StoredEntry& e, const std::optional<std::string>& viewer) {
    SqliteStatement st(
        db, "SELECT p.parent, f.title, " +
                (viewer ? "CASE WHEN " + MayOpen("f") + " THEN 1 ELSE 0 END" : std::string("1")) +
                " FROM parents p JOIN entries f ON f.id = p.parent WHERE p.entry = ?2"
                " ORDER BY f.title, p.parent");
    st.Bind(1, viewer.value_or("")).Bind(2, e.id);
    bool someHidden = false;
    while (st.Step()) {
        if (st.Int(2) != 0) {
            e.parents.push_back({st.Text(0), st.Text(1)});
        } else {
            someHidden = true;
        }
    }
    if (viewer) e.etag = ViewerEtag(e.etag, e.starred, someHidden, e.parents);
}

// The folders of every entry of a page, in one query rather than one per
// entry; each entry's in the same order as LoadParents gives them, and its
// etag as the viewer is given it.
void LoadParents(SqliteDb& db, std::vector<StoredEntry>& entries, const std::string& viewer) {
    if (entries.empty()) return;
    std::string ids = "[";
    std::unordered_map<std::string_view, StoredEntry*> byId;
    for (auto& e : entries) {
        if (ids.size() > 1) ids += ',';
        ids += '"';
        for (const char c : e.id) {
            if (c == '"' || c == '\\') {
                ids += '\\';
                ids += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                ids += escaped;
            } else {
                ids += c;
            }
        }
        ids += '"';
        byId.emplace(e.id, &e);
    }
    ids += ']';
    SqliteStatement st(db, "SELECT p.entry, p.parent, f.title, CASE WHEN " + MayOpen("f") +
                               " THEN 1 ELSE 0 END FROM parents p "
                               "JOIN entries f ON f.id = p.parent "
                               "WHERE p.entry IN (SELECT value FROM json_each(?2)) "
                               "ORDER BY f.title, p.parent");
    st.Bind(1, viewer).Bind(2, ids);
    std::unordered_set<const StoredEntry*> someHidden;
    while (st.Step()) {
        const auto it = byId.find(st.Text(0));
        if (it == byId.end()) continue;
        if (st.Int(3) != 0) {
            it->second->parents.push_back({st.Text(1), st.Text(2)});
        } else {
            someHidden.insert(it->second);
        }
    }
    for (auto& e : entries) {
        e.etag = ViewerEtag(e.etag, e.starred, someHidden.count(&e) != 0, e.parents);
    }
}

std::string NewEtag() {
    std::string etag(1, '"');
    etag += RandomToken(16);
    etag += '"';
    return etag;
}

// Every entry below `id` (not `id` itself), walking folders.
std::vector<std::string> Descendants(SqliteDb& db, const std::string& id) {
    SqliteStatement st(db,
                       "WITH RECURSIVE below(id) AS (SELECT entry FROM parents WHERE parent = ?1 "
                       "UNION SELECT p.entry FROM parents p JOIN below b ON p.parent = b.id) "
                       "SELECT id FROM below WHERE id <> ?1");
    st.Bind(1, id);
    std::vector<std::string> ids;
    while (st.Step()) ids.push_back(st.Text(0));
    return ids;
}

std::string NormalScope(const std::string& scopeType, const std::string& scope) {
    return scopeType == "default" ? std::string() : NormalEmail(scope);
}

// Runs `sql` (which adds `column` to `table` and fills it) in one
// transaction when the column is not there yet.
void AddColumnOnce(SqliteDb& db, const char* table, const char* column, const char* sql) {
    {
        SqliteStatement st(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
        st.Bind(1, std::string(table)).Bind(2, std::string(column));
        if (st.Step()) return;
    }
    db.Exec(std::string("BEGIN IMMEDIATE;") + sql + "COMMIT;");
}

void SyncFolder(const fs::path& file) {
    const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

}  // namespace

SqliteStore::SqliteStore(const std::string& dataDir, int passwordIterations)
    : m_dataDir(dataDir), m_passwordIterations(passwordIterations) {
    // Everything here is one account holder's business: the folders are
    // private to the service's user and so are the files (0600).
    const fs::path root(dataDir);
    fs::create_directories(root / "content");
    for (const fs::path& folder : {root, root / "content"}) {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    }
    const fs::path db = root / "service.db";
    // Made private before SQLite opens it: its journal files take its mode.
    const int fd = ::open(db.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        fs::permissions(db.string() + suffix, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace, ignored);
    }
    m_db = std::make_unique<SqliteDb>(db.string());
    m_db->Exec(kSchema);
    // The steps below bring any older database up to this version; one
    // written by a newer version may hold what this one would damage.
    if (const auto version = Meta("schema-version")) {
        if (std::stoi(*version) > kSchemaVersion) {
            throw std::runtime_error(
                "The database was made by a newer version of the service (schema " + *version +
                ", this one knows " + std::to_string(kSchemaVersion) + ")");
        }
    }
    // Databases of older versions have parents without the edit time.
    bool hasOrderColumn = false;
    {
        SqliteStatement st(*m_db,
                           "SELECT 1 FROM pragma_table_info('parents') WHERE name = 'edited'");
        hasOrderColumn = st.Step();
    }
    if (!hasOrderColumn) {
        m_db->Exec(
            "BEGIN IMMEDIATE;"
            "ALTER TABLE parents ADD COLUMN edited INTEGER NOT NULL DEFAULT 0;"
            "UPDATE parents SET edited = (SELECT edited FROM entries WHERE id = parents.entry);"
            "COMMIT;");
    }
    AddColumnOnce(*m_db, "entries", "parent_count", kAddRootCount);
    AddColumnOnce(*m_db, "acl", "edited", kAddRuleOrder);
    AddColumnOnce(*m_db, "accounts", "confirmed", kAddConfirmed);
    AddColumnOnce(*m_db, "parents", "own", kAddOwnFolder);
    m_db->Exec(kListingSchema);
    if (!Meta("stars")) m_db->Exec(kOwnersStars);
    // Tokens and sessions of older versions were kept in plain text; they
    // are dropped once (their holders sign in again) and stored hashed since.
    if (!Meta("secrets")) {
        m_db->Exec("DELETE FROM tokens; DELETE FROM sessions;");
        SetMeta("secrets", "sha256");
    }
    if (auto secret = Meta("page-key")) {
        m_pageKeySecret = std::move(*secret);
    } else {
        m_pageKeySecret = RandomToken(43);
        SetMeta("page-key", m_pageKeySecret);
    }
    SetMeta("schema-version", std::to_string(kSchemaVersion));
    Reconcile();
    m_readers = std::make_unique<SqliteReaders>(db.string());
}

namespace {

// A file younger than this may belong to a write still going on in
// another service process on the folder; it is left for a later start.
constexpr auto kOthersMayStillWrite = std::chrono::hours(1);

bool RecentlyWritten(const fs::path& path) {
    std::error_code error;
    const auto written = fs::last_write_time(path, error);
    return error || fs::file_time_type::clock::now() - written < kOthersMayStillWrite;
}

bool IsTemporaryName(const std::string& name) {
    return name.rfind(".upload-", 0) == 0 || name.rfind(".export-", 0) == 0 ||
           name.find(".tmp-") != std::string::npos;
}

}  // namespace

// A write stores its file and then commits its row, and a delete commits
// before it removes files, so a crash leaves at worst a file without a row
// (or a temporary file). Those are found here; rows without files would mean
// lost data and are reported.
void SqliteStore::Reconcile() {
    const fs::path content = fs::path(m_dataDir) / "content";
    const fs::path quarantine = fs::path(m_dataDir) / "quarantine";
    // Held while this runs, so no other process starts serving meanwhile;
    // not to be had when one already serves the folder.
    const auto alone = FolderLock::TryExclusive(LiveLockPath(m_dataDir));
    std::lock_guard lock(m_mutex);
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(content)) files.push_back(e.path());
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        if (!alone && RecentlyWritten(path)) continue;
        std::error_code ignored;
        if (IsTemporaryName(name)) {
            fs::remove_all(path, ignored);
            ++m_reconciliation.removedTemporary;
            continue;
        }
        SqliteStatement st(*m_db, "SELECT 1 FROM entries WHERE id = ?1 AND has_content = 1");
        st.Bind(1, name);
        if (st.Step()) {
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::replace, ignored);
            continue;
        }
        // Kept rather than removed: a person may still want the bytes.
        fs::create_directories(quarantine, ignored);
        fs::permissions(quarantine, fs::perms::owner_all, fs::perm_options::replace, ignored);
        fs::rename(path, quarantine / name, ignored);
        m_reconciliation.quarantined.push_back(name);
    }
    SqliteStatement rows(*m_db, "SELECT id FROM entries WHERE has_content = 1");
    while (rows.Step()) {
        const std::string id = rows.Text(0);
        if (!fs::exists(content / id)) m_reconciliation.missing.push_back(id);
    }
}

std::vector<std::string> SqliteStore::CheckConsistency() {
    std::vector<std::string> problems;
    const fs::path content = fs::path(m_dataDir) / "content";
    std::lock_guard lock(m_mutex);
    {
        SqliteStatement st(*m_db, "PRAGMA integrity_check");
        while (st.Step()) {
            if (st.Text(0) != "ok") problems.push_back("integrity: " + st.Text(0));
        }
    }
    {
        SqliteStatement st(*m_db, "PRAGMA foreign_key_check");
        while (st.Step()) problems.push_back("foreign key: " + st.Text(0));
    }
    {
        SqliteStatement st(*m_db,
                           "SELECT p.entry, p.parent FROM parents p JOIN entries e "
                           "ON e.id = p.entry WHERE p.edited <> e.edited");
        while (st.Step()) {
            problems.push_back("folder order out of date: " + st.Text(0) + " in " + st.Text(1));
        }
    }
    {
        SqliteStatement st(*m_db,
                           "SELECT id FROM entries e WHERE parent_count <> "
                           "(SELECT count(*) FROM parents p JOIN entries f ON f.id = p.parent "
                           "WHERE p.entry = e.id AND f.owner = e.owner)");
        while (st.Step()) problems.push_back("root order out of date: " + st.Text(0));
    }
    {
        SqliteStatement st(*m_db,
                           "SELECT a.entry, a.scope FROM acl a JOIN entries e "
                           "ON e.id = a.entry WHERE a.edited <> e.edited");
        while (st.Step()) {
            problems.push_back("shared order out of date: " + st.Text(0) + " for " + st.Text(1));
        }
    }
    for (const auto& e : fs::directory_iterator(content)) {
        const std::string name = e.path().filename().string();
        SqliteStatement st(*m_db, "SELECT 1 FROM entries WHERE id = ?1 AND has_content = 1");
        st.Bind(1, name);
        if (!st.Step()) problems.push_back("file without entry: " + name);
    }
    SqliteStatement rows(*m_db, "SELECT id FROM entries WHERE has_content = 1");
    while (rows.Step()) {
        if (!fs::exists(content / rows.Text(0))) {
            problems.push_back("entry without content: " + rows.Text(0));
        }
    }
    return problems;
}

SqliteStore::~SqliteStore() = default;

std::string SqliteStore::ContentPath(const std::string& id) const {
    return (fs::path(m_dataDir) / "content" / id).string();
}

void SqliteStore::AddAccount(const std::string& rawEmail, std::string_view password,
                             const std::string& displayName) {
    const auto [email, salt, hash] = MakeCredentials(rawEmail, password, m_passwordIterations);
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "INSERT INTO accounts(email, name, salt, hash, iterations, confirmed) "
                       "VALUES(?1, ?2, ?3, ?4, ?5, 1) ON CONFLICT(email) DO UPDATE SET "
                       "salt = excluded.salt, hash = excluded.hash, "
                       "iterations = excluded.iterations, failures = 0, confirmed = 1");
    st.Bind(1, email).Bind(2, displayName).BindBlob(3, salt).BindBlob(4, hash);
    st.Bind(5, std::int64_t{m_passwordIterations});
    st.Run();
    // A new password ends every sign-in made with the old one.
    SqliteStatement tokens(*m_db, "DELETE FROM tokens WHERE email = ?1");
    tokens.Bind(1, email).Run();
    SqliteStatement sessions(*m_db, "DELETE FROM sessions WHERE email = ?1");
    sessions.Bind(1, email).Run();
}

bool SqliteStore::CreateAccount(const std::string& rawEmail, std::string_view password,
                                const std::string& displayName) {
    const auto [email, salt, hash] = MakeCredentials(rawEmail, password, m_passwordIterations);
    std::lock_guard lock(m_mutex);
    // One statement, so two forms sent at once cannot both take the address.
    // Unconfirmed until its holder shows the mailbox is theirs.
    SqliteStatement st(*m_db,
                       "INSERT INTO accounts(email, name, salt, hash, iterations, confirmed) "
                       "VALUES(?1, ?2, ?3, ?4, ?5, 0) ON CONFLICT(email) DO NOTHING");
    st.Bind(1, email).Bind(2, displayName).BindBlob(3, salt).BindBlob(4, hash);
    st.Bind(5, std::int64_t{m_passwordIterations});
    st.Run();
    return m_db->Changes() == 1;
}

std::string SqliteStore::IssueAddressProof(const std::string& rawEmail) {
    const std::string email = NormalEmail(rawEmail);
    const std::string token = RandomToken(43);
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "INSERT INTO address_proofs(email, token, expires) VALUES(?1, ?2, ?3) "
                       "ON CONFLICT(email) DO UPDATE SET token = excluded.token, "
                       "expires = excluded.expires");
    st.Bind(1, email).Bind(2, Sha256Hex(token)).Bind(3, NowMillis() + kAddressProofLifetimeMs);
    st.Run();
    return token;
}

std::optional<std::string> SqliteStore::ProveAddress(const std::string& token) {
    if (token.empty()) return std::nullopt;
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    std::string email;
    {
        SqliteStatement st(*m_db,
                           "SELECT email FROM address_proofs WHERE token = ?1 AND expires > ?2");
        st.Bind(1, Sha256Hex(token)).Bind(2, NowMillis());
        if (!st.Step()) return std::nullopt;
        email = st.Text(0);
    }
    SqliteStatement confirm(*m_db, "UPDATE accounts SET confirmed = 1 WHERE email = ?1");
    confirm.Bind(1, email).Run();
    SqliteStatement used(*m_db, "DELETE FROM address_proofs WHERE email = ?1");
    used.Bind(1, email).Run();
    tx.Commit();
    return email;
}

bool SqliteStore::ConfirmAccount(const std::string& rawEmail) {
    const std::string email = NormalEmail(rawEmail);
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    SqliteStatement confirm(*m_db, "UPDATE accounts SET confirmed = 1 WHERE email = ?1");
    confirm.Bind(1, email).Run();
    if (m_db->Changes() == 0) return false;
    SqliteStatement used(*m_db, "DELETE FROM address_proofs WHERE email = ?1");
    used.Bind(1, email).Run();
    tx.Commit();
    return true;
}

bool SqliteStore::AccountConfirmed(const std::string& email) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader, "SELECT confirmed FROM accounts WHERE email = ?1");
    st.Bind(1, NormalEmail(email));
    return st.Step() && st.Int(0) != 0;
}

bool SqliteStore::AccountExists(const std::string& email) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader, "SELECT 1 FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step();
}

std::string SqliteStore::DisplayName(const std::string& email) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader, "SELECT name FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step() ? st.Text(0) : email;
}

PasswordCheck SqliteStore::CheckPassword(const std::string& email, std::string_view password) {
    std::vector<unsigned char> salt, hash;
    std::int64_t iterations = 0;
    bool disabled = false;
    {
        std::lock_guard lock(m_mutex);
        SqliteStatement st(
            *m_db, "SELECT salt, hash, iterations, disabled FROM accounts WHERE email = ?1");
        st.Bind(1, email);
        if (!st.Step()) {
            // As slow as a real check, so timing tells no one which
            // addresses have accounts.
            static const std::vector<unsigned char> kSalt(16, 0x5a);
            (void)HashPassword(password, kSalt, m_passwordIterations);
            return PasswordCheck::NoAccount;
        }
        salt = st.Blob(0);
        hash = st.Blob(1);
        iterations = st.Int(2);
        disabled = st.Int(3) != 0;
    }
    // Hashing runs outside the lock: it is slow on purpose.
    if (!SameBytes(HashPassword(password, salt, static_cast<int>(iterations)), hash)) {
        return PasswordCheck::BadPassword;
    }
    return disabled ? PasswordCheck::Disabled : PasswordCheck::Ok;
}

void SqliteStore::SetDisabled(const std::string& email, bool disabled) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "UPDATE accounts SET disabled = ?2 WHERE email = ?1");
    st.Bind(1, email).Bind(2, std::int64_t{disabled ? 1 : 0}).Run();
}

void SqliteStore::RecordFailure(const std::string& email) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "UPDATE accounts SET failures = failures + 1, "
                       "captcha = CASE WHEN failures + 1 >= 3 THEN 1 ELSE captcha END "
                       "WHERE email = ?1");
    st.Bind(1, email).Run();
}

void SqliteStore::ClearFailures(const std::string& email) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "UPDATE accounts SET failures = 0, captcha = 0 WHERE email = ?1");
    st.Bind(1, email).Run();
}

bool SqliteStore::CaptchaRequired(const std::string& email) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader, "SELECT captcha FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step() && st.Int(0) != 0;
}

void SqliteStore::SetCaptchaRequired(const std::string& email, bool required) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "UPDATE accounts SET captcha = ?2, "
                       "failures = CASE WHEN ?2 = 0 THEN 0 ELSE failures END WHERE email = ?1");
    st.Bind(1, email).Bind(2, std::int64_t{required ? 1 : 0}).Run();
}

// The `created` columns hold the time of last use: a token or session in
// use stays valid, one left alone ends after kTokenLifetimeMs. The time is
// written again at most once an hour, not on every request.
constexpr std::int64_t kRenewAfterMs = 60 * 60 * 1000;

std::string SqliteStore::IssueToken(const std::string& email, const std::string& service) {
    const std::string token = RandomToken(64);
    const std::int64_t now = NowMillis();
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    SqliteStatement old(*m_db, "DELETE FROM tokens WHERE created < ?1");
    old.Bind(1, now - kTokenLifetimeMs).Run();
    SqliteStatement st(*m_db,
                       "INSERT INTO tokens(token, email, service, created) VALUES(?1, ?2, ?3, ?4)");
    st.Bind(1, Sha256Hex(token)).Bind(2, email).Bind(3, service).Bind(4, now).Run();
    tx.Commit();
    return token;
}

std::optional<std::string> SqliteStore::TokenOwner(const std::string& token,
                                                   const std::string& service) {
    const std::string hash = Sha256Hex(token);
    const std::int64_t now = NowMillis();
    std::string owner;
    std::int64_t created = 0;
    {
        const auto reader = m_readers->Take();
        SqliteStatement st(*reader,
                           "SELECT t.email, t.created FROM tokens t JOIN accounts a ON a.email = "
                           "t.email WHERE t.token = ?1 AND t.service = ?2 AND a.disabled = 0 "
                           "AND t.created >= ?3");
        st.Bind(1, hash).Bind(2, service).Bind(3, now - kTokenLifetimeMs);
        if (!st.Step()) return std::nullopt;
        owner = st.Text(0);
        created = st.Int(1);
    }
    // Only the rare renewal writes, so checking a token does not queue
    // behind changes.
    if (now - created > kRenewAfterMs) {
        std::lock_guard lock(m_mutex);
        SqliteStatement renew(*m_db, "UPDATE tokens SET created = ?2 WHERE token = ?1");
        renew.Bind(1, hash).Bind(2, now).Run();
    }
    return owner;
}

SqliteStore::Session SqliteStore::CreateSession(const std::string& email) {
    Session session{RandomToken(48), RandomToken(24)};
    const std::int64_t now = NowMillis();
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    SqliteStatement old(*m_db, "DELETE FROM sessions WHERE created < ?1");
    old.Bind(1, now - kTokenLifetimeMs).Run();
    SqliteStatement st(*m_db,
                       "INSERT INTO sessions(sid, hsid, email, created) VALUES(?1, ?2, ?3, ?4)");
    st.Bind(1, Sha256Hex(session.sid)).Bind(2, Sha256Hex(session.hsid)).Bind(3, email);
    st.Bind(4, now).Run();
    tx.Commit();
    return session;
}

void SqliteStore::EndSession(const std::string& sid) {
    // Sessions are kept by the hash of their id, like tokens.
    const std::string sidHash = Sha256Hex(sid);
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "DELETE FROM sessions WHERE sid = ?1");
    st.Bind(1, sidHash).Run();
}

std::optional<std::string> SqliteStore::SessionOwner(const std::string& sid,
                                                     const std::string& hsid) {
    const std::string sidHash = Sha256Hex(sid);
    const std::int64_t now = NowMillis();
    std::string owner;
    std::int64_t created = 0;
    {
        const auto reader = m_readers->Take();
        SqliteStatement st(*reader,
                           "SELECT s.email, s.created FROM sessions s JOIN accounts a ON a.email = "
                           "s.email WHERE s.sid = ?1 AND s.hsid = ?2 AND a.disabled = 0 "
                           "AND s.created >= ?3");
        st.Bind(1, sidHash).Bind(2, Sha256Hex(hsid)).Bind(3, now - kTokenLifetimeMs);
        if (!st.Step()) return std::nullopt;
        owner = st.Text(0);
        created = st.Int(1);
    }
    if (now - created > kRenewAfterMs) {
        std::lock_guard lock(m_mutex);
        SqliteStatement renew(*m_db, "UPDATE sessions SET created = ?2 WHERE sid = ?1");
        renew.Bind(1, sidHash).Bind(2, now).Run();
    }
    return owner;
}

void SqliteStore::AgeSecretsForTest(std::int64_t millis) {
    std::lock_guard lock(m_mutex);
    SqliteStatement t(*m_db, "UPDATE tokens SET created = created - ?1");
    t.Bind(1, millis).Run();
    SqliteStatement s(*m_db, "UPDATE sessions SET created = created - ?1");
    s.Bind(1, millis).Run();
    SqliteStatement p(*m_db, "UPDATE address_proofs SET expires = expires - ?1");
    p.Bind(1, millis).Run();
}

std::optional<StoredEntry> SqliteStore::FindLocked(SqliteDb& db, const std::string& id,
                                                   const std::optional<std::string>& viewer) {
    SqliteStatement st(db,
                       std::string("SELECT ") + kEntryColumns + kEntryJoins + " WHERE e.id = ?2");
    st.Bind(1, viewer.value_or("")).Bind(2, id);
    if (!st.Step()) return std::nullopt;
    StoredEntry e = ReadEntry(st);
    LoadParents(db, e, viewer);
    return e;
}

StoredEntry SqliteStore::LoadLocked(const std::string& id,
                                    const std::optional<std::string>& viewer) {
    auto e = FindLocked(*m_db, id, viewer);
    if (!e) throw std::runtime_error("Entry vanished: " + id);
    return *e;
}

std::optional<StoredEntry> SqliteStore::GetEntry(const std::string& id) {
    const auto reader = m_readers->Take();
    return FindLocked(*reader, id, std::nullopt);
}

std::optional<StoredEntry> SqliteStore::GetEntryFor(const std::string& viewer,
                                                    const std::string& id) {
    const auto reader = m_readers->Take();
    return FindLocked(*reader, id, viewer);
}

Access SqliteStore::AccessOf(const std::string& user, const std::string& id) {
    const auto reader = m_readers->Take();
    // An account's own entry, by far the most common question, needs no
    // walk; what the walk below would find first anyway.
    {
        SqliteStatement own(*reader, "SELECT owner = ?1 FROM entries WHERE id = ?2");
        own.Bind(1, user).Bind(2, id);
        if (!own.Step()) return Access::None;
        if (own.Int(0) != 0) return Access::Own;
    }
    SqliteStatement st(*reader,
                       "WITH RECURSIVE " +
                           RuleHolders("?2", "(SELECT owner FROM entries WHERE id = ?2)") +
                           " SELECT e.owner = ?1, "
                           "(SELECT max(CASE a.role WHEN 'reader' THEN 1 ELSE 2 END) FROM acl a "
                           " WHERE a.entry = e.id AND " +
                           RuleReaches(false) + ") FROM up JOIN entries e ON e.id = up.id");
    st.Bind(1, user).Bind(2, id);
    Access best = Access::None;
    while (st.Step()) {
        if (st.Int(0) != 0) return Access::Own;
        const auto role = st.OptText(1);
        if (!role) continue;
        if (*role == "2") {
            best = Access::Write;
        } else if (best == Access::None) {
            best = Access::Read;
        }
    }
    return best;
}

bool SqliteStore::IsSelfOrBelow(const std::string& id, const std::string& candidate) {
    if (id == candidate) return true;
    const auto reader = m_readers->Take();
    const auto below = Descendants(*reader, id);
    return std::find(below.begin(), below.end(), candidate) != below.end();
}

void SqliteStore::SetWritersCanInvite(const std::string& id, bool allowed) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "UPDATE entries SET writers_can_invite = ?2 WHERE id = ?1");
    st.Bind(1, id).Bind(2, std::int64_t{allowed ? 1 : 0}).Run();
}

namespace {

// The conditions every listing shares: trash, kind, words in the title and
// the place to start after, on the order columns `edited` and `id`.
void AppendListFilters(std::string& sql, const ListQuery& q, const char* edited, const char* id) {
    sql += q.scope == ListScope::Trashed ? " AND e.trashed = 1" : " AND e.trashed = 0";
    if (!q.kind.empty()) {
        sql += " AND e.kind = ?3";
    } else if (!q.includeFolders) {
        sql += " AND e.kind <> 'folder'";
    }
    for (std::size_t i = 0; i < q.words.size(); ++i) {
        sql += " AND instr(lower(e.title), lower(?" + std::to_string(10 + i) + ")) > 0";
    }
    // One comparison of the pair, so that SQLite starts the index scan at
    // the place instead of reading the pages before it.
    if (q.after) sql += std::string(" AND (") + edited + ", " + id + ") < (?6, ?7)";
}

// The root folder: the owner's entries in no folder, through the partial
// index entries_root_order (its conditions are repeated word for word so
// that SQLite may use it).
std::string RootListingSql(const ListQuery& q) {
    std::string sql = std::string("SELECT ") + kEntryColumns + kInAnyFolder + kEntryJoins +
                      " WHERE e.owner = ?1 AND e.parent_count = 0";
    AppendListFilters(sql, q, "e.edited", "e.id");
    return sql + " ORDER BY e.edited DESC, e.id DESC LIMIT ?4 OFFSET ?5";
}

// Shared with the reader: the rules naming the reader's address, and those
// naming a group the reader belongs to, each read in listing order from
// acl_listed_order and merged; UNION drops an entry that both reach.
std::string SharedListingSql(const ListQuery& q) {
    // The id and the edit time come from the rule's row (they equal the
    // entry's), so that each arm's order is the index's and the merge
    // reads only as far as the page goes instead of sorting everything.
    std::string columns = kEntryColumns;
    columns.replace(columns.find("e.edited"), 8, "a.edited");
    columns.replace(0, 4, "a.entry");
    columns += kInAnyFolder;
    const auto arm = [&q, &columns](const std::string& scope) {
        std::string sql = "SELECT " + columns +
                          " FROM acl a JOIN entries e ON e.id = a.entry"
                          " LEFT JOIN accounts o ON o.email = e.owner"
                          " LEFT JOIN accounts m ON m.email = e.modified_by WHERE " +
                          scope + " AND a.role <> 'owner' AND e.owner <> ?1";
        AppendListFilters(sql, q, "a.edited", "a.entry");
        return sql;
    };
    // Result columns 12 and 1 are the edit time and the id.
    return arm(UserRuleReaches()) + " UNION " + arm(GroupRuleReaches()) +
           " ORDER BY 12 DESC, 1 DESC LIMIT ?4 OFFSET ?5";
}

// Every other listing: a folder's contents through its rows in parents
// (index parents_order), the account's stars through theirs, the rest
// through entries.
std::string ListingSql(const ListQuery& q) {
    if (q.scope == ListScope::Root) return RootListingSql(q);
    if (q.scope == ListScope::SharedWithMe) return SharedListingSql(q);
    const bool inFolder = q.scope == ListScope::Folder;
    const char* edited = inFolder ? "p.edited" : "e.edited";
    const char* id = inFolder ? "p.entry" : "e.id";
    std::string sql = std::string("SELECT ") + kEntryColumns + kInAnyFolder;
    if (inFolder) {
        // Anyone may file what they can change into a folder of theirs, so a
        // folder can hold entries that some of its readers may not open:
        // those are left out. What the folder's owner owns is reached
        // through the folder itself, which the caller has checked.
        sql +=
            " FROM parents p JOIN entries e ON e.id = p.entry"
            " LEFT JOIN accounts o ON o.email = e.owner"
            " LEFT JOIN accounts m ON m.email = e.modified_by WHERE p.parent = ?2"
            " AND (e.owner = (SELECT owner FROM entries WHERE id = ?2) OR " +
            MayOpen("e") + ")";
    } else if (q.scope == ListScope::Starred) {
        sql += std::string(" FROM stars s JOIN entries e ON e.id = s.entry") +
               " LEFT JOIN accounts o ON o.email = e.owner"
               " LEFT JOIN accounts m ON m.email = e.modified_by WHERE s.account = ?1 AND " +
               MayOpen("e");
    } else {
        sql += std::string(kEntryJoins) + " WHERE ";
    }
    const std::string shared =
        "EXISTS (SELECT 1 FROM acl a WHERE a.entry = e.id AND " + RuleReaches(true) + ")";
    switch (q.scope) {
        case ListScope::All:
            sql += "(e.owner = ?1 OR " + shared + ")";
            break;
        case ListScope::Mine:
        case ListScope::Trashed:
            sql += "e.owner = ?1";
            break;
        case ListScope::Starred:
        case ListScope::Folder:
        case ListScope::Root:
        case ListScope::SharedWithMe:
            break;
    }
    AppendListFilters(sql, q, edited, id);
    return sql + " ORDER BY " + edited + " DESC, " + id + " DESC LIMIT ?4 OFFSET ?5";
}

}  // namespace

ListResult SqliteStore::List(const ListQuery& q) {
    const std::string sql = ListingSql(q);
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader, sql);
    st.Bind(1, q.user);
    if (q.scope == ListScope::Folder) st.Bind(2, q.folderId);
    if (!q.kind.empty()) st.Bind(3, q.kind);
    st.Bind(4, q.limit + 1).Bind(5, q.offset);
    if (q.after) st.Bind(6, q.after->edited).Bind(7, q.after->id);
    for (std::size_t i = 0; i < q.words.size(); ++i) {
        st.Bind(static_cast<int>(10 + i), q.words[i]);
    }
    ListResult result;
    bool inFolders = false;
    while (st.Step()) {
        if (static_cast<std::int64_t>(result.entries.size()) == q.limit) {
            result.more = true;
            break;
        }
        result.entries.push_back(ReadEntry(st));
        inFolders = inFolders || st.Int(kInAnyFolderColumn) != 0;
    }
    if (inFolders) {
        LoadParents(*reader, result.entries, q.user);
    } else {
        // No folders to load, but the reader's own star still marks the etag.
        for (auto& e : result.entries) e.etag = ViewerEtag(e.etag, e.starred, false, e.parents);
    }
    return result;
}

StoredEntry SqliteStore::Create(const std::string& owner, const NewEntry& n) {
    const std::string id = n.id.empty() ? RandomToken(28) : n.id;
    const std::int64_t now = n.time ? n.time : NowMillis();
    // Bytes given in memory become a synced temporary file first, so both
    // kinds of content take the same path below.
    std::string source = n.contentFile;
    std::string ownTemp;
    if (n.content) {
        ownTemp = (fs::path(m_dataDir) / "content" / (".upload-" + RandomToken(24))).string();
        WriteFileAtomically(ownTemp, *n.content, true);
        source = ownTemp;
    }
    struct RemoveOnExit {
        std::string path;
        ~RemoveOnExit() {
            if (!path.empty()) ::unlink(path.c_str());
        }
    } cleanup{ownTemp};
    const bool hasContent = !source.empty();
    const std::int64_t size = hasContent ? static_cast<std::int64_t>(fs::file_size(source)) : 0;
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    // The folders may have gone while an upload was arriving.
    for (const auto& parent : n.parents) {
        SqliteStatement f(*m_db, "SELECT 1 FROM entries WHERE id = ?1 AND kind = 'folder'");
        f.Bind(1, parent);
        if (!f.Step()) throw FolderGone();
    }
    if (n.quotaBytes && hasContent) {
        SqliteStatement used(*m_db,
                             "SELECT COALESCE(SUM(size), 0) FROM entries WHERE owner = ?1 "
                             "AND has_content = 1");
        used.Bind(1, owner);
        if (used.Step() && used.Int(0) + size > *n.quotaBytes) throw QuotaExceeded();
    }
    SqliteStatement st(*m_db,
                       "INSERT INTO entries(id, kind, title, mime, owner, modified_by, etag, "
                       "published, updated, edited, size, has_content, trashed, "
                       "explicit_trash, viewed) "
                       "VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6, ?7, ?7, ?7, ?8, ?9, ?11, ?11, ?12)");
    st.Bind(1, id).Bind(2, n.kind).Bind(3, n.title).Bind(4, n.mime).Bind(5, owner);
    st.Bind(6, NewEtag()).Bind(7, now);
    st.Bind(8, size);
    st.Bind(9, std::int64_t{hasContent ? 1 : 0});
    st.Bind(11, std::int64_t{n.trashed ? 1 : 0}).Bind(12, std::int64_t{n.viewed ? 1 : 0});
    st.Run();
    if (n.starred) {
        SqliteStatement star(*m_db, "INSERT INTO stars(account, entry) VALUES(?1, ?2)");
        star.Bind(1, owner).Bind(2, id).Run();
    }
    for (const auto& parent : n.parents) {
        SqliteStatement p(*m_db, "INSERT OR IGNORE INTO parents(entry, parent) VALUES(?1, ?2)");
        p.Bind(1, id).Bind(2, parent).Run();
    }
    SqliteStatement acl(*m_db,
                        "INSERT INTO acl(entry, scope_type, scope, role) "
                        "VALUES(?1, 'user', ?2, 'owner')");
    acl.Bind(1, id).Bind(2, owner).Run();
    // Made inside a folder of another account (by one of its writers): the
    // folder's owner may open and change it, or the folder would hold what
    // its own owner cannot see.
    for (const auto& parent : n.parents) {
        SqliteStatement given(*m_db,
                              "INSERT OR IGNORE INTO acl(entry, scope_type, scope, role) "
                              "SELECT ?1, 'user', owner, 'writer' FROM entries "
                              "WHERE id = ?2 AND owner <> ?3");
        given.Bind(1, id).Bind(2, parent).Bind(3, owner).Run();
    }
    // The file moves into place inside the transaction: a failure before the
    // commit takes it away again, a crash between the two leaves a file
    // without a row, which the next start puts aside.
    if (hasContent) {
        if (::rename(source.c_str(), ContentPath(id).c_str()) != 0) {
            throw std::runtime_error("Cannot store the content of " + id);
        }
        cleanup.path.clear();
        SyncFolder(ContentPath(id));
        try {
            tx.Commit();
        } catch (...) {
            ::unlink(ContentPath(id).c_str());
            throw;
        }
    } else {
        tx.Commit();
    }
    return LoadLocked(id, owner);
}

std::optional<StoredEntry> SqliteStore::ReplaceContent(const std::string& id,
                                                       const std::string& editor,
                                                       const std::string& contentFile,
                                                       const std::string& ifMatch) {
    const auto size = static_cast<std::int64_t>(fs::file_size(contentFile));
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    {
        // Against the etag the editor was given, not another account's.
        const auto now = FindLocked(*m_db, id, editor);
        if (!now || !now->hasContent) {
            throw std::runtime_error("No stored content to replace: " + id);
        }
        if (ifMatch != "*" && now->etag != ifMatch) return std::nullopt;
    }
    SqliteStatement st(*m_db,
                       "UPDATE entries SET size = ?2, updated = ?3, edited = ?3, modified_by = ?4, "
                       "etag = ?5 WHERE id = ?1");
    st.Bind(1, id).Bind(2, size).Bind(3, NowMillis()).Bind(4, editor).Bind(5, NewEtag()).Run();
    // The old bytes keep a second, temporary name until the commit, so a
    // failed commit puts them back.
    const std::string target = ContentPath(id);
    const std::string kept =
        (fs::path(m_dataDir) / "content" / (".upload-" + RandomToken(24))).string();
    if (::link(target.c_str(), kept.c_str()) != 0)
        throw std::runtime_error("Cannot keep the old content of " + id);
    if (::rename(contentFile.c_str(), target.c_str()) != 0) {
        ::unlink(kept.c_str());
        throw std::runtime_error("Cannot store the content of " + id);
    }
    SyncFolder(target);
    try {
        tx.Commit();
    } catch (...) {
        ::rename(kept.c_str(), target.c_str());
        throw;
    }
    ::unlink(kept.c_str());
    return LoadLocked(id, editor);
}

std::optional<StoredEntry> SqliteStore::Update(const std::string& id, const std::string& editor,
                                               const std::optional<std::string>& title,
                                               const std::optional<bool>& starred,
                                               const std::string& ifMatch) {
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    {
        // Against the etag the editor was given, not another account's.
        const auto now = FindLocked(*m_db, id, editor);
        if (!now) throw std::runtime_error("No such entry: " + id);
        if (ifMatch != "*" && now->etag != ifMatch) return std::nullopt;
    }
    const std::int64_t now = NowMillis();
    if (title) {
        SqliteStatement st(*m_db,
                           "UPDATE entries SET title = ?2, updated = ?3, modified_by = ?4 "
                           "WHERE id = ?1");
        st.Bind(1, id).Bind(2, *title).Bind(3, now).Bind(4, editor).Run();
    }
    // A star is the editor's own label, not a change of the entry: it moves
    // the entry in nobody's listing and leaves the stored etag, so nobody
    // else's copy goes stale; the editor's own etag carries the star.
    if (starred) {
        SqliteStatement st(*m_db, *starred
                                      ? "INSERT OR IGNORE INTO stars(account, entry) VALUES(?1, ?2)"
                                      : "DELETE FROM stars WHERE account = ?1 AND entry = ?2");
        st.Bind(1, editor).Bind(2, id).Run();
    }
    if (title || !starred) {
        SqliteStatement st(*m_db, "UPDATE entries SET etag = ?2, edited = ?3 WHERE id = ?1");
        st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    }
    tx.Commit();
    return LoadLocked(id, editor);
}

StoredEntry SqliteStore::AddParent(const std::string& id, const std::string& folderId) {
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    // Checked again here, under the writer: a check made before the call
    // may be stale when two requests file two folders into each other.
    const auto below = Descendants(*m_db, id);
    if (folderId == id || std::find(below.begin(), below.end(), folderId) != below.end()) {
        throw WouldCycle();
    }
    SqliteStatement p(*m_db, "INSERT OR IGNORE INTO parents(entry, parent) VALUES(?1, ?2)");
    p.Bind(1, id).Bind(2, folderId).Run();
    SqliteStatement st(*m_db, "UPDATE entries SET etag = ?2, edited = ?3 WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, NowMillis()).Run();
    tx.Commit();
    return LoadLocked(id, std::nullopt);
}

bool SqliteStore::RemoveParent(const std::string& id, const std::string& folderId) {
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    SqliteStatement p(*m_db, "DELETE FROM parents WHERE entry = ?1 AND parent = ?2");
    p.Bind(1, id).Bind(2, folderId).Run();
    if (m_db->Changes() == 0) return false;
    SqliteStatement st(*m_db, "UPDATE entries SET etag = ?2, edited = ?3 WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, NowMillis()).Run();
    tx.Commit();
    return true;
}

void SqliteStore::Trash(const std::string& id) {
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    const std::int64_t now = NowMillis();
    SqliteStatement st(*m_db,
                       "UPDATE entries SET trashed = 1, explicit_trash = 1, etag = ?2, "
                       "edited = ?3 WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    SqliteStatement owner(*m_db, "SELECT owner FROM entries WHERE id = ?1");
    owner.Bind(1, id);
    const std::string ownerEmail = owner.Step() ? owner.Text(0) : std::string();
    for (const auto& child : Descendants(*m_db, id)) {
        SqliteStatement c(*m_db,
                          "UPDATE entries SET trashed = 1, etag = ?2, edited = ?3 "
                          "WHERE id = ?1 AND owner = ?4 AND trashed = 0");
        c.Bind(1, child).Bind(2, NewEtag()).Bind(3, now).Bind(4, ownerEmail).Run();
    }
    tx.Commit();
}

void SqliteStore::Restore(const std::string& id) {
    std::lock_guard lock(m_mutex);
    SqliteTransaction tx(*m_db);
    const std::int64_t now = NowMillis();
    SqliteStatement st(*m_db,
                       "UPDATE entries SET trashed = 0, explicit_trash = 0, etag = ?2, "
                       "edited = ?3 WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    for (const auto& child : Descendants(*m_db, id)) {
        SqliteStatement c(*m_db,
                          "UPDATE entries SET trashed = 0, etag = ?2, edited = ?3 "
                          "WHERE id = ?1 AND trashed = 1 AND explicit_trash = 0");
        c.Bind(1, child).Bind(2, NewEtag()).Bind(3, now).Run();
    }
    tx.Commit();
}

void SqliteStore::Delete(const std::string& id) {
    std::vector<std::string> removed;
    {
        std::lock_guard lock(m_mutex);
        SqliteTransaction tx(*m_db);
        // Only what the folder's owner owns goes; entries of other accounts
        // below it lose this parent and stay theirs. Children that also sit
        // in another folder survive there.
        std::string owner;
        {
            SqliteStatement o(*m_db, "SELECT owner FROM entries WHERE id = ?1");
            o.Bind(1, id);
            if (o.Step()) owner = o.Text(0);
        }
        std::vector<std::string> candidates;
        for (auto& below : Descendants(*m_db, id)) {
            SqliteStatement o(*m_db, "SELECT 1 FROM entries WHERE id = ?1 AND owner = ?2");
            o.Bind(1, below).Bind(2, owner);
            if (o.Step()) candidates.push_back(std::move(below));
        }
        removed.push_back(id);
        SqliteStatement del(*m_db, "DELETE FROM entries WHERE id = ?1");
        del.Bind(1, id).Run();
        bool changed = true;
        while (changed) {
            changed = false;
            for (auto it = candidates.begin(); it != candidates.end();) {
                SqliteStatement orphan(*m_db, "SELECT 1 FROM parents WHERE entry = ?1");
                orphan.Bind(1, *it);
                if (!orphan.Step()) {
                    SqliteStatement d(*m_db, "DELETE FROM entries WHERE id = ?1");
                    d.Bind(1, *it).Run();
                    removed.push_back(*it);
                    it = candidates.erase(it);
                    changed = true;
                } else {
                    ++it;
                }
            }
        }
        tx.Commit();
    }
    // Only after the commit: a crash before it must still find the content.
    for (const auto& gone : removed) {
        std::error_code ignored;
        fs::remove(ContentPath(gone), ignored);
    }
}

void SqliteStore::AddAclRule(const std::string& id, const std::string& scopeType,
                             const std::string& rawScope, const std::string& role) {
    const std::string scope = NormalScope(scopeType, rawScope);
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "INSERT INTO acl(entry, scope_type, scope, role) VALUES(?1, ?2, ?3, ?4) "
                       "ON CONFLICT(entry, scope_type, scope) DO UPDATE SET role = excluded.role");
    st.Bind(1, id).Bind(2, scopeType).Bind(3, scope).Bind(4, role).Run();
}

std::vector<SqliteStore::AclRow> SqliteStore::AclRules(const std::string& id) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader,
                       "SELECT scope_type, scope, role FROM acl WHERE entry = ?1 "
                       "ORDER BY role <> 'owner', rowid");
    st.Bind(1, id);
    std::vector<AclRow> rows;
    while (st.Step()) rows.push_back({st.Text(0), st.Text(1), st.Text(2)});
    return rows;
}

std::optional<SqliteStore::AclRow> SqliteStore::FindAclRule(const std::string& id,
                                                            const std::string& scopeType,
                                                            const std::string& rawScope) {
    const std::string scope = NormalScope(scopeType, rawScope);
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader,
                       "SELECT role FROM acl WHERE entry = ?1 AND scope_type = ?2 AND scope = ?3");
    st.Bind(1, id).Bind(2, scopeType).Bind(3, scope);
    if (!st.Step()) return std::nullopt;
    return AclRow{scopeType, scope, st.Text(0)};
}

bool SqliteStore::RemoveAclRule(const std::string& id, const std::string& scopeType,
                                const std::string& rawScope) {
    const std::string scope = NormalScope(scopeType, rawScope);
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "DELETE FROM acl WHERE entry = ?1 AND scope_type = ?2 AND scope = ?3 "
                       "AND role <> 'owner'");
    st.Bind(1, id).Bind(2, scopeType).Bind(3, scope).Run();
    return m_db->Changes() > 0;
}

void SqliteStore::AddGroupMember(const std::string& group, const std::string& member) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "INSERT OR IGNORE INTO group_members(grp, member) VALUES(?1, ?2)");
    st.Bind(1, NormalEmail(group)).Bind(2, NormalEmail(member)).Run();
}

std::int64_t SqliteStore::UsageBytes(const std::string& owner) {
    const auto reader = m_readers->Take();
    SqliteStatement st(*reader,
                       "SELECT COALESCE(SUM(size), 0) FROM entries WHERE owner = ?1 "
                       "AND has_content = 1");
    st.Bind(1, owner);
    return st.Step() ? st.Int(0) : 0;
}

std::optional<std::string> SqliteStore::Meta(const std::string& key) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db, "SELECT value FROM meta WHERE key = ?1");
    st.Bind(1, key);
    if (!st.Step()) return std::nullopt;
    return st.Text(0);
}

void SqliteStore::SetMeta(const std::string& key, const std::string& value) {
    std::lock_guard lock(m_mutex);
    SqliteStatement st(*m_db,
                       "INSERT INTO meta(key, value) VALUES(?1, ?2) "
                       "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    st.Bind(1, key).Bind(2, value).Run();
}

}  // namespace tallowdesk::server
