// Feed pages that follow one another by start-key, the place after the last
// entry of the page before, and the statement cache under the store.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "PageKey.h"
#include "ServerTestSupport.h"
#include "SqliteDb.h"
#include "SqliteStatement.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAliceAddress = "alice@example.test";

std::string Query(const std::string& url) {
    const auto question = url.find('?');
    return question == std::string::npos ? std::string() : url.substr(question + 1);
}

std::string StartKeyOf(const std::string& url) {
    for (const auto& [name, value] : ParseForm(Query(url))) {
        if (name == "start-key") return value;
    }
    return {};
}

class PagingTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer(4);
        m_token = Token();
        m_folder = MakeEntry("folder", "Walked", {}, Now() - 3600 * 1000);
    }

    static std::int64_t Now() { return NowMillis(); }
    Store& GetStore() { return m_server->GetStore(); }

    // An entry made straight in the store, with the edit time given.
    std::string MakeEntry(const std::string& kind, const std::string& title,
                          const std::vector<std::string>& parents, std::int64_t time,
                          bool starred = false, const std::string& id = {}) {
        NewEntry n;
        n.id = id;
        n.kind = kind;
        n.title = title;
        n.parents = parents;
        n.time = time;
        n.starred = starred;
        return GetStore().Create(kAlice, n).id;
    }

    std::string Contents(const std::string& folderId) const {
        return std::string(kList) + "/folder%3A" + folderId + "/contents";
    }

    // One page: its titles and its next link ("" on the last page).
    struct Page {
        std::vector<std::string> titles;
        std::string next;
    };
    Page Fetch(const std::string& url) {
        const Reply r = GData("GET", url, m_token);
        EXPECT_EQ(r.status, 200) << url << "\n" << r.body;
        return {EntryTitles(r.body), NextLink(r.body)};
    }

    // Every page from `url` on; at most 100 pages, so a loop fails the test.
    std::vector<std::string> Walk(std::string url) {
        std::vector<std::string> seen;
        for (int pages = 0; !url.empty(); ++pages) {
            if (pages == 100) {
                ADD_FAILURE() << "the walk does not end";
                break;
            }
            const Page page = Fetch(url);
            seen.insert(seen.end(), page.titles.begin(), page.titles.end());
            url = page.next;
        }
        return seen;
    }

    std::string m_token;
    std::string m_folder;
};

// A walk sees each entry as it stood when the walk passed its place. The
// rule: a change (new title, star, move, a new entry) gives the entry a new
// edit time and so moves it to the front of the listing, which the walk has
// already passed. So an entry changed during the walk is not returned again
// if it was returned before, and not returned at all if the walk had not
// reached it yet; a new entry is not returned; an entry removed before the
// walk reached it is not returned; every other entry comes exactly once. The
// next listing from the start shows the changed and new entries first.
TEST_F(PagingTest, KeyWalkReturnsEachUnchangedEntryOnceWhileTheFolderChanges) {
    const std::int64_t base = Now() - 60 * 1000;
    std::map<std::string, std::string> ids;  // title -> id
    for (int i = 0; i < 20; ++i) {
        const std::string title = "item " + std::to_string(100 + i);
        // Pairs share an edit time, so ties sit on page boundaries too; the
        // ids order each pair like its titles.
        ids[title] = MakeEntry("document", title, {m_folder}, base + i / 2 * 10, false,
                               "e" + std::to_string(100 + i));
    }
    // Newest first: item 119, 118, ... item 100.
    Page page = Fetch(Contents(m_folder));
    ASSERT_EQ(page.titles,
              (std::vector<std::string>{"item 119", "item 118", "item 117", "item 116"}));
    ASSERT_FALSE(StartKeyOf(page.next).empty()) << page.next;
    std::vector<std::string> seen = page.titles;

    // Between the pages: the page's last entry is deleted, one entry not
    // reached yet is deleted, one trashed
    // and one taken out of the folder; one already returned is renamed, one
    // not reached yet is renamed, and a new entry arrives.
    GetStore().Delete(ids["item 116"]);  // the very entry the start-key names
    GetStore().Delete(ids["item 112"]);
    GetStore().Trash(ids["item 108"]);
    ASSERT_TRUE(GetStore().RemoveParent(ids["item 104"], m_folder));
    ASSERT_TRUE(GetStore().Update(ids["item 118"], kAlice, "item 118 renamed", {}, "*"));
    ASSERT_TRUE(GetStore().Update(ids["item 106"], kAlice, "item 106 renamed", {}, "*"));
    MakeEntry("document", "item new", {m_folder}, 0);

    std::vector<std::string> rest = Walk(page.next);
    seen.insert(seen.end(), rest.begin(), rest.end());

    std::vector<std::string> expected;
    for (int i = 119; i >= 100; --i) {
        if (i == 112 || i == 108 || i == 104 || i == 106) continue;
        expected.push_back("item " + std::to_string(i));
    }
    EXPECT_EQ(seen, expected);

    // A fresh walk starts with the changed and the new entries.
    const std::vector<std::string> again = Walk(Contents(m_folder));
    ASSERT_EQ(again.size(), 17u);
    EXPECT_EQ(std::set<std::string>(again.begin(), again.begin() + 3),
              (std::set<std::string>{"item 118 renamed", "item 106 renamed", "item new"}));
}

