#include "PgStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "Crypto.h"
#include "FolderLock.h"
#include "Limits.h"

namespace tallowdesk::server {

namespace fs = std::filesystem;

namespace {

// Each step brings a database of the version before it to its own version;
// the version reached is kept in the table schema_version. Steps are only
// ever added at the end.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE accounts (
  email TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  salt BYTEA NOT NULL,
  hash BYTEA NOT NULL,
  iterations BIGINT NOT NULL,
  disabled INTEGER NOT NULL DEFAULT 0,
  failures INTEGER NOT NULL DEFAULT 0,
  captcha INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE entries (
  id TEXT PRIMARY KEY,
  kind TEXT NOT NULL,
  title TEXT NOT NULL,
  mime TEXT NOT NULL DEFAULT '',
  owner TEXT NOT NULL REFERENCES accounts(email),
  modified_by TEXT NOT NULL,
  etag TEXT NOT NULL,
  published BIGINT NOT NULL,
  updated BIGINT NOT NULL,
  edited BIGINT NOT NULL,
  size BIGINT NOT NULL DEFAULT 0,
  has_content INTEGER NOT NULL DEFAULT 0,
  starred INTEGER NOT NULL DEFAULT 0,
  trashed INTEGER NOT NULL DEFAULT 0,
  explicit_trash INTEGER NOT NULL DEFAULT 0,
  viewed INTEGER NOT NULL DEFAULT 0,
  hidden INTEGER NOT NULL DEFAULT 0,
  writers_can_invite INTEGER NOT NULL DEFAULT 1,
  parent_count INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE parents (
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  parent TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  edited BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (entry, parent)
);
CREATE INDEX parents_parent ON parents(parent);
CREATE TABLE acl (
  seq BIGSERIAL,
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  scope_type TEXT NOT NULL,
  scope TEXT NOT NULL,
  role TEXT NOT NULL,
  edited BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (entry, scope_type, scope)
);
CREATE INDEX acl_scope ON acl(scope);
CREATE TABLE tokens (
  token TEXT PRIMARY KEY,
  email TEXT NOT NULL REFERENCES accounts(email) ON DELETE CASCADE,
  service TEXT NOT NULL,
  created BIGINT NOT NULL
);
CREATE TABLE sessions (
  sid TEXT PRIMARY KEY,
  hsid TEXT NOT NULL,
  email TEXT NOT NULL REFERENCES accounts(email) ON DELETE CASCADE,
  created BIGINT NOT NULL
);
CREATE TABLE group_members (
  grp TEXT NOT NULL,
  member TEXT NOT NULL,
  PRIMARY KEY (grp, member)
);
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);

-- The listing orders, as in the SQLite store: folder rows and rules carry a
-- copy of their entry's edit time, entries count their folders.
CREATE INDEX entries_order ON entries(edited, id);
CREATE INDEX entries_owner_order ON entries(owner, edited, id);
CREATE INDEX parents_order ON parents(parent, edited, entry);
CREATE INDEX entries_root_order ON entries(owner, edited, id)
  WHERE parent_count = 0 AND trashed = 0;
CREATE INDEX acl_listed_order ON acl(scope_type, scope, edited, entry)
  WHERE role <> 'owner';
CREATE FUNCTION take_entry_edited() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  NEW.edited := COALESCE((SELECT edited FROM entries WHERE id = NEW.entry), 0);
  RETURN NEW;
END $$;
CREATE TRIGGER parents_take_edited BEFORE INSERT ON parents
  FOR EACH ROW EXECUTE FUNCTION take_entry_edited();
CREATE TRIGGER acl_take_edited BEFORE INSERT ON acl
  FOR EACH ROW EXECUTE FUNCTION take_entry_edited();
CREATE FUNCTION pass_entry_edited() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE parents SET edited = NEW.edited WHERE entry = NEW.id;
  UPDATE acl SET edited = NEW.edited WHERE entry = NEW.id;
  RETURN NULL;
END $$;
CREATE TRIGGER entries_pass_edited AFTER UPDATE OF edited ON entries
  FOR EACH ROW EXECUTE FUNCTION pass_entry_edited();
CREATE FUNCTION count_parents() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'INSERT' THEN
    UPDATE entries SET parent_count = parent_count + 1 WHERE id = NEW.entry;
  ELSE
    UPDATE entries SET parent_count = parent_count - 1 WHERE id = OLD.entry;
  END IF;
  RETURN NULL;
END $$;
CREATE TRIGGER parents_count AFTER INSERT OR DELETE ON parents
  FOR EACH ROW EXECUTE FUNCTION count_parents();
)sql",
    // Open sign-up leaves an account unconfirmed until its address is
    // proven; accounts made before were all made by the operator.
    R"sql(
ALTER TABLE accounts ADD COLUMN confirmed INTEGER NOT NULL DEFAULT 1;
CREATE TABLE address_proofs (
  email TEXT PRIMARY KEY REFERENCES accounts(email) ON DELETE CASCADE,
  token TEXT NOT NULL UNIQUE,
  expires BIGINT NOT NULL
);
)sql",
    // Only folders of the entry's own owner take it out of its owner's
    // root (others may file it into folders of theirs), and stars are each
    // account's own; the one star per entry of before becomes the owner's.
    R"sql(
ALTER TABLE parents ADD COLUMN own INTEGER NOT NULL DEFAULT 1;
UPDATE parents SET own = (SELECT (e.owner = f.owner)::integer FROM entries e, entries f
                          WHERE e.id = parents.entry AND f.id = parents.parent);
UPDATE entries SET parent_count =
  (SELECT count(*) FROM parents WHERE entry = entries.id AND own = 1);
CREATE FUNCTION mark_own_folder() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  NEW.own := COALESCE(((SELECT owner FROM entries WHERE id = NEW.entry) =
                       (SELECT owner FROM entries WHERE id = NEW.parent))::integer, 0);
  RETURN NEW;
END $$;
CREATE TRIGGER parents_mark_own BEFORE INSERT ON parents
  FOR EACH ROW EXECUTE FUNCTION mark_own_folder();
