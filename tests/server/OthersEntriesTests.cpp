#include <tinyxml2.h>

#include <algorithm>
#include <map>

#include "SqliteDb.h"
#include "WebPageFixture.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAtom = "Content-Type: application/atom+xml";
constexpr const char* kRoot = "/feeds/default/private/full/folder%3Aroot/contents";
constexpr const char* kStarred = "/feeds/default/private/full/-/starred";

std::string EntryPath(const StoredEntry& e) {
    return std::string("/feeds/default/private/full/") + e.kind + "%3A" + e.id;
}

std::string Contents(const StoredEntry& folder) {
    return EntryPath(folder) + "/contents";
}

// The body that files an existing entry into a folder.
std::string FileEntryXml(const StoredEntry& e) {
    return "<entry xmlns='http://www.w3.org/2005/Atom'><id>https://localhost/feeds/id/" + e.kind +
           "%3A" + e.id + "</id></entry>";
}

std::string StarXml(bool on) {
    return std::string(
               "<entry xmlns='http://www.w3.org/2005/Atom'>"
               "<category scheme='http://schemas.google.com/g/2005/labels' "
               "term='http://schemas.google.com/g/2005/labels#starred' label='") +
           (on ? "starred" : "") + "'/></entry>";
}

std::string TitleXml(const std::string& title) {
    return "<entry xmlns='http://www.w3.org/2005/Atom'><title>" + title + "</title></entry>";
}

// The gd:etag of the entry with this id in a feed or entry document; "" when
// it is not there.
std::string EtagIn(const std::string& xml, const std::string& id) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS) return {};
    const tinyxml2::XMLElement* root = doc.RootElement();
    auto matches = [&](const tinyxml2::XMLElement* entry) {
        const auto* idElement = entry->FirstChildElement("id");
        const char* text = idElement ? idElement->GetText() : nullptr;
        return text && std::string(text).find(id) != std::string::npos;
    };
    if (std::string(root->Name()) == "entry") {
        return matches(root) ? root->Attribute("gd:etag") : std::string();
    }
    for (const auto* e = root->FirstChildElement("entry"); e; e = e->NextSiblingElement("entry")) {
        if (matches(e)) return e->Attribute("gd:etag") ? e->Attribute("gd:etag") : "";
    }
    return {};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool Lists(const std::vector<std::string>& titles, const std::string& title) {
    return std::find(titles.begin(), titles.end(), title) != titles.end();
}

// Entries of other accounts: alice owns, bob and carol are given rights.
class OthersEntriesTest : public WebPageTest {
protected:
    void SetUp() override {
        WebPageTest::SetUp();
        m_alice = Token();
        m_bob = Token(kBob, kBobPassword);
        m_carol = Token(kCarol, kCarolPassword);
    }

    StoredEntry Doc(const std::string& title, const std::string& owner = kAlice,
                    const std::vector<std::string>& parents = {}) {
        return Make("document", title, "", "text", owner, parents);
    }

    StoredEntry Folder(const std::string& title, const std::string& owner) {
        return Make("folder", title, "", "", owner);
    }

    void Share(const StoredEntry& e, const std::string& who, const std::string& role) {
        TheStore().AddAclRule(e.id, "user", who, role);
    }

    // Files `e` into `folder` as `token`'s account does through the feed.
    void FileInto(const std::string& token, const StoredEntry& e, const StoredEntry& folder) {
        const Reply filed = GData("POST", Contents(folder), token, FileEntryXml(e), {kAtom});
        ASSERT_EQ(filed.status, 201) << filed.body;
    }

    std::vector<std::string> Titles(const std::string& path, const std::string& token) {
        const Reply feed = GData("GET", path, token);
        EXPECT_EQ(feed.status, 200) << path << feed.body;
        return EntryTitles(feed.body);
    }

    std::string m_alice, m_bob, m_carol;
    std::map<std::string, std::string> m_ids;  // by title
};