// The same rule for the root folder, which reads its own index: entries
// filed into a folder leave it, entries taken out of every folder join it,
// and entries filed in folders never show up in it.
TEST_F(PagingTest, RootWalkReturnsEachUnchangedEntryOnceWhileEntriesMoveInAndOut) {
    const std::int64_t base = Now() - 60 * 1000;
    std::map<std::string, std::string> ids;  // title -> id
    for (int i = 0; i < 20; ++i) {
        const std::string title = "root " + std::to_string(100 + i);
        ids[title] = MakeEntry("document", title, {}, base + i / 2 * 10, false,
                               "r" + std::to_string(100 + i));
        // Newer entries inside a folder, between every pair of root ones.
        const std::string filed = "filed " + std::to_string(i);
        ids[filed] = MakeEntry("document", filed, {m_folder}, base + i * 10 + 5);
    }
    const std::string root = Contents("root");
    Page page = Fetch(root);
    ASSERT_EQ(page.titles,
              (std::vector<std::string>{"root 119", "root 118", "root 117", "root 116"}));
    std::vector<std::string> seen = page.titles;

    GetStore().Delete(ids["root 116"]);  // the entry the start-key names
    GetStore().Delete(ids["root 112"]);
    GetStore().Trash(ids["root 108"]);
    GetStore().AddParent(ids["root 104"], m_folder);
    ASSERT_TRUE(GetStore().Update(ids["root 118"], kAlice, "root 118 renamed", {}, "*"));
    ASSERT_TRUE(GetStore().Update(ids["root 106"], kAlice, "root 106 renamed", {}, "*"));
    MakeEntry("document", "root new", {}, 0);
    ASSERT_TRUE(GetStore().RemoveParent(ids["filed 3"], m_folder));

    const std::vector<std::string> rest = Walk(page.next);
    seen.insert(seen.end(), rest.begin(), rest.end());
    std::vector<std::string> expected;
    for (int i = 119; i >= 100; --i) {
        if (i == 112 || i == 108 || i == 104 || i == 106) continue;
        expected.push_back("root " + std::to_string(i));
    }
    expected.push_back("Walked");  // the folder itself, older than the rest
    EXPECT_EQ(seen, expected);

    const std::vector<std::string> again = Walk(root);
    ASSERT_EQ(again.size(), 19u);
    EXPECT_EQ(
        std::set<std::string>(again.begin(), again.begin() + 4),
        (std::set<std::string>{"root 118 renamed", "root 106 renamed", "root new", "filed 3"}));
    EXPECT_TRUE(GetStore().CheckConsistency().empty());
}