CREATE OR REPLACE FUNCTION count_parents() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'INSERT' THEN
    IF NEW.own = 1 THEN
      UPDATE entries SET parent_count = parent_count + 1 WHERE id = NEW.entry;
    END IF;
  ELSIF OLD.own = 1 THEN
    UPDATE entries SET parent_count = parent_count - 1 WHERE id = OLD.entry;
  END IF;
  RETURN NULL;
END $$;
CREATE TABLE stars (
  account TEXT NOT NULL,
  entry TEXT NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
  PRIMARY KEY (account, entry)
);
CREATE INDEX stars_entry ON stars(entry);
INSERT INTO stars(account, entry) SELECT owner, id FROM entries WHERE starred = 1;
UPDATE entries SET starred = 0 WHERE starred = 1;
)sql",
};
constexpr int kSchemaVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

// The star is the viewer's own (?1 of every statement that reads entries).
constexpr const char* kEntryColumns =
    "e.id, e.kind, e.title, e.mime, e.owner, COALESCE(o.name, e.owner), e.modified_by, "
    "COALESCE(m.name, e.modified_by), e.etag, e.published, e.updated, e.edited, e.size, "
    "(EXISTS (SELECT 1 FROM stars s WHERE s.entry = e.id AND s.account = ?1::text))::integer, "
    "e.trashed, e.explicit_trash, e.viewed, e.hidden, e.has_content, "
    "e.writers_can_invite";
// Listings also say whether an entry is in any folder at all: a page of
// entries in none (most of a root folder's) needs no query for folders.
constexpr const char* kInAnyFolder =
    ", (EXISTS (SELECT 1 FROM parents x WHERE x.entry = e.id))::integer";
constexpr int kInAnyFolderColumn = 20;
constexpr const char* kEntryJoins =
    " FROM entries e LEFT JOIN accounts o ON o.email = e.owner"
    " LEFT JOIN accounts m ON m.email = e.modified_by";

// Rules (alias a) that reach the account ?1; see the SQLite store. Rules
// naming an address or its domain wait for the address to be confirmed.
constexpr const char* kAddressProven =
    "EXISTS (SELECT 1 FROM accounts WHERE email = ?1::text AND confirmed = 1)";

std::string UserRuleReaches() {
    return std::string("(a.scope_type = 'user' AND a.scope = ?1::text AND ") + kAddressProven + ")";
}

std::string GroupRuleReaches() {
    return "(a.scope_type = 'group' AND a.scope IN "
           "(SELECT grp FROM group_members WHERE member = ?1::text))";
}

std::string RuleReaches(bool listedOnly) {
    std::string sql = "(" + UserRuleReaches() + " OR " + GroupRuleReaches();
    if (!listedOnly) {
        sql += std::string(
                   " OR (a.scope_type = 'domain' AND a.scope = split_part(?1::text, '@', 2) "
                   "AND ") +
               kAddressProven +
               ")"
               " OR a.scope_type = 'default'";
    }
    return sql + ")";
}

// `up(id)`: the entry `start` and the folders above it that belong to
// `owner`, the entry's owner; the same walk as in the SQLite store.
std::string RuleHolders(const std::string& start, const std::string& owner) {
    return "up(id) AS (SELECT " + start +
           " UNION SELECT up_p.parent FROM parents up_p JOIN up ON up_p.entry = up.id "
           "JOIN entries up_f ON up_f.id = up_p.parent WHERE up_f.owner = " +
           owner + ")";
}

// True for a row of `alias` (of entries) that the account ?1 may open.
std::string MayOpen(const std::string& alias) {
    return "(" + alias + ".owner = ?1::text OR EXISTS (WITH RECURSIVE " +
           RuleHolders(alias + ".id", alias + ".owner") +
           " SELECT 1 FROM up JOIN acl a ON a.entry = up.id WHERE " + RuleReaches(false) + "))";
}

