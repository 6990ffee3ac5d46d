// Account pages in the browser: creating an account, forms refused from
// other sites, signing out, and the storage page with its limit.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Crypto.h"
#include "Limits.h"
#include "WebPageFixture.h"
#include "web/AccountPages.h"
#include "web/Quota.h"

namespace tallowdesk::server::test {
namespace {

// The program's database arguments for a shell command line.
std::string DatabaseWords(const std::string& dataDir) {
    std::string words;
    for (const auto& a : TestDatabaseArgs(dataDir)) words += " '" + a + "'";
    return words;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class WebAccountTest : public WebPageTest {
protected:
    Reply PostNewAccount(Client& client, const std::string& fields) {
        const std::string token = FormToken(client, "/accounts/NewAccount");
        return client.Send("POST", PlainUrl("/accounts/NewAccount"), {},
                           "csrf=" + token + "&" + fields);
    }
};

TEST_F(WebAccountTest, NewAccountErrorsKeepEverythingAsItWas) {
    struct Case {
        std::string fields;
        std::string message;
        std::string email;  // must not exist afterwards
    };
    const std::vector<Case> cases = {
        {"Email=alice%40example.test&Passwd=longenough&PasswdAgain=longenough", "already exists",
         ""},
        {"Email=dan%40example.test&Passwd=short&PasswdAgain=short", "at least 8 characters",
         "dan@example.test"},
        {"Email=dan%40example.test&Passwd=longenough&PasswdAgain=different", "two passwords differ",
         "dan@example.test"},
        {"Email=not-an-address&Passwd=longenough&PasswdAgain=longenough", "not an e-mail address",
         "not-an-address"},
        {"Email=dan%40localhost&Passwd=longenough&PasswdAgain=longenough", "not an e-mail address",
         "dan@localhost"},
        {"Email=dan+x%40exa%20mple.test&Passwd=longenough&PasswdAgain=longenough",
         "not an e-mail address", "dan x@exa mple.test"},
        {"Email=&Passwd=longenough&PasswdAgain=longenough", "Enter your e-mail address", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        auto browser = Browser();
        const Reply reply = PostNewAccount(*browser, c.fields);
        EXPECT_EQ(reply.status, 400);
        EXPECT_TRUE(Has(reply.body, c.message)) << reply.body;
        EXPECT_TRUE(browser->Cookie("SID").empty());
        if (!c.email.empty()) {
            EXPECT_FALSE(TheStore().AccountExists(c.email));
        }
    }
    // The taken address keeps its password.
    EXPECT_EQ(TheStore().CheckPassword(kAlice, kPassword), PasswordCheck::Ok);
}

// Regression: the account form hashed on the threads that answer every
// other connection, so pages waited while 8 clients posted it.
TEST_F(WebAccountTest, NoPasswordIsHashedOnTheThreadsThatAnswerConnections) {
    const std::vector<std::string> forms = {
        "Email=alice%40example.test&Passwd=longenough&PasswdAgain=longenough",
        "Email=erin%40example.test&Passwd=longenough&PasswdAgain=longenough",
    };
    for (const auto& fields : forms) {
        auto browser = Browser();
        EXPECT_NE(PostNewAccount(*browser, fields).status, 500) << fields;
    }
    EXPECT_EQ(ClientLogin("erin@example.test", "longenough").status, 200);
    EXPECT_EQ(HashesOnIoThreads(), 0u);
}

TEST_F(WebAccountTest, NewAccountSignsTheBrowserIn) {
    auto browser = Browser();
    const Reply made = PostNewAccount(
        *browser,
        "Email=Dan%40Example.test&Name=Dan&Passwd=dan-password&PasswdAgain=dan-password"
        "&continue=%2Ffolderview%3Fid%3Droot");
    ASSERT_EQ(made.status, 303) << made.body;
    EXPECT_EQ(made.Header("Location"), "/folderview?id=root");
    EXPECT_FALSE(browser->Cookie("SID").empty());
    EXPECT_TRUE(Has(browser->Send("GET", PlainUrl("/")).body, "dan@example.test"));
    // The same account signs in from the program.
    EXPECT_EQ(ClientLogin("dan@example.test", "dan-password").status, 200);
    // Somewhere else to continue to is ignored: only our own pages.
    auto other = Browser();
    const Reply away =
        PostNewAccount(*other,
                       "Email=eve%40example.test&Passwd=eve-password&PasswdAgain=eve-password"
                       "&continue=%2F%2Fevil.example%2F");
    EXPECT_EQ(away.Header("Location"), "/");
    // Regression: controls were let through: a CR/LF planted a header, a tab
    // (dropped by browsers) made "//evil.example".
    int n = 0;
    for (const std::string& wanted :
         std::vector<std::string>{"%2F%09%2Fevil.example%2Fphish", "%2F%0D%0ASet-Cookie:%20x=1",
                                  "%2F%5Cevil.example", "%2Fok%0A"}) {
        auto another = Browser();
        const std::string who = "frank" + std::to_string(++n);
        const Reply made2 = PostNewAccount(
            *another, "Email=" + who + "%40example.test&Passwd=" + who +
                          "-password&PasswdAgain=" + who + "-password&continue=" + wanted);
        EXPECT_EQ(made2.Header("Location"), "/") << wanted;
        EXPECT_EQ(made2.Header("Set-Cookie").find("x=1"), std::string::npos) << wanted;
    }
}

// The confirmation link the service left for the operator to pass on.
std::string OutboxLink(const Store& store, const std::string& email) {
    std::ifstream in(web::OutboxPath(store.DataDir(), email));
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const auto at = all.find("http://");
    if (at == std::string::npos) return {};
    return all.substr(at, all.find('\n', at) - at);
}

// A rule for an address, or for its domain, is meant for the person who
// owns the mailbox; whoever signs up first under that name must not get it.
TEST_F(WebAccountTest, SignUpReachesSharedEntriesOnlyOnceTheAddressIsProven) {
    constexpr const char* kDan = "dan@example.test";  // named by rules
    constexpr const char* kEve = "eve@corp.test";     // made up, in a shared domain
    const auto early = Make("document", "For Dan before", "text/html", "<p>a</p>");
    TheStore().AddAclRule(early.id, "user", kDan, "reader");
    const auto domain = Make("spreadsheet", "Corp figures", "text/csv", "a,b\n");
    TheStore().AddAclRule(domain.id, "domain", "corp.test", "writer");
    for (const std::string who : {"dan", "eve"}) {
        auto browser = Browser();
        const std::string address = who == "dan" ? "dan%40example.test" : "eve%40corp.test";
        ASSERT_EQ(PostNewAccount(*browser, "Email=" + address + "&Passwd=" + who +
                                               "-password&PasswdAgain=" + who + "-password")
                      .status,
                  303);
    }
    const auto late = Make("document", "For Dan after", "text/html", "<p>b</p>");
    TheStore().AddAclRule(late.id, "user", kDan, "writer");
    const std::string dan = Token(kDan, "dan-password");
    const std::string eve = Token(kEve, "eve-password");
    struct Case {
        const std::string* token;
        std::string path;
    };
    const std::vector<Case> danReaches = {
        {&dan, std::string(kList) + "/document%3A" + early.id},
        {&dan, std::string(kList) + "/document%3A" + late.id},
    };
    const std::vector<Case> eveReaches = {
        {&eve, std::string(kList) + "/spreadsheet%3A" + domain.id},
    };
    auto expect = [&](const std::vector<Case>& cases, long status, const std::string& when) {
        for (const auto& c : cases) {
            EXPECT_EQ(GData("GET", c.path, *c.token).status, status) << when << " " << c.path;
        }
    };
    expect(danReaches, 404, "unconfirmed");
    expect(eveReaches, 404, "unconfirmed");
    const std::string mine = std::string(kList) + "/-/-mine";
    EXPECT_TRUE(EntryTitles(GData("GET", mine, dan).body).empty());
    // The owner still sees whom the entry is shared with.
    EXPECT_TRUE(Has(
        GData("GET", std::string(kList) + "/document%3A" + early.id + "/acl", Token()).body, kDan));

    // A made-up token proves nothing; the link from the outbox proves dan's
    // address, once.
    EXPECT_EQ(Browser()->Send("GET", PlainUrl("/accounts/ConfirmAddress?token=wrong")).status, 400);
    expect(danReaches, 404, "after a wrong link");
    const std::string danLink = OutboxLink(TheStore(), kDan);
    ASSERT_FALSE(danLink.empty());
    const Reply confirmed = Browser()->Send("GET", danLink);
    EXPECT_EQ(confirmed.status, 200);
    EXPECT_TRUE(Has(confirmed.body, kDan));
    EXPECT_EQ(Browser()->Send("GET", danLink).status, 400);
    expect(danReaches, 200, "confirmed");
    EXPECT_EQ(EntryTitles(GData("GET", mine, dan).body).size(), 2u);
    expect(eveReaches, 404, "someone else confirmed");

    // eve's link past its time proves nothing; the operator can still confirm.
    const std::string eveLink = OutboxLink(TheStore(), kEve);
    ASSERT_FALSE(eveLink.empty());
    TheStore().AgeSecretsForTest(kAddressProofLifetimeMs + 1000);
    EXPECT_EQ(Browser()->Send("GET", eveLink).status, 400);
    expect(eveReaches, 404, "expired link");
    EXPECT_TRUE(TheStore().ConfirmAccount(kEve));
    EXPECT_FALSE(TheStore().ConfirmAccount("nobody@corp.test"));
    expect(eveReaches, 200, "confirmed by the operator");
    // Accounts the operator made need no proof.
    EXPECT_TRUE(TheStore().AccountConfirmed(kBob));
}

TEST_F(WebAccountTest, FormsFromOtherSitesAreRefused) {
    const std::string fields =
        "Email=mallory%40example.test&Passwd=longenough&PasswdAgain=longenough";
    auto browser = Browser();
    const std::string token = FormToken(*browser, "/accounts/NewAccount");
    struct Case {
        std::string body;
        std::vector<std::string> headers;
    };
    const std::vector<Case> cases = {
        {fields, {}},                                         // no token
        {"csrf=" + std::string(32, 'A') + "&" + fields, {}},  // a token not ours
        {"csrf=" + token + "&" + fields, {"Origin: http://evil.example"}},
    };
    for (const auto& c : cases) {
        const Reply refused =
            browser->Send("POST", PlainUrl("/accounts/NewAccount"), c.headers, c.body);
        EXPECT_EQ(refused.status, 403) << c.body;
    }
    EXPECT_FALSE(TheStore().AccountExists("mallory@example.test"));
    // The same form from our own page is taken.
    const Reply ok = browser->Send("POST", PlainUrl("/accounts/NewAccount"),
                                   {"Origin: http://127.0.0.1:" + std::to_string(m_port)},
                                   "csrf=" + token + "&" + fields);
    EXPECT_EQ(ok.status, 303) << ok.body;

    // Signing out needs the token too; without it the session stays.
    auto alice = SignedIn(kAlice, kPassword);
    const std::string aliceToken = FormToken(*alice, "/");
    EXPECT_EQ(alice->Send("POST", PlainUrl("/accounts/Logout"), {}, "").status, 403);
    EXPECT_EQ(alice->Send("GET", PlainUrl("/folderview?id=root")).status, 200);
    const std::string sid = alice->Cookie("SID");
    const std::string hsid = alice->Cookie("HSID");
    const Reply out = alice->Send("POST", PlainUrl("/accounts/Logout"), {}, "csrf=" + aliceToken);
    EXPECT_EQ(out.status, 303);
    EXPECT_EQ(alice->Send("GET", PlainUrl("/folderview?id=root")).status, 302);
    // The session is over on the service, not only forgotten by the browser.
    EXPECT_FALSE(TheStore().SessionOwner(sid, hsid).has_value());
}

TEST_F(WebAccountTest, ClosedSignUpCreatesNoAccount) {
    TempDir dir;
    ServerOptions options = TestOptions(dir.Path());
    options.openSignUp = false;
    Server closed(options);
    const unsigned short port = closed.Start();
    Client browser(closed.CertPath());
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/accounts/NewAccount";
    const Reply form = browser.Send("GET", url);
    EXPECT_EQ(form.status, 403);
    EXPECT_TRUE(Has(form.body, "tallowdesk-server add-user"));
    const Reply post =
        browser.Send("POST", url, {},
                     "csrf=" + browser.Cookie("TDFORM") +
                         "&Email=dan%40example.test&Passwd=longenough&PasswdAgain=longenough");
    EXPECT_EQ(post.status, 403);
    EXPECT_FALSE(closed.GetStore().AccountExists("dan@example.test"));
    closed.Stop();
}

TEST_F(WebAccountTest, CookiesAreHttpOnlySameSiteAndSecureOnHttps) {
    auto browser = Browser();
    browser->Send("GET", Url("/accounts/ServiceLogin"));
    const std::string body = "GALX=" + browser->Cookie("GALX") + "&continue=" + Url("/") +
                             "&Email=alice%40example.test&Passwd=secret&service=writely";
    const Reply secure = browser->Send("POST", Url("/accounts/ServiceLoginAuth"), {}, body);
    ASSERT_EQ(secure.status, 302);
    for (const auto& cookie : secure.Headers("Set-Cookie")) {
        EXPECT_TRUE(Has(cookie, "; HttpOnly")) << cookie;
        EXPECT_TRUE(Has(cookie, "; SameSite=Lax")) << cookie;
        EXPECT_TRUE(Has(cookie, "; Secure")) << cookie;
    }
    const Reply plain = Browser()->Send("GET", PlainUrl("/"));
    const std::string form = plain.Header("Set-Cookie");
    EXPECT_TRUE(Has(form, "; HttpOnly; SameSite=Strict")) << form;
    EXPECT_FALSE(Has(form, "Secure"));
    // Plain http sign-in only for a loopback host: elsewhere it would cross a network.
    auto remote = Browser();
    remote->Send("GET", PlainUrl("/accounts/ServiceLogin"));
    const Reply refused = remote->Send(
        "POST", PlainUrl("/accounts/ServiceLoginAuth"), {"Host: docs.example.test"},
        "GALX=" + remote->Cookie("GALX") + "&Email=alice%40example.test&Passwd=secret");
    EXPECT_GE(refused.status, 400);
    EXPECT_TRUE(remote->Cookie("SID").empty());
}

TEST_F(WebAccountTest, StoragePageAndUploadPageReportTheSameNumbers) {
    Make("file", "big.bin", "application/octet-stream", std::string(3 * 1024 * 1024 / 2, 'x'));
    web::SetQuotaBytes(TheStore(), kAlice, 500LL * 1024 * 1024);
    auto alice = SignedIn(kAlice, kPassword);
    const Reply storage = alice->Send("GET", PlainUrl("/accounts/PurchaseStorage"));
    ASSERT_EQ(storage.status, 200);
    EXPECT_TRUE(Has(storage.body, "You are currently using 1.50 MB of your 500.00 MB (0%)."))
        << storage.body;
    EXPECT_TRUE(Has(storage.body, "tallowdesk-server set-quota alice@example.test"));
    const Reply upload = alice->Send("GET", PlainUrl("/DocAction?action=updoc&hl=en"));
    EXPECT_TRUE(Has(upload.body, "You are currently using 1.50 MB.<"));
    EXPECT_TRUE(Has(upload.body, "Your storage limit is 500.00 MB."));
    // The purchase address the program's quota text names answers as well.
    EXPECT_EQ(alice->Send("GET", PlainUrl("/accounts/b/0/PurchaseStorage")).status, 200);
    EXPECT_EQ(Browser()->Send("GET", PlainUrl("/accounts/PurchaseStorage")).status, 302);
}

TEST_F(WebAccountTest, UploadsBeyondTheLimitAreRefused) {
    Make("file", "old.bin", "application/octet-stream", std::string(600, 'x'));
    web::SetQuotaBytes(TheStore(), kAlice, 1024);
    auto alice = SignedIn(kAlice, kPassword);
    auto open = [&](std::uint64_t size) {
        const std::string json =
            R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[)"
            R"({"external":{"name":"file","filename":"new.bin","formPost":{},"size":)" +
            std::to_string(size) + "}}]}}";
        // The browser's cookies belong to 127.0.0.1, where it signed in.
        return alice->Send("POST",
                           "https://127.0.0.1:" + std::to_string(m_port) +
                               "/upload/resumableupload?authuser=0&user=" + kAlice,
                           {}, json);
    };
    const Reply over = open(425);
    EXPECT_EQ(over.status, 403);
    EXPECT_TRUE(Has(over.body, "quotaExceeded"));
    EXPECT_TRUE(Has(over.body, "only 0.00 MB of your storage limit of 0.00 MB are free"))
        << over.body;
    EXPECT_EQ(open(424).status, 200);
    // Uploads converted into documents count as well.
    const std::string token = Token();
    const Reply converted =
        m_client->Send("POST", Url(kList),
                       {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + token,
                        "Content-Type: text/plain", "Slug: notes.txt"},
                       std::string(500, 'y'));
    EXPECT_EQ(converted.status, 403) << converted.body;
    EXPECT_EQ(TheStore().UsageBytes(kAlice), 600);
}

TEST_F(WebAccountTest, SetQuotaCommandChangesTheLimitTheStoragePageShows) {
    const std::string dataDir = m_server->DataDir();
    const std::string base = std::string("timeout 60 ") + TALLOWDESK_SERVER_BINARY +
                             " --data-dir '" + dataDir + "' " + DatabaseWords(dataDir) +
                             " set-quota ";
    EXPECT_EQ(std::system((base + "alice@example.test 2GB > /dev/null").c_str()), 0);
    EXPECT_NE(std::system((base + "alice@example.test lots > /dev/null 2>&1").c_str()), 0);
    EXPECT_NE(std::system((base + "nobody@example.test 1GB > /dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(web::QuotaBytes(TheStore(), kAlice), 2LL * 1024 * 1024 * 1024);
    const Reply storage =
        SignedIn(kAlice, kPassword)->Send("GET", PlainUrl("/accounts/PurchaseStorage"));
    EXPECT_TRUE(Has(storage.body, "of your 2048.00 MB")) << storage.body;
}

TEST(QuotaSizeTest, ParsesSizesWithUnits) {
    struct Case {
        std::string text;
        std::optional<std::int64_t> bytes;
    };
    const std::vector<Case> cases = {
        {"1048576", 1048576},
        {"500MB", 500LL * 1024 * 1024},
        {"15gb", 15LL * 1024 * 1024 * 1024},
        {"2T", 2LL * 1024 * 1024 * 1024 * 1024},
        {"", std::nullopt},
        {"MB", std::nullopt},
        {"-5MB", std::nullopt},
        {"5 MB", std::nullopt},
        {"5PB", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"9999999999TB", std::nullopt},  // would overflow
    };
    for (const auto& c : cases) EXPECT_EQ(web::ParseSize(c.text), c.bytes) << c.text;
}

}  // namespace
}  // namespace tallowdesk::server::test