// Shared-with-me merges the rules naming the reader with those naming a
// group the reader is in: an entry both reach comes once, a rule added to
// an old entry during the walk puts it at its place, a rule removed before
// the walk reached it takes it out; nobody's own entries, entries shared
// with nobody and entries open to a whole domain are never listed.
TEST_F(PagingTest, SharedWithMeWalkMergesUserAndGroupRulesExactly) {
    constexpr const char* kBob = "bob@example.test";
    constexpr const char* kTeam = "team@example.test";
    GetStore().AddAccount(kBob, kPassword, "Bob");
    GetStore().AddGroupMember(kTeam, kBob);
    const std::string bobToken = Token(kBob);
    const std::int64_t base = Now() - 60 * 1000;
    std::map<std::string, std::string> ids;  // title -> id
    for (int i = 0; i < 20; ++i) {
        const std::string title = "shared " + std::to_string(100 + i);
        ids[title] = MakeEntry("document", title, {}, base + i / 2 * 10, false,
                               "s" + std::to_string(100 + i));
        if (i % 2 == 0 || i % 5 == 0) GetStore().AddAclRule(ids[title], "user", kBob, "reader");
        if (i % 2 == 1 || i % 5 == 0) GetStore().AddAclRule(ids[title], "group", kTeam, "writer");
    }
    for (int i = 0; i < 10; ++i) {
        ids["private " + std::to_string(i)] =
            MakeEntry("document", "private " + std::to_string(i), {}, base + i * 10 + 5);
        const std::string open = MakeEntry("document", "open " + std::to_string(i), {}, base + i);
        GetStore().AddAclRule(open, "domain", "example.test", "reader");
        NewEntry own;
        own.kind = "document";
        own.title = "bob " + std::to_string(i);
        own.time = base + i * 10 + 7;
        GetStore().AddAclRule(GetStore().Create(kBob, own).id, "user", kAlice, "reader");
    }
    const std::string sharedList = std::string(kList) + "/-/-mine";
    const auto fetch = [&](const std::string& url) {
        const Reply r = GData("GET", url, bobToken);
        EXPECT_EQ(r.status, 200) << url << "\n" << r.body;
        return Page{EntryTitles(r.body), NextLink(r.body)};
    };
    Page page = fetch(sharedList);
    ASSERT_EQ(page.titles,
              (std::vector<std::string>{"shared 119", "shared 118", "shared 117", "shared 116"}));
    std::vector<std::string> seen = page.titles;

    GetStore().Delete(ids["shared 116"]);  // the entry the start-key names
    ASSERT_TRUE(GetStore().RemoveAclRule(ids["shared 112"], "user", kBob));
    GetStore().Trash(ids["shared 108"]);
    ASSERT_TRUE(GetStore().Update(ids["shared 118"], kAlice, "shared 118 renamed", {}, "*"));
    ASSERT_TRUE(GetStore().Update(ids["shared 106"], kAlice, "shared 106 renamed", {}, "*"));
    GetStore().AddAclRule(ids["private 2"], "user", kBob, "reader");
    GetStore().AddAclRule(MakeEntry("document", "shared new", {}, 0), "group", kTeam, "reader");

    for (std::string url = page.next; !url.empty();) {
        ASSERT_LT(seen.size(), 100u) << "the walk does not end";
        const Page next = fetch(url);
        seen.insert(seen.end(), next.titles.begin(), next.titles.end());
        url = next.next;
    }
    std::vector<std::string> expected;
    for (int i = 119; i >= 100; --i) {
        if (i == 112 || i == 108 || i == 106) continue;
        expected.push_back("shared " + std::to_string(i));
        if (i == 107) expected.push_back("private 2");
    }
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(GetStore().CheckConsistency().empty());
}