StoredEntry ReadEntry(const PgQuery& st) {
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

// The folders an entry is in; for a viewer only those the viewer may open,
// and the etag the viewer is given for what it is shown.
void LoadParents(PgConnection& db, StoredEntry& e, const std::optional<std::string>& viewer) {
    PgQuery st(db, "SELECT p.parent, f.title, CASE WHEN " +
                       (viewer ? MayOpen("f") : std::string("?1::text IS NOT NULL")) +
                       " THEN 1 ELSE 0 END FROM parents p JOIN entries f ON f.id = "
                       "p.parent WHERE p.entry = ?2::text ORDER BY f.title, p.parent");
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

// The folders of every entry of a page in one query, as a JSON array of
// ids; each entry's etag as the viewer is given it.
void LoadParents(PgConnection& db, std::vector<StoredEntry>& entries, const std::string& viewer) {
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
    PgQuery st(db, "SELECT p.entry, p.parent, f.title, CASE WHEN " + MayOpen("f") +
                       " THEN 1 ELSE 0 END FROM parents p JOIN entries f ON f.id = p.parent "
                       "WHERE p.entry IN (SELECT json_array_elements_text(?2::json)) "
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

std::vector<std::string> Descendants(PgConnection& db, const std::string& id) {
    PgQuery st(db,
               "WITH RECURSIVE below(id) AS (SELECT entry FROM parents WHERE parent = ?1::text "
               "UNION SELECT p.entry FROM parents p JOIN below b ON p.parent = b.id) "
               "SELECT id FROM below WHERE id <> ?1::text");
    st.Bind(1, id);
    std::vector<std::string> ids;
    while (st.Step()) ids.push_back(st.Text(0));
    return ids;
}

std::string NormalScope(const std::string& scopeType, const std::string& scope) {
    return scopeType == "default" ? std::string() : NormalEmail(scope);
}

void SyncFolder(const fs::path& file) {
    const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

// A file younger than this may belong to a write still going on in
// another service process on the folder.
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

void AppendListFilters(std::string& sql, const ListQuery& q, const char* edited, const char* id) {
    sql += q.scope == ListScope::Trashed ? " AND e.trashed = 1" : " AND e.trashed = 0";
    if (!q.kind.empty()) {
        sql += " AND e.kind = ?3::text";
    } else if (!q.includeFolders) {
        sql += " AND e.kind <> 'folder'";
    }
    for (std::size_t i = 0; i < q.words.size(); ++i) {
        sql += " AND strpos(lower(e.title), lower(?" + std::to_string(10 + i) + "::text)) > 0";
    }
    if (q.after) sql += std::string(" AND (") + edited + ", " + id + ") < (?6::bigint, ?7::text)";
}

std::string RootListingSql(const ListQuery& q) {
    std::string sql = std::string("SELECT ") + kEntryColumns + kInAnyFolder + kEntryJoins +
                      " WHERE e.owner = ?1::text AND e.parent_count = 0";
    AppendListFilters(sql, q, "e.edited", "e.id");
    return sql + " ORDER BY e.edited DESC, e.id DESC LIMIT ?4::bigint OFFSET ?5::bigint";
}

std::string SharedListingSql(const ListQuery& q) {
    std::string columns = kEntryColumns;
    columns.replace(columns.find("e.edited"), 8, "a.edited");
    columns.replace(0, 4, "a.entry");
    columns += kInAnyFolder;
    const auto arm = [&q, &columns](const std::string& scope) {
        std::string sql = "SELECT " + columns +
                          " FROM acl a JOIN entries e ON e.id = a.entry"
                          " LEFT JOIN accounts o ON o.email = e.owner"
                          " LEFT JOIN accounts m ON m.email = e.modified_by WHERE " +
                          scope + " AND a.role <> 'owner' AND e.owner <> ?1::text";
        AppendListFilters(sql, q, "a.edited", "a.entry");
        return sql;
    };
    return "(" + arm(UserRuleReaches()) + ") UNION (" + arm(GroupRuleReaches()) +
           ") ORDER BY 12 DESC, 1 DESC LIMIT ?4::bigint OFFSET ?5::bigint";
}

std::string ListingSql(const ListQuery& q) {
    if (q.scope == ListScope::Root) return RootListingSql(q);
    if (q.scope == ListScope::SharedWithMe) return SharedListingSql(q);
    const bool inFolder = q.scope == ListScope::Folder;
    const char* edited = inFolder ? "p.edited" : "e.edited";
    const char* id = inFolder ? "p.entry" : "e.id";
    std::string sql = std::string("SELECT ") + kEntryColumns + kInAnyFolder;
    if (inFolder) {
        sql +=
            " FROM parents p JOIN entries e ON e.id = p.entry"
            " LEFT JOIN accounts o ON o.email = e.owner"
            " LEFT JOIN accounts m ON m.email = e.modified_by WHERE p.parent = ?2::text"
            " AND (e.owner = (SELECT owner FROM entries WHERE id = ?2::text) OR " +
            MayOpen("e") + ")";
    } else if (q.scope == ListScope::Starred) {
        sql += std::string(" FROM stars s JOIN entries e ON e.id = s.entry") +
               " LEFT JOIN accounts o ON o.email = e.owner"
               " LEFT JOIN accounts m ON m.email = e.modified_by WHERE s.account = ?1::text AND " +
               MayOpen("e");
    } else {
        sql += std::string(kEntryJoins) + " WHERE ";
    }
    const std::string shared =
        "EXISTS (SELECT 1 FROM acl a WHERE a.entry = e.id AND " + RuleReaches(true) + ")";
    switch (q.scope) {
        case ListScope::All:
            sql += "(e.owner = ?1::text OR " + shared + ")";
            break;
        case ListScope::Mine:
        case ListScope::Trashed:
            sql += "e.owner = ?1::text";
            break;
        case ListScope::Starred:
        case ListScope::Folder:
        case ListScope::Root:
        case ListScope::SharedWithMe:
            break;
    }
    AppendListFilters(sql, q, edited, id);
    return sql + " ORDER BY " + edited + " DESC, " + id +
           " DESC LIMIT ?4::bigint OFFSET ?5::bigint";
}

std::optional<StoredEntry> Find(PgConnection& db, const std::string& id,
                                const std::optional<std::string>& viewer) {
    PgQuery st(db, std::string("SELECT ") + kEntryColumns + kEntryJoins + " WHERE e.id = ?2::text");
    st.Bind(1, viewer.value_or("")).Bind(2, id);
    if (!st.Step()) return std::nullopt;
    StoredEntry e = ReadEntry(st);
    LoadParents(db, e, viewer);
    return e;
}

StoredEntry Load(PgConnection& db, const std::string& id,
                 const std::optional<std::string>& viewer) {
    auto e = Find(db, id, viewer);
    if (!e) throw std::runtime_error("Entry vanished: " + id);
    return *e;
}

std::optional<std::string> ReadMeta(PgConnection& db, const std::string& key) {
    PgQuery st(db, "SELECT value FROM meta WHERE key = ?1");
    st.Bind(1, key);
    if (!st.Step()) return std::nullopt;
    return st.Text(0);
}

void WriteMeta(PgConnection& db, const std::string& key, const std::string& value) {
    PgQuery st(db,
               "INSERT INTO meta(key, value) VALUES(?1, ?2) "
               "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    st.Bind(1, key).Bind(2, value).Run();
}

}  // namespace

PgStore::PgStore(const std::string& dataDir, int passwordIterations, const std::string& conninfo)
    : m_dataDir(dataDir), m_passwordIterations(passwordIterations), m_pool(conninfo) {
    const fs::path root(dataDir);
    fs::create_directories(root / "content");
    for (const fs::path& folder : {root, root / "content"}) {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    }
    Migrate();
    Reconcile();
}

PgStore::~PgStore() = default;

// Several processes may start at once: the write lock lets one of them
// migrate while the others wait and then find the work done.
void PgStore::Migrate() {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    (*db).Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    int version = 0;
    {
        PgQuery st(*db, "SELECT max(version) FROM schema_version");
        if (st.Step() && st.OptText(0)) version = static_cast<int>(st.Int(0));
    }
    if (version > kSchemaVersion) {
        throw std::runtime_error(
            "The database was made by a newer version of the service (schema " +
            std::to_string(version) + ", this one knows " + std::to_string(kSchemaVersion) + ")");
    }
    for (int v = version; v < kSchemaVersion; ++v) (*db).Exec(kMigrations[v]);
    if (version < kSchemaVersion) {
        (*db).Exec("DELETE FROM schema_version");
        PgQuery st(*db, "INSERT INTO schema_version(version) VALUES(?1::integer)");
        st.Bind(1, std::int64_t{kSchemaVersion}).Run();
    }
    if (!ReadMeta(*db, "secrets")) WriteMeta(*db, "secrets", "sha256");
    if (auto secret = ReadMeta(*db, "page-key")) {
        m_pageKeySecret = std::move(*secret);
    } else {
        m_pageKeySecret = RandomToken(43);
        WriteMeta(*db, "page-key", m_pageKeySecret);
    }
    tx.Commit();
}

// As in the SQLite store: temporary files go, files without an entry are
// put aside, entries without a file are reported. The walk holds the write
// lock, so no other process commits an entry meanwhile.
void PgStore::Reconcile() {
    const fs::path content = fs::path(m_dataDir) / "content";
    const fs::path quarantine = fs::path(m_dataDir) / "quarantine";
    // As in the SQLite store: a file another live process on the folder may
    // still be writing is left for a later start.
    const auto alone = FolderLock::TryExclusive(LiveLockPath(m_dataDir));
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
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
        PgQuery st(*db, "SELECT 1 FROM entries WHERE id = ?1 AND has_content = 1");
        st.Bind(1, name);
        if (st.Step()) {
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::replace, ignored);
            continue;
        }
        fs::create_directories(quarantine, ignored);
        fs::permissions(quarantine, fs::perms::owner_all, fs::perm_options::replace, ignored);
        fs::rename(path, quarantine / name, ignored);
        m_reconciliation.quarantined.push_back(name);
    }
    PgQuery rows(*db, "SELECT id FROM entries WHERE has_content = 1");
    while (rows.Step()) {
        const std::string id = rows.Text(0);
        if (!fs::exists(content / id)) m_reconciliation.missing.push_back(id);
    }
    tx.Commit();
}

std::vector<std::string> PgStore::CheckConsistency() {
    std::vector<std::string> problems;
    const fs::path content = fs::path(m_dataDir) / "content";
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::Read);
    {
        PgQuery st(*db,
                   "SELECT p.entry, p.parent FROM parents p JOIN entries e "
                   "ON e.id = p.entry WHERE p.edited <> e.edited");
        while (st.Step()) {
            problems.push_back("folder order out of date: " + st.Text(0) + " in " + st.Text(1));
        }
    }
    {
        PgQuery st(*db,
                   "SELECT id FROM entries e WHERE parent_count <> "
                   "(SELECT count(*) FROM parents p JOIN entries f ON f.id = p.parent "
                   "WHERE p.entry = e.id AND f.owner = e.owner)");
        while (st.Step()) problems.push_back("root order out of date: " + st.Text(0));
    }
    {
        PgQuery st(*db,
                   "SELECT a.entry, a.scope FROM acl a JOIN entries e "
                   "ON e.id = a.entry WHERE a.edited <> e.edited");
        while (st.Step()) {
            problems.push_back("shared order out of date: " + st.Text(0) + " for " + st.Text(1));
        }
    }
    for (const auto& e : fs::directory_iterator(content)) {
        const std::string name = e.path().filename().string();
        PgQuery st(*db, "SELECT 1 FROM entries WHERE id = ?1 AND has_content = 1");
        st.Bind(1, name);
        if (!st.Step()) problems.push_back("file without entry: " + name);
    }
    PgQuery rows(*db, "SELECT id FROM entries WHERE has_content = 1");
    while (rows.Step()) {
        if (!fs::exists(content / rows.Text(0))) {
            problems.push_back("entry without content: " + rows.Text(0));
        }
    }
    return problems;
}

std::string PgStore::ContentPath(const std::string& id) const {
    return (fs::path(m_dataDir) / "content" / id).string();
}

void PgStore::AddAccount(const std::string& rawEmail, std::string_view password,
                         const std::string& displayName) {
    const auto [email, salt, hash] = MakeCredentials(rawEmail, password, m_passwordIterations);
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery st(*db,
               "INSERT INTO accounts(email, name, salt, hash, iterations, confirmed) "
               "VALUES(?1, ?2, ?3, ?4, ?5, 1) ON CONFLICT(email) DO UPDATE SET "
               "salt = excluded.salt, hash = excluded.hash, "
               "iterations = excluded.iterations, failures = 0, confirmed = 1");
    st.Bind(1, email).Bind(2, displayName).BindBlob(3, salt).BindBlob(4, hash);
    st.Bind(5, std::int64_t{m_passwordIterations});
    st.Run();
    // A new password ends every sign-in made with the old one.
    PgQuery tokens(*db, "DELETE FROM tokens WHERE email = ?1");
    tokens.Bind(1, email).Run();
    PgQuery sessions(*db, "DELETE FROM sessions WHERE email = ?1");
    sessions.Bind(1, email).Run();
    tx.Commit();
}

bool PgStore::CreateAccount(const std::string& rawEmail, std::string_view password,
                            const std::string& displayName) {
    const auto [email, salt, hash] = MakeCredentials(rawEmail, password, m_passwordIterations);
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    // Unconfirmed until its holder shows the mailbox is theirs.
    PgQuery st(*db,
               "INSERT INTO accounts(email, name, salt, hash, iterations, confirmed) "
               "VALUES(?1, ?2, ?3, ?4, ?5, 0) ON CONFLICT(email) DO NOTHING");
    st.Bind(1, email).Bind(2, displayName).BindBlob(3, salt).BindBlob(4, hash);
    st.Bind(5, std::int64_t{m_passwordIterations});
    const bool created = st.Changes() == 1;
    tx.Commit();
    return created;
}

std::string PgStore::IssueAddressProof(const std::string& rawEmail) {
    const std::string email = NormalEmail(rawEmail);
    const std::string token = RandomToken(43);
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery st(*db,
               "INSERT INTO address_proofs(email, token, expires) VALUES(?1, ?2, ?3) "
               "ON CONFLICT(email) DO UPDATE SET token = excluded.token, "
               "expires = excluded.expires");
    st.Bind(1, email).Bind(2, Sha256Hex(token)).Bind(3, NowMillis() + kAddressProofLifetimeMs);
    st.Run();
    tx.Commit();
    return token;
}

std::optional<std::string> PgStore::ProveAddress(const std::string& token) {
    if (token.empty()) return std::nullopt;
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    std::string email;
    {
        PgQuery st(*db,
                   "SELECT email FROM address_proofs WHERE token = ?1 AND expires > ?2::bigint");
        st.Bind(1, Sha256Hex(token)).Bind(2, NowMillis());
        if (!st.Step()) return std::nullopt;
        email = st.Text(0);
    }
    PgQuery confirm(*db, "UPDATE accounts SET confirmed = 1 WHERE email = ?1");
    confirm.Bind(1, email).Run();
    PgQuery used(*db, "DELETE FROM address_proofs WHERE email = ?1");
    used.Bind(1, email).Run();
    tx.Commit();
    return email;
}

bool PgStore::ConfirmAccount(const std::string& rawEmail) {
    const std::string email = NormalEmail(rawEmail);
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery confirm(*db, "UPDATE accounts SET confirmed = 1 WHERE email = ?1");
    confirm.Bind(1, email);
    if (confirm.Changes() == 0) return false;
    PgQuery used(*db, "DELETE FROM address_proofs WHERE email = ?1");
    used.Bind(1, email).Run();
    tx.Commit();
    return true;
}

bool PgStore::AccountConfirmed(const std::string& email) {
    const auto db = m_pool.Take();
    PgQuery st(*db, "SELECT confirmed FROM accounts WHERE email = ?1");
    st.Bind(1, NormalEmail(email));
    return st.Step() && st.Int(0) != 0;
}

bool PgStore::AccountExists(const std::string& email) {
    const auto db = m_pool.Take();
    PgQuery st(*db, "SELECT 1 FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step();
}

std::string PgStore::DisplayName(const std::string& email) {
    const auto db = m_pool.Take();
    PgQuery st(*db, "SELECT name FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step() ? st.Text(0) : email;
}

PasswordCheck PgStore::CheckPassword(const std::string& email, std::string_view password) {
    std::vector<unsigned char> salt, hash;
    std::int64_t iterations = 0;
    bool disabled = false;
    {
        const auto db = m_pool.Take();
        PgQuery st(*db, "SELECT salt, hash, iterations, disabled FROM accounts WHERE email = ?1");
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
    if (!SameBytes(HashPassword(password, salt, static_cast<int>(iterations)), hash)) {
        return PasswordCheck::BadPassword;
    }
    return disabled ? PasswordCheck::Disabled : PasswordCheck::Ok;
}

namespace {

// One change of one account's row, committed before it returns.
template <typename BindFn>
void WriteOne(PgPool& pool, const char* sql, BindFn bind) {
    const auto db = pool.Take();
    PgTransaction tx(*db);
    PgQuery st(*db, sql);
    bind(st);
    st.Run();
    tx.Commit();
}

}  // namespace

void PgStore::SetDisabled(const std::string& email, bool disabled) {
    WriteOne(m_pool, "UPDATE accounts SET disabled = ?2::integer WHERE email = ?1",
             [&](PgQuery& st) { st.Bind(1, email).Bind(2, std::int64_t{disabled ? 1 : 0}); });
}

void PgStore::RecordFailure(const std::string& email) {
    WriteOne(m_pool,
             "UPDATE accounts SET failures = failures + 1, "
             "captcha = CASE WHEN failures + 1 >= 3 THEN 1 ELSE captcha END "
             "WHERE email = ?1",
             [&](PgQuery& st) { st.Bind(1, email); });
}

void PgStore::ClearFailures(const std::string& email) {
    WriteOne(m_pool, "UPDATE accounts SET failures = 0, captcha = 0 WHERE email = ?1",
             [&](PgQuery& st) { st.Bind(1, email); });
}

bool PgStore::CaptchaRequired(const std::string& email) {
    const auto db = m_pool.Take();
    PgQuery st(*db, "SELECT captcha FROM accounts WHERE email = ?1");
    st.Bind(1, email);
    return st.Step() && st.Int(0) != 0;
}

void PgStore::SetCaptchaRequired(const std::string& email, bool required) {
    WriteOne(m_pool,
             "UPDATE accounts SET captcha = ?2::integer, "
             "failures = CASE WHEN ?2::integer = 0 THEN 0 ELSE failures END WHERE email = ?1",
             [&](PgQuery& st) { st.Bind(1, email).Bind(2, std::int64_t{required ? 1 : 0}); });
}

// As in the SQLite store: `created` holds the time of last use, written
// again at most once an hour.
constexpr std::int64_t kPgRenewAfterMs = 60 * 60 * 1000;

std::string PgStore::IssueToken(const std::string& email, const std::string& service) {
    const std::string token = RandomToken(64);
    const std::int64_t now = NowMillis();
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery old(*db, "DELETE FROM tokens WHERE created < ?1::bigint");
    old.Bind(1, now - kTokenLifetimeMs).Run();
    PgQuery st(*db, "INSERT INTO tokens(token, email, service, created) VALUES(?1, ?2, ?3, ?4)");
    st.Bind(1, Sha256Hex(token)).Bind(2, email).Bind(3, service).Bind(4, now).Run();
    tx.Commit();
    return token;
}

std::optional<std::string> PgStore::TokenOwner(const std::string& token,
                                               const std::string& service) {
    const std::string hash = Sha256Hex(token);
    const std::int64_t now = NowMillis();
    const auto db = m_pool.Take();
    std::string owner;
    std::int64_t created = 0;
    {
        PgQuery st(*db,
                   "SELECT t.email, t.created FROM tokens t JOIN accounts a ON a.email = "
                   "t.email WHERE t.token = ?1 AND t.service = ?2 AND a.disabled = 0 "
                   "AND t.created >= ?3::bigint");
        st.Bind(1, hash).Bind(2, service).Bind(3, now - kTokenLifetimeMs);
        if (!st.Step()) return std::nullopt;
        owner = st.Text(0);
        created = st.Int(1);
    }
    if (now - created > kPgRenewAfterMs) {
        PgTransaction tx(*db);
        PgQuery renew(*db, "UPDATE tokens SET created = ?2::bigint WHERE token = ?1");
        renew.Bind(1, hash).Bind(2, now).Run();
        tx.Commit();
    }
    return owner;
}

StoreBackend::Session PgStore::CreateSession(const std::string& email) {
    Session session{RandomToken(48), RandomToken(24)};
    const std::int64_t now = NowMillis();
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery old(*db, "DELETE FROM sessions WHERE created < ?1::bigint");
    old.Bind(1, now - kTokenLifetimeMs).Run();
    PgQuery st(*db, "INSERT INTO sessions(sid, hsid, email, created) VALUES(?1, ?2, ?3, ?4)");
    st.Bind(1, Sha256Hex(session.sid)).Bind(2, Sha256Hex(session.hsid)).Bind(3, email);
    st.Bind(4, now).Run();
    tx.Commit();
    return session;
}

void PgStore::EndSession(const std::string& sid) {
    const std::string sidHash = Sha256Hex(sid);
    WriteOne(m_pool, "DELETE FROM sessions WHERE sid = ?1",
             [&](PgQuery& st) { st.Bind(1, sidHash); });
}

std::optional<std::string> PgStore::SessionOwner(const std::string& sid, const std::string& hsid) {
    const std::string sidHash = Sha256Hex(sid);
    const std::int64_t now = NowMillis();
    const auto db = m_pool.Take();
    std::string owner;
    std::int64_t created = 0;
    {
        PgQuery st(*db,
                   "SELECT s.email, s.created FROM sessions s JOIN accounts a ON a.email = "
                   "s.email WHERE s.sid = ?1 AND s.hsid = ?2 AND a.disabled = 0 "
                   "AND s.created >= ?3::bigint");
        st.Bind(1, sidHash).Bind(2, Sha256Hex(hsid)).Bind(3, now - kTokenLifetimeMs);
        if (!st.Step()) return std::nullopt;
        owner = st.Text(0);
        created = st.Int(1);
    }
    if (now - created > kPgRenewAfterMs) {
        PgTransaction tx(*db);
        PgQuery renew(*db, "UPDATE sessions SET created = ?2::bigint WHERE sid = ?1");
        renew.Bind(1, sidHash).Bind(2, now).Run();
        tx.Commit();
    }
    return owner;
}

void PgStore::AgeSecretsForTest(std::int64_t millis) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery t(*db, "UPDATE tokens SET created = created - ?1::bigint");
    t.Bind(1, millis).Run();
    PgQuery s(*db, "UPDATE sessions SET created = created - ?1::bigint");
    s.Bind(1, millis).Run();
    PgQuery p(*db, "UPDATE address_proofs SET expires = expires - ?1::bigint");
    p.Bind(1, millis).Run();
    tx.Commit();
}

std::optional<StoredEntry> PgStore::GetEntry(const std::string& id) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::Read);
    return Find(*db, id, std::nullopt);
}

std::optional<StoredEntry> PgStore::GetEntryFor(const std::string& viewer, const std::string& id) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::Read);
    return Find(*db, id, viewer);
}

