// Who may see which web page: the same rules as the feeds, for signed-in
// visitors and for visitors without a session.
#include <string>
#include <vector>

#include "WebPageFixture.h"
#include "web/WebCommon.h"

namespace tallowdesk::server::test {
namespace {

std::string PagePath(const StoredEntry& e) {
    if (e.kind == "folder") return "/folderview?id=" + e.id;
    if (e.kind == "spreadsheet") return "/spreadsheet/ccc?key=" + e.id;
    if (e.kind == "document") return "/document/d/" + e.id + "/edit";
    return "/file/d/" + e.id + "/edit";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class WebAccessTest : public WebPageTest {};

TEST_F(WebAccessTest, PagesFollowTheFeedsAccessRules) {
    const auto folder = Make("folder", "Team folder", "", "");
    const auto inFolder =
        Make("document", "Plan in folder", "", "<p>plan</p>", kAlice, {folder.id});
    const auto priv = Make("document", "Private notes", "", "<p>mine</p>");
    const auto shared = Make("document", "Shared notes", "", "<p>ours</p>");
    const auto pub = Make("file", "Public leaflet.txt", "text/plain", "for everyone");
    const auto trashed = Make("document", "Old draft", "", "<p>old</p>");
    const auto byGroup = Make("spreadsheet", "Group sheet", "", "a,b\n1,2\n");
    TheStore().AddAclRule(shared.id, "user", kBob, "reader");
    TheStore().AddAclRule(pub.id, "default", "", "reader");
    TheStore().AddAclRule(trashed.id, "user", kBob, "reader");
    TheStore().Trash(trashed.id);
    TheStore().AddAclRule(folder.id, "user", kBob, "writer");
    TheStore().AddGroupMember("team@groups.example.test", kBob);
    TheStore().AddAclRule(byGroup.id, "group", "team@groups.example.test", "reader");

    auto alice = SignedIn(kAlice, kPassword);
    auto bob = SignedIn(kBob, kBobPassword);
    auto carol = SignedIn(kCarol, kCarolPassword);
    auto nobody = Browser();
    struct Case {
        StoredEntry entry;
        long owner, reader, stranger, noSession;
    };
    // 302: sent to the sign-in form; 404: signed in, but no access.
    const std::vector<Case> cases = {
        {priv, 200, 404, 404, 302},    {shared, 200, 200, 404, 302}, {pub, 200, 200, 200, 200},
        {trashed, 200, 200, 404, 302}, {folder, 200, 200, 404, 302}, {inFolder, 200, 200, 404, 302},
        {byGroup, 200, 200, 404, 302},
    };
    for (const auto& c : cases) {
        const std::string page = PagePath(c.entry);
        const std::string download = "/web/download?id=" + c.entry.id;
        SCOPED_TRACE(c.entry.title);
        EXPECT_EQ(alice->Send("GET", PlainUrl(page)).status, c.owner);
        EXPECT_EQ(bob->Send("GET", PlainUrl(page)).status, c.reader);
        EXPECT_EQ(carol->Send("GET", PlainUrl(page)).status, c.stranger);
        EXPECT_EQ(nobody->Send("GET", PlainUrl(page)).status, c.noSession);
        if (c.entry.kind == "folder") continue;
        EXPECT_EQ(alice->Send("GET", PlainUrl(download)).status, c.owner);
        EXPECT_EQ(bob->Send("GET", PlainUrl(download)).status, c.reader);
        EXPECT_EQ(carol->Send("GET", PlainUrl(download)).status, c.stranger);
        EXPECT_EQ(nobody->Send("GET", PlainUrl(download)).status, c.noSession);
    }
    // A trashed entry says so to whoever may still read it.
    EXPECT_TRUE(Has(bob->Send("GET", PlainUrl(PagePath(trashed))).body, "in the trash"));
    // The stranger learns nothing of the private entry, not even its title.
    EXPECT_FALSE(Has(carol->Send("GET", PlainUrl(PagePath(priv))).body, "Private notes"));
    // Wrong kind in the address: not found, as in the feeds.
    EXPECT_EQ(alice->Send("GET", PlainUrl("/file/d/" + priv.id + "/edit")).status, 404);
    EXPECT_EQ(alice->Send("GET", PlainUrl("/document/d/no-such-id/edit")).status, 404);
}

TEST_F(WebAccessTest, NoSessionGoesToSignInAndBackToThePage) {
    const auto doc = Make("document", "Plans", "", "<p>x</p>");
    const std::string page = PlainUrl("/document/d/" + doc.id + "/edit");
    auto browser = Browser();
    const Reply first = browser->Send("GET", page);
    ASSERT_EQ(first.status, 302);
    const std::string location = first.Header("Location");
    EXPECT_EQ(location.rfind("/accounts/ServiceLogin?", 0), 0u) << location;
    // The sign-in form carries the page as the place to continue to.
    const Reply form = browser->Send("GET", PlainUrl(location));
    ASSERT_EQ(form.status, 200);
    EXPECT_TRUE(Has(form.body, "value='" + page + "'")) << form.body;
    const std::string body = "GALX=" + browser->Cookie("GALX") + "&continue=" + page +
                             "&Email=alice%40example.test&Passwd=secret&service=writely";
    const Reply signedIn = browser->Send("POST", PlainUrl("/accounts/ServiceLoginAuth"), {}, body);
    ASSERT_EQ(signedIn.status, 302);
    EXPECT_EQ(signedIn.Header("Location"), page);
    const Reply back = browser->Send("GET", page);
    EXPECT_EQ(back.status, 200);
    EXPECT_TRUE(Has(back.body, "Plans"));
}

TEST_F(WebAccessTest, PublicEntryShowsOwnerButNotTheOthersItIsSharedWith) {
    const auto pub = Make("document", "Leaflet", "", "<p>hello</p>");
    TheStore().AddAclRule(pub.id, "default", "", "reader");
    TheStore().AddAclRule(pub.id, "user", kBob, "writer");
    const std::string page = PlainUrl("/document/d/" + pub.id + "/edit");
    const Reply anonymous = Browser()->Send("GET", page);
    ASSERT_EQ(anonymous.status, 200);
    EXPECT_TRUE(Has(anonymous.body, kAlice));
    EXPECT_TRUE(
        Has(anonymous.body, "Anyone on the Internet can find and access. No sign-in required."));
    EXPECT_FALSE(Has(anonymous.body, kBob));
    const Reply owner = SignedIn(kAlice, kPassword)->Send("GET", page);
    EXPECT_TRUE(Has(owner.body, kBob));
}

TEST_F(WebAccessTest, EveryTitleIsShownAsText) {
    const std::string evil = "<script>alert(1)</script>";
    const std::string shown = "&lt;script&gt;alert(1)&lt;/script&gt;";
    const auto folder = Make("folder", evil, "", "");
    const auto doc = Make("document", evil, "", "<p>x</p>", kAlice, {folder.id});
    const auto sheet = Make("spreadsheet", evil, "", evil + ",\"a\"\n");
    const auto text = Make("file", evil, "text/plain", evil);
    const auto picture = Make("file", evil, "image/png", "not really a png");
    TheStore().AddAclRule(doc.id, "user", kBob, "reader");
    auto alice = SignedIn(kAlice, kPassword);
    const std::vector<std::string> pages = {
        PagePath(folder),
        PagePath(doc),
        PagePath(sheet),
        PagePath(text),
        PagePath(picture),
        "/folderview?id=root",
        // The export page that fails names the entry too.
        "/web/download?id=" + doc.id + "&format=nonsense",
    };
    for (const auto& path : pages) {
        SCOPED_TRACE(path);
        const Reply page = alice->Send("GET", PlainUrl(path));
        EXPECT_FALSE(Has(page.body, "<script")) << page.body;
        EXPECT_TRUE(Has(page.body, shown)) << page.body;
    }
    // The shared reader sees the title through the "shared with me" list too.
    const Reply shared =
        SignedIn(kBob, kBobPassword)->Send("GET", PlainUrl("/folderview?id=shared"));
    EXPECT_FALSE(Has(shared.body, "<script"));
    EXPECT_TRUE(Has(shared.body, shown));
}

TEST_F(WebAccessTest, HtmlContentIsOnlyShownInASandbox) {
    const std::string html = "<p>Hello</p><script>alert(2)</script>";
    const auto doc = Make("document", "Page", "", html);
    auto alice = SignedIn(kAlice, kPassword);
    const Reply page = alice->Send("GET", PlainUrl(PagePath(doc)));
    ASSERT_EQ(page.status, 200);
    EXPECT_FALSE(Has(page.body, "alert(2)"));
    EXPECT_TRUE(Has(page.body, "<iframe class='preview' sandbox"));
    EXPECT_TRUE(Has(page.Header("Content-Security-Policy"), "default-src 'none'"));
    const Reply preview = alice->Send("GET", PlainUrl("/web/preview?id=" + doc.id));
    ASSERT_EQ(preview.status, 200);
    EXPECT_EQ(preview.body, html);
    EXPECT_EQ(preview.Header("Content-Security-Policy").rfind("sandbox;", 0), 0u);
    // A stored HTML file gets the same treatment; a text file has no preview page.
    const auto file = Make("file", "page.html", "text/html", html);
    EXPECT_EQ(alice->Send("GET", PlainUrl("/web/preview?id=" + file.id)).body, html);
    const auto notes = Make("file", "notes.txt", "text/plain", "a < b");
    EXPECT_EQ(alice->Send("GET", PlainUrl("/web/preview?id=" + notes.id)).status, 404);
    EXPECT_TRUE(Has(alice->Send("GET", PlainUrl(PagePath(notes))).body, "a &lt; b"));
}

TEST_F(WebAccessTest, PreviewsByKind) {
    const auto sheet = Make("spreadsheet", "Budget", "", "Item,Cost\nRent,\"1,200\"\n");
    const auto png = Make("file", "logo.png", "image/png", "png bytes");
    const auto pdf = Make("pdf", "paper.pdf", "application/pdf", "%PDF-1.4");
    const auto zip = Make("file", "bundle.zip", "application/zip", "PK");
    auto alice = SignedIn(kAlice, kPassword);
    struct Case {
        StoredEntry entry;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {sheet, "<td>Rent</td><td>1,200</td>"},
        {png,
         "<img class='preview' alt='logo.png' src='/web/download?id=" + png.id + "&amp;inline=1'>"},
        {pdf, "<iframe class='preview pdf'"},
        {zip, "There is no preview for this kind of file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.title);
        EXPECT_TRUE(Has(alice->Send("GET", PlainUrl(PagePath(c.entry))).body, c.expected));
    }
    // Pictures and PDF come inline when asked; other files never do.
    const Reply picture = alice->Send("GET", PlainUrl("/web/download?id=" + png.id + "&inline=1"));
    EXPECT_EQ(picture.Header("Content-Disposition").rfind("inline;", 0), 0u);
    EXPECT_EQ(picture.body, "png bytes");
    const Reply archive = alice->Send("GET", PlainUrl("/web/download?id=" + zip.id + "&inline=1"));
    EXPECT_EQ(archive.Header("Content-Disposition").rfind("attachment;", 0), 0u);
    EXPECT_EQ(archive.Header("X-Content-Type-Options"), "nosniff");
}

TEST_F(WebAccessTest, DownloadAndExportLinksFromTheEntryPage) {
    const auto doc = Make("document", "Letter", "", "<p>Dear reader</p>");
    TheStore().AddAclRule(doc.id, "default", "", "reader");
    auto nobody = Browser();
    const Reply page = nobody->Send("GET", PlainUrl(PagePath(doc)));
    ASSERT_EQ(page.status, 200);
    for (const std::string format : {"doc", "docx", "odt", "pdf", "rtf", "txt", "html"}) {
        EXPECT_TRUE(Has(page.body, "/web/download?id=" + doc.id + "&amp;format=" + format))
            << format;
    }
    // Without signing in, the public document downloads and exports.
    const Reply original = nobody->Send("GET", PlainUrl("/web/download?id=" + doc.id));
    EXPECT_EQ(original.status, 200);
    EXPECT_EQ(original.body, "<p>Dear reader</p>");
    // Named with the stored format's extension, so the browser knows what it got.
    EXPECT_TRUE(Has(original.Header("Content-Disposition"), "filename=\"Letter.html\""));
    const Reply text = nobody->Send("GET", PlainUrl("/web/download?id=" + doc.id + "&format=txt"));
    EXPECT_EQ(text.status, 200);
    EXPECT_TRUE(Has(text.body, "Dear reader"));
    EXPECT_FALSE(Has(text.body, "<p>"));
    EXPECT_TRUE(Has(text.Header("Content-Disposition"), "Letter.txt"));
}

TEST_F(WebAccessTest, FolderPageListsItsContentsWithLinks) {
    const auto folder = Make("folder", "Projects", "", "");
    const auto sub = Make("folder", "Archive", "", "", kAlice, {folder.id});
    const auto doc = Make("document", "Roadmap", "", "<p>r</p>", kAlice, {folder.id});
    const auto gone = Make("document", "Binned", "", "<p>b</p>", kAlice, {folder.id});
    TheStore().Trash(gone.id);
    const Reply page = SignedIn(kAlice, kPassword)->Send("GET", PlainUrl(PagePath(folder)));
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(Has(page.body, "<a href='/folderview?id=" + sub.id + "'>Archive</a>"));
    EXPECT_TRUE(Has(page.body, "<a href='/document/d/" + doc.id + "/edit'>Roadmap</a>"));
    EXPECT_FALSE(Has(page.body, "Binned"));
    // The document's page links back to its folder.
    const Reply docPage = SignedIn(kAlice, kPassword)->Send("GET", PlainUrl(PagePath(doc)));
    EXPECT_TRUE(Has(docPage.body, "<a href='/folderview?id=" + folder.id + "'>Projects</a>"));
}

TEST_F(WebAccessTest, FeedsLinkEntryPagesByPlainHttpOnLoopback) {
    const std::string token = Token();
    const auto doc = Make("document", "Linked", "", "<p>x</p>");
    const std::string path = std::string(kList) + "/document%3A" + doc.id;
    const Reply local = GData("GET", path, token);
    ASSERT_EQ(local.status, 200);
    EXPECT_TRUE(Has(local.body, "rel='alternate' type='text/html' href='http://localhost:" +
                                    std::to_string(m_port) + "/document/d/" + doc.id + "/edit'"))
        << local.body;
}

TEST(BrowserOriginTest, PlainHttpOnlyForLoopbackNames) {
    struct Case {
        std::string origin;
        std::string pages;
    };
    const std::vector<Case> cases = {
        {"https://localhost:48443", "http://localhost:48443"},
        {"https://LOCALHOST", "http://LOCALHOST"},
        {"https://127.0.0.1:9", "http://127.0.0.1:9"},
        {"https://127.1.2.3", "http://127.1.2.3"},
        {"https://[::1]:48443", "http://[::1]:48443"},
        {"http://localhost:48443", "http://localhost:48443"},
        // Other names keep https: the pages would cross a network.
        {"https://docs.example.test", "https://docs.example.test"},
        {"https://localhost.example.test", "https://localhost.example.test"},
        {"https://127.0.0.1.example.test", "https://127.0.0.1.example.test"},
        {"https://1270.0.0.1", "https://1270.0.0.1"},
        {"https://[::2]:48443", "https://[::2]:48443"},
        {"https://192.168.1.5:48443", "https://192.168.1.5:48443"},
    };
    for (const auto& c : cases) EXPECT_EQ(web::BrowserOrigin(c.origin), c.pages) << c.origin;
}

TEST_F(WebAccessTest, HomePageForBrowsersAndSignInRedirectForTheProgram) {
    const Reply browser = Browser()->Send("GET", PlainUrl("/"));
    EXPECT_EQ(browser.status, 200);
    EXPECT_TRUE(Has(browser.body, "Quick-start guide"));
    // The program's cookie sign-in starts at the https root and must meet the form.
    const Reply program = Browser()->Send("GET", Url("/"));
    EXPECT_EQ(program.status, 302);
    EXPECT_TRUE(Has(program.Header("Location"), "/accounts/ServiceLogin"));
    const Reply guide = Browser()->Send("GET", PlainUrl("/quick-start-guide.html"));
    EXPECT_EQ(guide.status, 200);
    const Reply style = Browser()->Send("GET", PlainUrl("/web/style.css"));
    EXPECT_EQ(style.status, 200);
    EXPECT_EQ(style.Header("Content-Type"), "text/css; charset=UTF-8");
    // The guide's text is part of the page, not a file of its own.
    EXPECT_EQ(Browser()->Send("GET", PlainUrl("/web/quick-start-guide.html")).status, 404);
}

TEST_F(WebAccessTest, GuideCoversTheFirstStepsAndItsPicturesAreServed) {
    const Reply guide = Browser()->Send("GET", PlainUrl("/quick-start-guide.html"));
    ASSERT_EQ(guide.status, 200);
    for (const std::string section :
         {"sign-in", "browse", "upload", "download", "export", "share", "search", "settings"}) {
        EXPECT_TRUE(Has(guide.body, "id=\"" + section + "\"")) << section;
    }
    int pictures = 0;
    for (std::size_t at = guide.body.find("<img src=\""); at != std::string::npos;
         at = guide.body.find("<img src=\"", at + 1)) {
        const std::string src = Between(guide.body, "<img src=\"", "\"", at);
        const Reply picture = Browser()->Send("GET", PlainUrl(src));
        EXPECT_EQ(picture.status, 200) << src;
        EXPECT_EQ(picture.Header("Content-Type"), "image/png") << src;
        EXPECT_EQ(picture.body.substr(0, 4), "\x89PNG") << src;
        ++pictures;
    }
    EXPECT_EQ(pictures, 3);
}

}  // namespace
}  // namespace tallowdesk::server::test