// Many entries edited in the same millisecond: a key made of the time alone
// would skip or repeat them at page boundaries.
TEST_F(PagingTest, EntriesWithTheSameEditTimePageWithoutGapsOrRepeats) {
    const std::int64_t time = Now() - 1000;
    std::vector<std::string> ids;
    for (int i = 0; i < 23; ++i) {
        ids.push_back(
            MakeEntry("spreadsheet", "tie " + std::to_string(i), {m_folder}, time, i % 2 == 0));
    }
    struct Case {
        std::string url;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {Contents(m_folder), 23},
        {std::string(kList) + "?showfolders=false", 23},
        {std::string(kList) + "/-/mine/spreadsheet", 23},
        {std::string(kList) + "/-/starred", 12},
        {std::string(kList) + "?q=tie", 23},
        {std::string(kList) + "?q=tie&max-results=3", 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const std::vector<std::string> seen = Walk(c.url);
        EXPECT_EQ(seen.size(), c.count);
        EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), c.count);
    }
    // The other parameters of the first page survive into every next link.
    const Page first = Fetch(std::string(kList) + "?q=tie&max-results=3");
    EXPECT_EQ(first.titles.size(), 3u);
    const std::string query = Query(first.next);
    EXPECT_EQ(query.rfind("q=tie&max-results=3&start-key=", 0), 0u) << query;
    const Page second = Fetch(first.next);
    EXPECT_EQ(Query(second.next).rfind("q=tie&max-results=3&start-key=", 0), 0u) << second.next;
}

TEST_F(PagingTest, NextLinkCarriesTheStartIndexOfItsPage) {
    for (int i = 0; i < 9; ++i) MakeEntry("document", "n" + std::to_string(i), {m_folder}, 0);
    const Reply first = GData("GET", Contents(m_folder), m_token);
    const Reply second = GData("GET", NextLink(first.body), m_token);
    const Reply third = GData("GET", NextLink(second.body), m_token);
    EXPECT_EQ(Between(first.body, "<openSearch:startIndex>", "<"), "1");
    EXPECT_EQ(Between(second.body, "<openSearch:startIndex>", "<"), "5");
    EXPECT_EQ(Between(third.body, "<openSearch:startIndex>", "<"), "9");
    EXPECT_EQ(NextLink(third.body), "");
    // A client that counts for itself still gets its page by start-index.
    EXPECT_EQ(EntryTitles(GData("GET", Contents(m_folder) + "?start-index=5", m_token).body),
              EntryTitles(second.body));
}

TEST_F(PagingTest, BadStartKeyIsRefusedWithAGDataError) {
    for (int i = 0; i < 6; ++i) MakeEntry("document", "k" + std::to_string(i), {m_folder}, 0);
    const std::string good = StartKeyOf(Fetch(Contents(m_folder)).next);
    ASSERT_FALSE(good.empty());
    std::string flipped = good;
    flipped[flipped.size() / 2] = flipped[flipped.size() / 2] == 'A' ? 'B' : 'A';
    const std::string foreign = EncodePageKey({Now(), "someid", 4}, "another service's secret");

    struct Case {
        std::string name;
        std::string query;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"empty", "start-key=", "Invalid value for start-key."},
        {"not base64", "start-key=%21%21%21%21", "Invalid value for start-key."},
        {"cut short", "start-key=" + good.substr(0, good.size() - 3),
         "Invalid value for start-key."},
        {"one character changed", "start-key=" + flipped, "Invalid value for start-key."},
        {"signed elsewhere", "start-key=" + foreign, "Invalid value for start-key."},
        {"very long", "start-key=" + std::string(2000, 'A'), "Invalid value for start-key."},
        {"with start-index", "start-key=" + good + "&start-index=5",
         "Give either start-key or start-index, not both."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply r = GData("GET", Contents(m_folder) + "?" + c.query, m_token);
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(r.Header("Content-Type"), "application/vnd.google.gdata.error+xml");
        EXPECT_NE(r.body.find("<code>invalidParameter</code><internalReason>" + c.reason +
                              "</internalReason>"),
                  std::string::npos)
            << r.body;
    }
    EXPECT_EQ(GData("GET", Contents(m_folder) + "?start-key=" + good, m_token).status, 200);
}

TEST_F(PagingTest, NextLinkStillWorksAfterARestart) {
    const std::int64_t base = Now() - 1000;
    for (int i = 0; i < 6; ++i) {
        MakeEntry("document", "r" + std::to_string(i), {m_folder}, base + i * 10);
    }
    const Page first = Fetch(Contents(m_folder));
    ASSERT_FALSE(first.next.empty());
    m_client.reset();
    m_server->Stop();
    m_server.reset();
    StartServer(4);
    m_token = Token();
    const std::string path = first.next.substr(first.next.find("/feeds/"));
    const Page second = Fetch(path);
    EXPECT_EQ(second.titles, (std::vector<std::string>{"r1", "r0"}));
}