Access PgStore::AccessOf(const std::string& user, const std::string& id) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::Read);
    {
        PgQuery own(*db, "SELECT owner = ?1::text FROM entries WHERE id = ?2");
        own.Bind(1, user).Bind(2, id);
        if (!own.Step()) return Access::None;
        if (own.Int(0) != 0) return Access::Own;
    }
    // The same walk up as in the SQLite store: it stops at a folder of
    // anyone but the entry's owner.
    // No depth limit: a share reaches every level the listings show; UNION
    // keeps each folder once, which also ends a loop.
    PgQuery st(*db, "WITH RECURSIVE " +
                        RuleHolders("?2::text", "(SELECT owner FROM entries WHERE id = ?2::text)") +
                        " SELECT e.owner = ?1::text, "
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

bool PgStore::IsSelfOrBelow(const std::string& id, const std::string& candidate) {
    if (id == candidate) return true;
    const auto db = m_pool.Take();
    const auto below = Descendants(*db, id);
    return std::find(below.begin(), below.end(), candidate) != below.end();
}

void PgStore::SetWritersCanInvite(const std::string& id, bool allowed) {
    WriteOne(m_pool, "UPDATE entries SET writers_can_invite = ?2::integer WHERE id = ?1",
             [&](PgQuery& st) { st.Bind(1, id).Bind(2, std::int64_t{allowed ? 1 : 0}); });
}

ListResult PgStore::List(const ListQuery& q) {
    const std::string sql = ListingSql(q);
    const auto db = m_pool.Take();
    PgTransaction tx(*db, PgTransaction::Kind::Read);
    PgQuery st(*db, sql);
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
        LoadParents(*db, result.entries, q.user);
    } else {
        // No folders to load, but the reader's own star still marks the etag.
        for (auto& e : result.entries) e.etag = ViewerEtag(e.etag, e.starred, false, e.parents);
    }
    return result;
}