// A writer filed the owner's entry into a folder only the writer sees: the
// entry used to leave its owner's root, with no folder the owner could open.
TEST_F(OthersEntriesTest, FilingIntoSomeoneElsesFolderKeepsTheEntryInItsOwnersRoot) {
    const StoredEntry report = Doc("Report");
    const StoredEntry filed = Doc("Filed by alice");
    const StoredEntry albums = Folder("Albums", kAlice);
    Share(report, kBob, "writer");
    Share(filed, kBob, "writer");
    const StoredEntry hideout = Folder("Hideout", kBob);
    FileInto(m_bob, report, hideout);
    FileInto(m_bob, filed, hideout);
    // Alice files one into her own folder and bob takes it out of his: only
    // her own folder counts for her root.
    FileInto(m_alice, filed, albums);
    ASSERT_EQ(
        GData("DELETE", Contents(hideout) + "/document%3A" + filed.id, m_bob, {}, {"If-Match: *"})
            .status,
        200);
    FileInto(m_bob, filed, hideout);

    const auto root = Titles(kRoot, m_alice);
    EXPECT_TRUE(Lists(root, "Report"));
    EXPECT_FALSE(Lists(root, "Filed by alice"));
    EXPECT_EQ(Titles(Contents(albums), m_alice), (std::vector<std::string>{"Filed by alice"}));
    const auto page = SignedIn(kAlice, kPassword)->Send("GET", PlainUrl("/folderview?id=root"));
    EXPECT_TRUE(Has(page.body, ">Report</a>")) << page.body;

    // She opens it and is not shown the writer's folder, by id or by title.
    const Reply entry = GData("GET", EntryPath(report), m_alice);
    ASSERT_EQ(entry.status, 200);
    EXPECT_FALSE(Has(entry.body, hideout.id)) << entry.body;
    EXPECT_FALSE(Has(entry.body, "Hideout")) << entry.body;
    EXPECT_EQ(GData("GET", Contents(hideout), m_alice).status, 404);
    // The writer still finds it in his folder, with that folder named.
    EXPECT_TRUE(Lists(Titles(Contents(hideout), m_bob), "Report"));
    EXPECT_TRUE(Has(GData("GET", EntryPath(report), m_bob).body, hideout.id));
    EXPECT_TRUE(TheStore().CheckConsistency().empty());
}