// A data folder written before folder contents were ordered by their own
// index: the first opening adds the edit times to the folder rows.
TEST(PagingStoreTest, OlderDatabaseGetsFolderOrderOnOpening) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    std::string folder;
    {
        Store store(data, 1000, TestDatabase(data));
        store.AddAccount(kAliceAddress, "secret", "Alice");
        NewEntry f;
        f.kind = "folder";
        f.title = "Old";
        folder = store.Create(kAliceAddress, f).id;
        for (int i = 0; i < 5; ++i) {
            NewEntry d;
            d.kind = "document";
            d.title = "old " + std::to_string(i);
            d.parents = {folder};
            d.time = 1600000000000 + i * 1000;
            store.Create(kAliceAddress, d);
        }
    }
    {
        SqliteDb db(data + "/service.db");
        db.Exec(
            "DROP TRIGGER parents_take_edited; DROP TRIGGER entries_pass_edited;"
            "DROP INDEX parents_order; DROP INDEX entries_order; DROP INDEX entries_owner_order;"
            "ALTER TABLE parents DROP COLUMN edited;"
            "CREATE INDEX entries_owner ON entries(owner, edited);");
    }
    Store store(data, 1000, TestDatabase(data));
    EXPECT_TRUE(store.CheckConsistency().empty());
    ListQuery q;
    q.user = kAliceAddress;
    q.scope = ListScope::Folder;
    q.folderId = folder;
    q.limit = 2;
    std::vector<std::string> titles;
    for (int pages = 0; pages < 10; ++pages) {
        const ListResult r = store.List(q);
        for (const auto& e : r.entries) titles.push_back(e.title);
        if (!r.more) break;
        q.after = ListPosition{r.entries.back().edited, r.entries.back().id};
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"old 4", "old 3", "old 2", "old 1", "old 0"}));
}

// A data folder written before the root folder and shared-with-me had
// their own orders: the first opening counts each entry's folders and gives
// the rules their entries' edit times.
TEST(PagingStoreTest, OlderDatabaseGetsRootAndSharedOrderOnOpening) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    constexpr const char* kBob = "bob@example.test";
    {
        Store store(data, 1000, TestDatabase(data));
        store.AddAccount(kAliceAddress, "secret", "Alice");
        store.AddAccount(kBob, "secret", "Bob");
        NewEntry f;
        f.kind = "folder";
        f.title = "Old";
        f.time = 1500000000000;
        const std::string folder = store.Create(kAliceAddress, f).id;
        for (int i = 0; i < 4; ++i) {
            NewEntry d;
            d.kind = "document";
            d.title = "old " + std::to_string(i);
            if (i % 2 == 1) d.parents = {folder};
            d.time = 1600000000000 + i * 1000;
            const std::string id = store.Create(kAliceAddress, d).id;
            store.AddAclRule(id, "user", kBob, "reader");
        }
    }
    {
        SqliteDb db(data + "/service.db");
        db.Exec(
            "DROP TRIGGER acl_take_edited; DROP TRIGGER entries_pass_edited_acl;"
            "DROP TRIGGER parents_own_added; DROP TRIGGER parents_own_removed;"
            "DROP INDEX entries_root_order; DROP INDEX acl_listed_order;"
            "ALTER TABLE entries DROP COLUMN parent_count; ALTER TABLE acl DROP COLUMN edited;"
            "ALTER TABLE parents DROP COLUMN own;");
    }
    Store store(data, 1000, TestDatabase(data));
    EXPECT_TRUE(store.CheckConsistency().empty());
    struct Case {
        std::string user;
        ListScope scope;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {kAliceAddress, ListScope::Root, {"old 2", "old 0", "Old"}},
        {kBob, ListScope::SharedWithMe, {"old 3", "old 2", "old 1", "old 0"}},
    };
    for (const Case& c : cases) {
        ListQuery q;
        q.user = c.user;
        q.scope = c.scope;
        q.includeFolders = true;
        q.limit = 1;
        std::vector<std::string> titles;
        for (int pages = 0; pages < 10; ++pages) {
            const ListResult r = store.List(q);
            for (const auto& e : r.entries) titles.push_back(e.title);
            if (!r.more) break;
            q.after = ListPosition{r.entries.back().edited, r.entries.back().id};
        }
        EXPECT_EQ(titles, c.titles);
    }
}