StoredEntry PgStore::Create(const std::string& owner, const NewEntry& n) {
    const std::string id = n.id.empty() ? RandomToken(28) : n.id;
    const std::int64_t now = n.time ? n.time : NowMillis();
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
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    for (const auto& parent : n.parents) {
        PgQuery f(*db, "SELECT 1 FROM entries WHERE id = ?1 AND kind = 'folder'");
        f.Bind(1, parent);
        if (!f.Step()) throw FolderGone();
    }
    if (n.quotaBytes && hasContent) {
        PgQuery used(*db,
                     "SELECT COALESCE(SUM(size), 0) FROM entries WHERE owner = ?1 "
                     "AND has_content = 1");
        used.Bind(1, owner);
        if (used.Step() && used.Int(0) + size > *n.quotaBytes) throw QuotaExceeded();
    }
    PgQuery st(*db,
               "INSERT INTO entries(id, kind, title, mime, owner, modified_by, etag, "
               "published, updated, edited, size, has_content, starred, trashed, "
               "explicit_trash, viewed) "
               "VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6, ?7, ?7, ?7, ?8, ?9, 0, ?11, ?11, ?12)");
    st.Bind(1, id).Bind(2, n.kind).Bind(3, n.title).Bind(4, n.mime).Bind(5, owner);
    st.Bind(6, NewEtag()).Bind(7, now);
    st.Bind(8, size);
    st.Bind(9, std::int64_t{hasContent ? 1 : 0});
    st.Bind(11, std::int64_t{n.trashed ? 1 : 0}).Bind(12, std::int64_t{n.viewed ? 1 : 0});
    st.Run();
    if (n.starred) {
        PgQuery star(*db, "INSERT INTO stars(account, entry) VALUES(?1, ?2)");
        star.Bind(1, owner).Bind(2, id).Run();
    }
    for (const auto& parent : n.parents) {
        PgQuery p(*db, "INSERT INTO parents(entry, parent) VALUES(?1, ?2) ON CONFLICT DO NOTHING");
        p.Bind(1, id).Bind(2, parent).Run();
    }
    PgQuery acl(*db,
                "INSERT INTO acl(entry, scope_type, scope, role) "
                "VALUES(?1, 'user', ?2, 'owner')");
    acl.Bind(1, id).Bind(2, owner).Run();
    // Made inside a folder of another account: its owner may open it, as in
    // the SQLite store.
    for (const auto& parent : n.parents) {
        PgQuery given(*db,
                      "INSERT INTO acl(entry, scope_type, scope, role) "
                      "SELECT ?1::text, 'user', owner, 'writer' FROM entries "
                      "WHERE id = ?2::text AND owner <> ?3::text ON CONFLICT DO NOTHING");
        given.Bind(1, id).Bind(2, parent).Bind(3, owner).Run();
    }
    // The file moves into place inside the transaction, as in the SQLite store.
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
    return Load(*db, id, owner);
}