// A folder can hold entries of other accounts that some of its readers may
// not open; those used to be listed to them with title, id, owner and size.
TEST_F(OthersEntriesTest, AFolderListsToItsReaderOnlyWhatTheReaderMayOpen) {
    const StoredEntry box = Folder("Box", kBob);
    Share(box, kCarol, "reader");
    const StoredEntry aliceFolder = Folder("Alice's shelf", kAlice);
    Share(aliceFolder, kCarol, "reader");
    struct Case {
        std::string title;
        std::string owner;
        std::string carolsRole;  // on the entry itself; "" for none
        bool viaAlicesFolder;
        bool carolSees;
    };
    const std::vector<Case> cases = {
        {"Bob own", kBob, "", false, true},
        {"Alice private", kAlice, "", false, false},
        {"Alice shared with carol", kAlice, "reader", false, true},
        {"Alice shelved", kAlice, "", true, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> parents;
        if (c.viaAlicesFolder) parents.push_back(aliceFolder.id);
        const StoredEntry e = Doc(c.title, c.owner, parents);
        if (c.owner != kBob) {
            Share(e, kBob, "writer");
            FileInto(m_bob, e, box);
        } else {
            TheStore().AddParent(e.id, box.id);
        }
        if (!c.carolsRole.empty()) Share(e, kCarol, c.carolsRole);
        m_ids[c.title] = e.id;
    }
    const Reply feed = GData("GET", Contents(box), m_carol);
    ASSERT_EQ(feed.status, 200);
    const auto carolFeed = EntryTitles(feed.body);
    const auto bobFeed = Titles(Contents(box), m_bob);
    const Reply page =
        SignedIn(kCarol, kCarolPassword)->Send("GET", PlainUrl("/folderview?id=" + box.id));
    ASSERT_EQ(page.status, 200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(Lists(carolFeed, c.title), c.carolSees);
        EXPECT_EQ(Has(feed.body, m_ids[c.title]), c.carolSees);
        EXPECT_EQ(Has(page.body, c.title), c.carolSees);
        EXPECT_EQ(Has(page.body, m_ids[c.title]), c.carolSees);
        EXPECT_TRUE(Lists(bobFeed, c.title));
        // What she is shown she can open.
        if (c.carolSees) {
            EXPECT_EQ(
                GData("GET", "/feeds/default/private/full/document%3A" + m_ids[c.title], m_carol)
                    .status,
                200);
        }
    }
}

// Pages of a folder with rows the reader may not open: each page is full
// while more follow, its next key is its last entry, every visible entry
// comes once, in order.
TEST_F(OthersEntriesTest, PagesOfAFolderWithHiddenRowsAreFullAndExact) {
    m_server->SetPageSize(3);
    const StoredEntry box = Folder("Box", kBob);
    Share(box, kCarol, "reader");
    std::vector<std::string> visible;  // newest first
    for (int i = 0; i < 14; ++i) {
        // Runs of hidden rows of different lengths, also across page ends.
        const bool hidden = i % 5 == 1 || i % 5 == 2 || i % 7 == 0;
        NewEntry n;
        n.kind = "document";
        n.title = (hidden ? "hidden " : "seen ") + std::to_string(i);
        n.parents = {box.id};
        n.time = 1700000000000 + i * 1000;
        TheStore().Create(hidden ? kAlice : kBob, n);
        if (!hidden) visible.insert(visible.begin(), n.title);
    }
    ASSERT_EQ(visible.size(), 7u);
    std::vector<std::string> walked;
    std::string next = Url(Contents(box));
    std::size_t pages = 0;
    while (!next.empty() && pages < 20) {
        ++pages;
        const Reply r = GData("GET", next.substr(next.find("/feeds")), m_carol);
        ASSERT_EQ(r.status, 200) << r.body;
        const auto titles = EntryTitles(r.body);
        next = NextLink(r.body);
        if (!next.empty()) {
            EXPECT_EQ(titles.size(), 3u) << "page " << pages;
        }
        walked.insert(walked.end(), titles.begin(), titles.end());
    }
    EXPECT_EQ(walked, visible);
    EXPECT_EQ(pages, 3u);
}

// Stars are each account's own: one account's star is seen by nobody else
// and changes nothing of the entry that others see.
TEST_F(OthersEntriesTest, EachAccountSeesOnlyItsOwnStar) {
    const std::vector<std::pair<std::string, std::string>> people = {
        {kAlice, m_alice}, {kBob, m_bob}, {kCarol, m_carol}};
    struct Case {
        std::string starrer;
        std::string title;
    };
    const std::vector<Case> cases = {
        {kAlice, "Starred by alice"}, {kBob, "Starred by bob"}, {kCarol, "Starred by carol"}};
    std::map<std::string, std::string> editedBefore;
    for (const auto& c : cases) {
        const StoredEntry e = Doc(c.title);
        Share(e, kBob, "writer");
        Share(e, kCarol, "reader");
        m_ids[c.title] = e.id;
        editedBefore[c.title] =
            Between(GData("GET", EntryPath(e), m_alice).body, "<app:edited", "</app:edited>");
        const std::string& token = std::find_if(people.begin(), people.end(), [&](const auto& p) {
                                       return p.first == c.starrer;
                                   })->second;
        const Reply put = GData("PUT", EntryPath(e), token, StarXml(true), {kAtom, "If-Match: *"});
        ASSERT_EQ(put.status, 200) << c.starrer << put.body;
        EXPECT_TRUE(Has(put.body, "label='starred'") || Has(put.body, "label=\"starred\""));
    }
    for (const auto& [who, token] : people) {
        const auto starred = Titles(kStarred, token);
        for (const auto& c : cases) {
            SCOPED_TRACE(who + " looks at " + c.title);
            const bool own = c.starrer == who;
            EXPECT_EQ(Lists(starred, c.title), own);
            const Reply entry =
                GData("GET", "/feeds/default/private/full/document%3A" + m_ids[c.title], token);
            ASSERT_EQ(entry.status, 200);
            EXPECT_EQ(Has(entry.body, "labels#starred"), own);
        }
    }
    // The owner's copy did not move: nobody else's star is an edit of hers.
    for (const auto& c : cases) {
        if (c.starrer == kAlice) continue;
        EXPECT_EQ(Between(GData("GET", "/feeds/default/private/full/document%3A" + m_ids[c.title],
                                m_alice)
                              .body,
                          "<app:edited", "</app:edited>"),
                  editedBefore[c.title])
            << c.title;
    }
    // Taking one's star away takes only one's own.
    const std::string both = "/feeds/default/private/full/document%3A" + m_ids["Starred by bob"];
    ASSERT_EQ(GData("PUT", both, m_alice, StarXml(true), {kAtom, "If-Match: *"}).status, 200);
    ASSERT_EQ(GData("PUT", both, m_bob, StarXml(false), {kAtom, "If-Match: *"}).status, 200);
    EXPECT_TRUE(Lists(Titles(kStarred, m_alice), "Starred by bob"));
    EXPECT_FALSE(Lists(Titles(kStarred, m_bob), "Starred by bob"));
    // A reader may star, but not rename.
    const Reply rename = GData("PUT", both, m_carol,
                               "<entry xmlns='http://www.w3.org/2005/Atom'><title>Mine</title>"
                               "</entry>",
                               {kAtom, "If-Match: *"});
    EXPECT_EQ(rename.status, 403);
}

// An entry is answered as its reader sees it, star included, so its etag is
// the one of that view: one account's copy used to pass for another's, and
// one account's star made everybody's copy stale.
TEST_F(OthersEntriesTest, EachAccountIsGivenTheEtagOfWhatItIsShown) {
    struct Case {
        std::string starrer;  // "" for nobody
        std::string reader;   // reads and changes the entry
        bool sameAsOthers;    // its etag equals the other account's
    };
    const std::vector<Case> cases = {
        {"", kAlice, true},    {"", kBob, true},      {kAlice, kAlice, false},
        {kAlice, kBob, false}, {kBob, kAlice, false}, {kBob, kBob, false},
    };
    const std::map<std::string, std::string> tokens = {{kAlice, m_alice}, {kBob, m_bob}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("starred by '" + c.starrer + "', read by " + c.reader);
        const std::string other = c.reader == kAlice ? kBob : kAlice;
        const std::string& mine = tokens.at(c.reader);
        const std::string& theirs = tokens.at(other);
        const StoredEntry e = Make("file", "Notes " + std::to_string(++n), "text/plain", "first");
        Share(e, kBob, "writer");
        const std::string stored = TheStore().GetEntry(e.id)->etag;
        if (!c.starrer.empty()) {
            ASSERT_EQ(GData("PUT", EntryPath(e), tokens.at(c.starrer), StarXml(true),
                            {kAtom, "If-Match: *"})
                          .status,
                      200);
        }
        const Reply own = GData("GET", EntryPath(e), mine);
        ASSERT_EQ(own.status, 200) << own.body;
        const std::string ownTag = own.Header("ETag");
        const std::string otherTag = GData("GET", EntryPath(e), theirs).Header("ETag");
        // Who has not starred it keeps the etag it had: a copy kept before
        // is still good, and another's star does not make it stale.
        EXPECT_EQ(ownTag == stored, c.starrer != c.reader) << ownTag;
        EXPECT_EQ(otherTag == stored, c.starrer != other) << otherTag;
        EXPECT_EQ(ownTag == otherTag, c.sameAsOthers);
        EXPECT_EQ(EtagIn(own.body, e.id), ownTag);
        EXPECT_EQ(EtagIn(GData("GET", "/feeds/default/private/full", mine).body, e.id), ownTag);

        EXPECT_EQ(GData("GET", EntryPath(e), mine, {}, {"If-None-Match: " + ownTag}).status, 304);
        EXPECT_EQ(GData("GET", EntryPath(e), mine, {}, {"If-None-Match: " + otherTag}).status,
                  c.sameAsOthers ? 304 : 200);
        if (!c.sameAsOthers) {
            EXPECT_EQ(GData("DELETE", EntryPath(e), mine, {}, {"If-Match: " + otherTag}).status,
                      412);
        }

        // Each change with the other account's etag, then with one's own.
        const std::string media = "/feeds/default/media/file%3A" + e.id;
        for (const bool content : {true, false}) {
            SCOPED_TRACE(content ? "content" : "title");
            auto change = [&](const std::string& ifMatch, const std::string& text) {
                return content ? GData("PUT", media, mine, text,
                                       {"Content-Type: text/plain", "If-Match: " + ifMatch})
                               : GData("PUT", EntryPath(e), mine, TitleXml(text),
                                       {kAtom, "If-Match: " + ifMatch});
            };
            const std::string othersNow = GData("GET", EntryPath(e), theirs).Header("ETag");
            EXPECT_EQ(change(othersNow, "by another's etag").status, c.sameAsOthers ? 200 : 412);
            const std::string ownNow = GData("GET", EntryPath(e), mine).Header("ETag");
            const Reply changed = change(ownNow, "by my own etag");
            EXPECT_EQ(changed.status, 200) << changed.body;
            const Reply after = GData("GET", EntryPath(e), mine);
            EXPECT_NE(after.Header("ETag"), ownNow);
            EXPECT_EQ(changed.Header("ETag"), after.Header("ETag"));
            EXPECT_EQ(Has(after.body, "labels#starred"), c.starrer == c.reader);
        }
        EXPECT_EQ(TheStore().GetEntry(e.id)->title, "by my own etag");
    }
}

// The folders an entry is in that its reader may not open are left out of
// what the reader is shown; whether they are changes the reader's etag.
TEST_F(OthersEntriesTest, AnEtagFollowsWhichFoldersTheReaderIsShown) {
    const StoredEntry shelf = Folder("Shelf", kAlice);
    const StoredEntry e = Doc("On the shelf", kAlice, {shelf.id});
    Share(e, kBob, "writer");
    const std::string stored = TheStore().GetEntry(e.id)->etag;
    const Reply alices = GData("GET", EntryPath(e), m_alice);
    const Reply hidden = GData("GET", EntryPath(e), m_bob);
    ASSERT_EQ(hidden.status, 200);
    EXPECT_EQ(alices.Header("ETag"), stored);
    EXPECT_FALSE(Has(hidden.body, shelf.id));
    const std::string bobsBefore = hidden.Header("ETag");
    EXPECT_NE(bobsBefore, stored);
    EXPECT_EQ(EtagIn(GData("GET", "/feeds/default/private/full", m_bob).body, e.id), bobsBefore);
    EXPECT_EQ(GData("GET", EntryPath(e), m_bob, {}, {"If-None-Match: " + bobsBefore}).status, 304);

    // Shown the folder now: his old copy lacks it.
    Share(shelf, kBob, "reader");
    const Reply shown = GData("GET", EntryPath(e), m_bob);
    EXPECT_TRUE(Has(shown.body, shelf.id));
    EXPECT_EQ(shown.Header("ETag"), stored);
    EXPECT_EQ(EtagIn(GData("GET", "/feeds/default/private/full", m_bob).body, e.id), stored);
    EXPECT_EQ(GData("GET", EntryPath(e), m_bob, {}, {"If-None-Match: " + bobsBefore}).status, 200);
    EXPECT_EQ(
        GData("PUT", EntryPath(e), m_bob, TitleXml("Moved"), {kAtom, "If-Match: " + bobsBefore})
            .status,
        412);
    EXPECT_EQ(
        GData("PUT", EntryPath(e), m_bob, TitleXml("Moved"), {kAtom, "If-Match: " + stored}).status,
        200);
}

// A star of an entry the account may no longer open is not listed.
TEST_F(OthersEntriesTest, TheStarredListShowsOnlyWhatTheAccountMayStillOpen) {
    const StoredEntry e = Doc("Once shared");
    Share(e, kCarol, "reader");
    ASSERT_EQ(GData("PUT", EntryPath(e), m_carol, StarXml(true), {kAtom, "If-Match: *"}).status,
              200);
    EXPECT_EQ(Titles(kStarred, m_carol), (std::vector<std::string>{"Once shared"}));
    ASSERT_TRUE(TheStore().RemoveAclRule(e.id, "user", kCarol));
    EXPECT_TRUE(Titles(kStarred, m_carol).empty());
}

// A listing reads the folders of its entries only when one of them is in
// a folder at all. The owner's root holds entries another account filed
// into its own folders, so every root page, however short, still has to
// name those folders the owner may open, and only those.
TEST_F(OthersEntriesTest, ListedEntriesNameExactlyTheFoldersTheReaderMayOpen) {
    const StoredEntry common = Folder("Common", kBob);
    const StoredEntry hideout = Folder("Hideout", kBob);
    Share(common, kAlice, "reader");
    struct Case {
        const char* title;
        const StoredEntry* folder;  // where bob files it, if anywhere
        bool named;                 // alice is shown that folder
    };
    const Case cases[] = {
        {"Loose", nullptr, false},
        {"In the common folder", &common, true},
        {"In the hideout", &hideout, false},
        {"Also loose", nullptr, false},
    };
    for (const Case& c : cases) {
        const StoredEntry e = Doc(c.title);
        if (!c.folder) continue;
        Share(e, kBob, "writer");
        FileInto(m_bob, e, *c.folder);
    }
    for (const std::string& path :
         {std::string(kRoot), std::string("/feeds/default/private/full")}) {
        for (const int pageSize : {1, 2, 10}) {
            // Every page, by its next links: an entry in a folder alone on a
            // page, beside loose ones, and just past a page's end.
            std::map<std::string, std::string> entryXml;
            std::string next = path + "?max-results=" + std::to_string(pageSize);
            for (int pages = 0; !next.empty() && pages < 20; ++pages) {
                const Reply page = GData("GET", next, m_alice);
                ASSERT_EQ(page.status, 200) << next << page.body;
                for (std::size_t at = page.body.find("<entry"); at != std::string::npos;
                     at = page.body.find("<entry", at + 1)) {
                    const std::string one =
                        page.body.substr(at, page.body.find("</entry>", at) - at);
                    const auto titles = EntryTitles("<feed>" + one + "</entry></feed>");
                    if (titles.size() == 1) entryXml[titles[0]] = one;
                }
                next = NextLink(page.body);
                if (next.rfind("https://", 0) == 0) next = next.substr(next.find('/', 8));
            }
            for (const Case& c : cases) {
                SCOPED_TRACE(path + " pages of " + std::to_string(pageSize) + ": " + c.title);
                ASSERT_EQ(entryXml.count(c.title), 1u);
                const std::string& xml = entryXml[c.title];
                EXPECT_EQ(Has(xml, "2007#parent"), c.named) << xml;
                EXPECT_EQ(Has(xml, common.id) && Has(xml, "Common"), c.named) << xml;
                EXPECT_FALSE(Has(xml, hideout.id) || Has(xml, "Hideout")) << xml;
            }
        }
    }
}

// A data folder of an older version: one star per entry, and folders of
// other accounts counted as the owner's. On opening the star becomes the
// owner's and the entry is back in the owner's root.
TEST(OthersEntriesStoreTest, AnOlderDatabaseKeepsTheOwnersStarAndRoot) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    constexpr const char* kAliceAddress = "alice@example.test";
    constexpr const char* kBobAddress = "bob@example.test";
    std::string starred, filed, shelf;
    {
        Store store(data, 1000);
        store.AddAccount(kAliceAddress, "secret", "Alice");
        store.AddAccount(kBobAddress, "secret", "Bob");
        NewEntry d;
        d.kind = "document";
        d.title = "Starred";
        starred = store.Create(kAliceAddress, d).id;
        store.AddAclRule(starred, "user", kBobAddress, "writer");
        d.title = "Filed";
        filed = store.Create(kAliceAddress, d).id;
        NewEntry f;
        f.kind = "folder";
        f.title = "Bob's";
        store.AddParent(filed, store.Create(kBobAddress, f).id);
        f.title = "Alice's";
        shelf = store.Create(kAliceAddress, f).id;
    }
    {
        // As the older version left it.
        SqliteDb db(data + "/service.db");
        db.Exec(
            "DROP TRIGGER parents_own_added; DROP TRIGGER parents_own_removed;"
            "ALTER TABLE parents DROP COLUMN own; DELETE FROM stars;"
            "CREATE TRIGGER parents_count_added AFTER INSERT ON parents BEGIN "
            "UPDATE entries SET parent_count = parent_count + 1 WHERE id = NEW.entry; END;"
            "CREATE TRIGGER parents_count_removed AFTER DELETE ON parents BEGIN "
            "UPDATE entries SET parent_count = parent_count - 1 WHERE id = OLD.entry; END;"
            "DELETE FROM meta WHERE key = 'stars';"
            "UPDATE entries SET starred = 1 WHERE title = 'Starred';"
            "UPDATE entries SET parent_count = 1 WHERE title = 'Filed';");
    }
    Store store(data, 1000);
    EXPECT_TRUE(store.CheckConsistency().empty());
    struct Case {
        std::string user;
        ListScope scope;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {kAliceAddress, ListScope::Starred, {"Starred"}},
        {kBobAddress, ListScope::Starred, {}},
        {kAliceAddress, ListScope::Root, {"Filed", "Starred"}},
    };
    for (const auto& c : cases) {
        ListQuery q;
        q.user = c.user;
        q.scope = c.scope;
        std::vector<std::string> titles;
        for (const auto& e : store.List(q).entries) titles.push_back(e.title);
        EXPECT_EQ(titles, c.titles) << c.user;
    }
    EXPECT_TRUE(store.GetEntryFor(kAliceAddress, starred)->starred);
    EXPECT_FALSE(store.GetEntryFor(kBobAddress, starred)->starred);
    // Counted once from now on, by the new rules only.
    store.AddParent(starred, shelf);
    EXPECT_TRUE(store.CheckConsistency().empty());
    ListQuery root;
    root.user = kAliceAddress;
    root.scope = ListScope::Root;
    ASSERT_EQ(store.List(root).entries.size(), 1u);
    EXPECT_EQ(store.List(root).entries[0].title, "Filed");
}

}  // namespace
}  // namespace tallowdesk::server::test