TEST(PageKeyTest, KeysRoundTripAndRefuseAnythingElse) {
    const std::vector<PageKey> keys = {
        {1700000000123, "AbC_-1234567890123456789012345", 100},
        {0, "x", 0},
        {-5, "negative time", 7},
        {INT64_MAX, std::string(200, 'z'), INT64_MAX},
    };
    for (const PageKey& key : keys) {
        const std::string text = EncodePageKey(key, "secret");
        EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789-_"),
                  std::string::npos);
        const auto back = DecodePageKey(text, "secret");
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(back->edited, key.edited);
        EXPECT_EQ(back->id, key.id);
        EXPECT_EQ(back->position, key.position);
        EXPECT_FALSE(DecodePageKey(text, "other"));
        EXPECT_FALSE(DecodePageKey(text + "A", "secret"));
    }
    EXPECT_FALSE(DecodePageKey("", "secret"));
    EXPECT_FALSE(DecodePageKey("EAEaFgoSCb2YGEPMAAACAG", "secret"));
}

// The cache behind every store statement.
TEST(StatementCacheTest, StatementsAreReusedResetAndNeverShared) {
    TempDir dir;
    SqliteDb db((dir.Path() / "cache.db").string());
    db.Exec("CREATE TABLE t(v INTEGER); INSERT INTO t VALUES (1), (2), (3);");
    const std::size_t before = db.PreparedCount();
    for (int i = 0; i < 5; ++i) {
        SqliteStatement st(db, "SELECT ?1");
        st.Bind(1, std::int64_t{i});
        ASSERT_TRUE(st.Step());
        EXPECT_EQ(st.Int(0), i);
    }
    EXPECT_EQ(db.PreparedCount(), before + 1);
    {
        // A reused statement has no bindings left from its last use.
        SqliteStatement st(db, "SELECT ?1");
        ASSERT_TRUE(st.Step());
        EXPECT_FALSE(st.OptText(0));
    }
    {
        // The same SQL twice at once: two statements, each with its own rows.
        SqliteStatement outer(db, "SELECT v FROM t ORDER BY v");
        ASSERT_TRUE(outer.Step());
        SqliteStatement inner(db, "SELECT v FROM t ORDER BY v");
        ASSERT_TRUE(inner.Step());
        ASSERT_TRUE(inner.Step());
        EXPECT_EQ(inner.Int(0), 2);
        EXPECT_EQ(outer.Int(0), 1);
    }
    EXPECT_EQ(db.PreparedCount(), before + 3);
    EXPECT_EQ(db.IdleCount(), 3u);
}

// A statement given back in the middle of its rows must not keep its read
// open: that would pin an old snapshot and stop WAL checkpoints.
TEST(StatementCacheTest, StatementLeftMidReadReleasesItsSnapshot) {
    TempDir dir;
    const std::string path = (dir.Path() / "cache.db").string();
    SqliteDb db(path);
    db.Exec("CREATE TABLE t(v INTEGER); INSERT INTO t VALUES (1), (2), (3);");
    {
        SqliteStatement st(db, "SELECT v FROM t");
        ASSERT_TRUE(st.Step());
    }
    SqliteDb other(path);
    other.Exec("INSERT INTO t VALUES (4)");
    int logFrames = -1, checkpointed = -1;
    ASSERT_EQ(sqlite3_wal_checkpoint_v2(other.Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                        &logFrames, &checkpointed),
              SQLITE_OK);
    SqliteStatement count(db, "SELECT count(*) FROM t");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 4);
}

}  // namespace
}  // namespace tallowdesk::server::test