std::optional<StoredEntry> PgStore::ReplaceContent(const std::string& id, const std::string& editor,
                                                   const std::string& contentFile,
                                                   const std::string& ifMatch) {
    const auto size = static_cast<std::int64_t>(fs::file_size(contentFile));
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    {
        // Against the etag the editor was given, not another account's.
        const auto now = Find(*db, id, editor);
        if (!now || !now->hasContent) {
            throw std::runtime_error("No stored content to replace: " + id);
        }
        if (ifMatch != "*" && now->etag != ifMatch) return std::nullopt;
    }
    PgQuery st(*db,
               "UPDATE entries SET size = ?2::bigint, updated = ?3::bigint, edited = ?3::bigint, "
               "modified_by = ?4, etag = ?5 WHERE id = ?1");
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
    return Load(*db, id, editor);
}

std::optional<StoredEntry> PgStore::Update(const std::string& id, const std::string& editor,
                                           const std::optional<std::string>& title,
                                           const std::optional<bool>& starred,
                                           const std::string& ifMatch) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    {
        // Against the etag the editor was given, not another account's.
        const auto now = Find(*db, id, editor);
        if (!now) throw std::runtime_error("No such entry: " + id);
        if (ifMatch != "*" && now->etag != ifMatch) return std::nullopt;
    }
    const std::int64_t now = NowMillis();
    if (title) {
        PgQuery st(*db,
                   "UPDATE entries SET title = ?2, updated = ?3::bigint, modified_by = ?4 "
                   "WHERE id = ?1");
        st.Bind(1, id).Bind(2, *title).Bind(3, now).Bind(4, editor).Run();
    }
    // The editor's own star, as in the SQLite store: no edit, and the
    // stored etag stays (the editor's own carries the star).
    if (starred) {
        PgQuery st(*db, *starred ? "INSERT INTO stars(account, entry) VALUES(?1, ?2) "
                                   "ON CONFLICT DO NOTHING"
                                 : "DELETE FROM stars WHERE account = ?1 AND entry = ?2");
        st.Bind(1, editor).Bind(2, id).Run();
    }
    if (title || !starred) {
        PgQuery st(*db, "UPDATE entries SET etag = ?2, edited = ?3::bigint WHERE id = ?1");
        st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    }
    tx.Commit();
    return Load(*db, id, editor);
}

StoredEntry PgStore::AddParent(const std::string& id, const std::string& folderId) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    // Under the write lock, as in the SQLite store.
    const auto below = Descendants(*db, id);
    if (folderId == id || std::find(below.begin(), below.end(), folderId) != below.end()) {
        throw WouldCycle();
    }
    PgQuery p(*db, "INSERT INTO parents(entry, parent) VALUES(?1, ?2) ON CONFLICT DO NOTHING");
    p.Bind(1, id).Bind(2, folderId).Run();
    PgQuery st(*db, "UPDATE entries SET etag = ?2, edited = ?3::bigint WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, NowMillis()).Run();
    tx.Commit();
    return Load(*db, id, std::nullopt);
}

bool PgStore::RemoveParent(const std::string& id, const std::string& folderId) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery p(*db, "DELETE FROM parents WHERE entry = ?1 AND parent = ?2");
    p.Bind(1, id).Bind(2, folderId);
    if (p.Changes() == 0) return false;
    PgQuery st(*db, "UPDATE entries SET etag = ?2, edited = ?3::bigint WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, NowMillis()).Run();
    tx.Commit();
    return true;
}

void PgStore::Trash(const std::string& id) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    const std::int64_t now = NowMillis();
    PgQuery st(*db,
               "UPDATE entries SET trashed = 1, explicit_trash = 1, etag = ?2, "
               "edited = ?3::bigint WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    PgQuery owner(*db, "SELECT owner FROM entries WHERE id = ?1");
    owner.Bind(1, id);
    const std::string ownerEmail = owner.Step() ? owner.Text(0) : std::string();
    for (const auto& child : Descendants(*db, id)) {
        PgQuery c(*db,
                  "UPDATE entries SET trashed = 1, etag = ?2, edited = ?3::bigint "
                  "WHERE id = ?1 AND owner = ?4 AND trashed = 0");
        c.Bind(1, child).Bind(2, NewEtag()).Bind(3, now).Bind(4, ownerEmail).Run();
    }
    tx.Commit();
}

void PgStore::Restore(const std::string& id) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    const std::int64_t now = NowMillis();
    PgQuery st(*db,
               "UPDATE entries SET trashed = 0, explicit_trash = 0, etag = ?2, "
               "edited = ?3::bigint WHERE id = ?1");
    st.Bind(1, id).Bind(2, NewEtag()).Bind(3, now).Run();
    for (const auto& child : Descendants(*db, id)) {
        PgQuery c(*db,
                  "UPDATE entries SET trashed = 0, etag = ?2, edited = ?3::bigint "
                  "WHERE id = ?1 AND trashed = 1 AND explicit_trash = 0");
        c.Bind(1, child).Bind(2, NewEtag()).Bind(3, now).Run();
    }
    tx.Commit();
}

void PgStore::Delete(const std::string& id) {
    std::vector<std::string> removed;
    {
        const auto db = m_pool.Take();
        PgTransaction tx(*db);
        std::string owner;
        {
            PgQuery o(*db, "SELECT owner FROM entries WHERE id = ?1");
            o.Bind(1, id);
            if (o.Step()) owner = o.Text(0);
        }
        std::vector<std::string> candidates;
        for (auto& below : Descendants(*db, id)) {
            PgQuery o(*db, "SELECT 1 FROM entries WHERE id = ?1 AND owner = ?2");
            o.Bind(1, below).Bind(2, owner);
            if (o.Step()) candidates.push_back(std::move(below));
        }
        removed.push_back(id);
        PgQuery del(*db, "DELETE FROM entries WHERE id = ?1");
        del.Bind(1, id).Run();
        bool changed = true;
        while (changed) {
            changed = false;
            for (auto it = candidates.begin(); it != candidates.end();) {
                PgQuery orphan(*db, "SELECT 1 FROM parents WHERE entry = ?1");
                orphan.Bind(1, *it);
                if (!orphan.Step()) {
                    PgQuery d(*db, "DELETE FROM entries WHERE id = ?1");
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
    for (const auto& gone : removed) {
        std::error_code ignored;
        fs::remove(ContentPath(gone), ignored);
    }
}

void PgStore::AddAclRule(const std::string& id, const std::string& scopeType,
                         const std::string& rawScope, const std::string& role) {
    const std::string scope = NormalScope(scopeType, rawScope);
    WriteOne(m_pool,
             "INSERT INTO acl(entry, scope_type, scope, role) VALUES(?1, ?2, ?3, ?4) "
             "ON CONFLICT(entry, scope_type, scope) DO UPDATE SET role = excluded.role",
             [&](PgQuery& st) { st.Bind(1, id).Bind(2, scopeType).Bind(3, scope).Bind(4, role); });
}

std::vector<StoreBackend::AclRow> PgStore::AclRules(const std::string& id) {
    const auto db = m_pool.Take();
    PgQuery st(*db,
               "SELECT scope_type, scope, role FROM acl WHERE entry = ?1 "
               "ORDER BY role <> 'owner', seq");
    st.Bind(1, id);
    std::vector<AclRow> rows;
    while (st.Step()) rows.push_back({st.Text(0), st.Text(1), st.Text(2)});
    return rows;
}

std::optional<StoreBackend::AclRow> PgStore::FindAclRule(const std::string& id,
                                                         const std::string& scopeType,
                                                         const std::string& rawScope) {
    const std::string scope = NormalScope(scopeType, rawScope);
    const auto db = m_pool.Take();
    PgQuery st(*db, "SELECT role FROM acl WHERE entry = ?1 AND scope_type = ?2 AND scope = ?3");
    st.Bind(1, id).Bind(2, scopeType).Bind(3, scope);
    if (!st.Step()) return std::nullopt;
    return AclRow{scopeType, scope, st.Text(0)};
}

bool PgStore::RemoveAclRule(const std::string& id, const std::string& scopeType,
                            const std::string& rawScope) {
    const std::string scope = NormalScope(scopeType, rawScope);
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    PgQuery st(*db,
               "DELETE FROM acl WHERE entry = ?1 AND scope_type = ?2 AND scope = ?3 "
               "AND role <> 'owner'");
    st.Bind(1, id).Bind(2, scopeType).Bind(3, scope);
    const bool removed = st.Changes() > 0;
    tx.Commit();
    return removed;
}

void PgStore::AddGroupMember(const std::string& group, const std::string& member) {
    WriteOne(m_pool, "INSERT INTO group_members(grp, member) VALUES(?1, ?2) ON CONFLICT DO NOTHING",
             [&](PgQuery& st) { st.Bind(1, NormalEmail(group)).Bind(2, NormalEmail(member)); });
}

std::int64_t PgStore::UsageBytes(const std::string& owner) {
    const auto db = m_pool.Take();
    PgQuery st(*db,
               "SELECT COALESCE(SUM(size), 0) FROM entries WHERE owner = ?1 "
               "AND has_content = 1");
    st.Bind(1, owner);
    return st.Step() ? st.Int(0) : 0;
}

std::optional<std::string> PgStore::Meta(const std::string& key) {
    const auto db = m_pool.Take();
    return ReadMeta(*db, key);
}

void PgStore::SetMeta(const std::string& key, const std::string& value) {
    const auto db = m_pool.Take();
    PgTransaction tx(*db);
    WriteMeta(*db, key, value);
    tx.Commit();
}

}  // namespace tallowdesk::server
