#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <thread>

#include "ServerTestSupport.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAtom = "Content-Type:application/atom+xml";
constexpr const char* kStarScheme =
    "<category scheme=\"http://schemas.google.com/g/2005/labels\" "
    "term=\"http://schemas.google.com/g/2005/labels#starred\" label=\"";

std::string UpdateBody(const std::string& fragment) {
    return "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\"  "
           "xmlns:docs=\"http://schemas.google.com/docs/2007\"  "
           "xmlns:gd=\"http://schemas.google.com/g/2005\">" +
           fragment + "</entry>";
}

std::string ResourceId(const std::string& entryXml) {
    return Between(entryXml, "<gd:resourceId>", "</gd:resourceId>");
}

std::string EntryPath(const std::string& resourceId) {
    const auto colon = resourceId.find(':');
    return std::string("/feeds/default/private/full/") + resourceId.substr(0, colon) + "%3A" +
           resourceId.substr(colon + 1);
}

class FeedTest : public SignedInTest {
protected:
    std::string NewFolder(const std::string& title, const std::string& parent = {}) {
        const Reply r = CreateFolder(m_token, title, parent);
        EXPECT_EQ(r.status, 201) << r.body;
        return ResourceId(r.body);
    }

    std::vector<std::string> Titles(const std::string& path) {
        const Reply r = GData("GET", path, m_token);
        EXPECT_EQ(r.status, 200) << r.body;
        return EntryTitles(r.body);
    }

    static bool Has(const std::vector<std::string>& titles, const std::string& title) {
        return std::find(titles.begin(), titles.end(), title) != titles.end();
    }
};

TEST_F(FeedTest, RefusesMissingTokenWrongVersionAndPlainHttp) {
    const Reply none = m_client->Send("GET", Url(kList), {"GData-Version: 3.0"});
    EXPECT_EQ(none.status, 401);
    EXPECT_EQ(none.Header("Content-Type"), "application/vnd.google.gdata.error+xml");
    EXPECT_NE(none.body.find("<errors xmlns='http://schemas.google.com/g/2005'><error><domain>"
                             "GData</domain><code>"),
              std::string::npos);
    EXPECT_EQ(GData("GET", kList, "forged").status, 401);

    const Reply v2 = m_client->Send(
        "GET", Url(kList), {"GData-Version: 2.0", "Authorization: GoogleLogin auth=" + m_token});
    EXPECT_EQ(v2.status, 400);
    const Reply noVersion =
        m_client->Send("GET", Url(kList), {"Authorization: GoogleLogin auth=" + m_token});
    EXPECT_EQ(noVersion.status, 400);
    EXPECT_EQ(GData("GET", PlainUrl(kList), m_token).status, 403);
}

TEST_F(FeedTest, CreatedFolderHasTheServiceEntryShape) {
    const Reply created = CreateFolder(m_token, "R&amp;D");
    ASSERT_EQ(created.status, 201);
    const std::string& x = created.body;
    EXPECT_EQ(x.rfind("<?xml version='1.0' encoding='UTF-8'?><entry xmlns='http://www.w3.org/2005/"
                      "Atom' xmlns:docs=",
                      0),
              0u);
    EXPECT_NE(x.find("gd:etag='&quot;"), std::string::npos);
    EXPECT_NE(x.find("<title>R&amp;D</title>"), std::string::npos);
    EXPECT_NE(x.find("<id>" + Url("/feeds/id/folder%3A")), std::string::npos);
    EXPECT_NE(x.find("<app:edited xmlns:app='http://www.w3.org/2007/app'>"), std::string::npos);
    EXPECT_NE(x.find("term='http://schemas.google.com/docs/2007#folder' label='folder'"),
              std::string::npos);
    EXPECT_NE(x.find("<gd:quotaBytesUsed>0</gd:quotaBytesUsed>"), std::string::npos);
    EXPECT_EQ(x.find("2007#parent"), std::string::npos);  // top level: no parent link
    const std::string published = Between(x, "<published>", "</published>");
    ASSERT_EQ(published.size(), 24u);
    EXPECT_EQ(published[10], 'T');
    EXPECT_EQ(published[19], '.');
    EXPECT_EQ(published.back(), 'Z');
    const std::string id = ResourceId(x);
    EXPECT_EQ(id.rfind("folder:", 0), 0u);
    EXPECT_EQ(created.Header("Location"), Url(EntryPath(id)));
    EXPECT_NE(x.find("<content type='application/atom+xml;type=feed' src='" + Url(EntryPath(id)) +
                     "/contents'/>"),
              std::string::npos);

    // Fetch by full resource name and by bare short id.
    EXPECT_EQ(GData("GET", EntryPath(id), m_token).status, 200);
    const std::string shortId = id.substr(id.find(':') + 1);
    EXPECT_EQ(GData("GET", std::string(kList) + "/" + shortId, m_token).status, 200);
    EXPECT_EQ(GData("GET", std::string(kList) + "/document%3A" + shortId, m_token).status, 404);
}

TEST_F(FeedTest, NestedFoldersListedWithParentTitle) {
    const std::string outer = NewFolder("Outer");
    const std::string contents = EntryPath(outer) + "/contents";
    const Reply inner = CreateFolder(m_token, "Inner", contents);
    ASSERT_EQ(inner.status, 201);
    EXPECT_NE(inner.body.find("<link rel='http://schemas.google.com/docs/2007#parent' "
                              "type='application/atom+xml' href='" +
                              Url(EntryPath(outer)) + "' title='Outer'/>"),
              std::string::npos);

    const auto root = Titles("/feeds/default/private/full/folder%3Aroot/contents");
    EXPECT_TRUE(Has(root, "Outer"));
    EXPECT_FALSE(Has(root, "Inner"));
    EXPECT_EQ(Titles(contents), std::vector<std::string>{"Inner"});
    EXPECT_EQ(Titles(contents + "/-/folder"), std::vector<std::string>{"Inner"});
    EXPECT_EQ(Titles("/feeds/default/private/full/folder%3Aroot/contents/-/folder"),
              std::vector<std::string>{"Outer"});
    // Folders show in the plain list only when asked for.
    EXPECT_TRUE(Titles(kList).empty());
    EXPECT_EQ(Titles(std::string(kList) + "?showfolders=true").size(), 2u);
    EXPECT_EQ(Titles(std::string(kList) + "?q=inn&showfolders=true"),
              std::vector<std::string>{"Inner"});
    // Words joined with "+" (as the client sends them, %2B) are words of their own.
    EXPECT_EQ(Titles(std::string(kList) + "?q=inn%2Bner&showfolders=true"),
              std::vector<std::string>{"Inner"});
    EXPECT_EQ(GData("GET", std::string(kList) + "/folder%3Amissing/contents", m_token).status, 404);
}

TEST_F(FeedTest, RenameAndStarFollowEtags) {
    const Reply created = CreateFolder(m_token, "Draft");
    const std::string path = EntryPath(ResourceId(created.body));
    const std::string etag = Between(created.body, "gd:etag='", "'");
    const std::string quoted = "\"" + Between(etag, "&quot;", "&quot;") + "\"";

    // Sent the way the program sends it: streamed, no length, expecting 100-continue.
    const Reply renamed =
        m_client->StreamPut(Url(path),
                            {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + m_token,
                             kAtom, "If-Match: " + quoted},
                            UpdateBody("<title>Final</title>"));
    ASSERT_EQ(renamed.status, 200) << renamed.body;
    EXPECT_NE(renamed.body.find("<title>Final</title>"), std::string::npos);
    // The old etag is stale now; "*" always matches.
    EXPECT_EQ(GData("PUT", path, m_token, UpdateBody("<title>Again</title>"),
                    {kAtom, "If-Match: " + quoted})
                  .status,
              412);
    EXPECT_EQ(GData("DELETE", path, m_token, {}, {"If-Match: " + quoted}).status, 412);

    const Reply starred =
        GData("PUT", path, m_token, UpdateBody(std::string(kStarScheme) + "starred\"/>"),
              {kAtom, "If-Match: *"});
    ASSERT_EQ(starred.status, 200);
    EXPECT_NE(starred.body.find("label='starred'"), std::string::npos);
    EXPECT_TRUE(Has(Titles("/feeds/default/private/full/-/starred?showfolders=true"), "Final"));

    const Reply unstarred =
        GData("PUT", path, m_token, UpdateBody(std::string(kStarScheme) + "\"/>"),
              {kAtom, "If-Match: *"});
    ASSERT_EQ(unstarred.status, 200);
    EXPECT_EQ(unstarred.body.find("label='starred'"), std::string::npos);
    EXPECT_NE(unstarred.body.find("<title>Final</title>"), std::string::npos);

    EXPECT_EQ(GData("PUT", path, m_token, UpdateBody("<title>x</title>"), {kAtom}).status, 403);
}

TEST_F(FeedTest, TrashThenDeleteForGood) {
    const std::string folder = NewFolder("Old");
    const std::string child = NewFolder("Older", EntryPath(folder) + "/contents");
    const std::string path = EntryPath(folder);

    const Reply trashed = GData("DELETE", path, m_token, {}, {"If-Match: *"});
    EXPECT_EQ(trashed.status, 200);
    EXPECT_TRUE(trashed.body.empty());
    const auto trash = Titles("/feeds/default/private/full/-/trashed?showfolders=true");
    EXPECT_TRUE(Has(trash, "Old"));
    EXPECT_TRUE(Has(trash, "Older"));  // goes with its folder
    EXPECT_FALSE(Has(Titles(std::string(kList) + "?showfolders=true"), "Old"));
    EXPECT_FALSE(Has(Titles("/feeds/default/private/full/folder%3Aroot/contents"), "Old"));
    const Reply entry = GData("GET", path, m_token);
    EXPECT_NE(entry.body.find("labels#trashed"), std::string::npos);
    EXPECT_NE(entry.body.find("<gd:deleted/>"), std::string::npos);

    EXPECT_EQ(GData("DELETE", path + "?delete=true", m_token, {}, {"If-Match: *"}).status, 200);
    EXPECT_EQ(GData("GET", path, m_token).status, 404);
    EXPECT_EQ(GData("GET", EntryPath(child), m_token).status, 404);
    EXPECT_EQ(GData("DELETE", path, m_token, {}, {"If-Match: *"}).status, 404);
}

// The trashed label sent empty brings an entry back into its folders, with
// what went to the trash along with it, but not what was trashed on its own.
TEST_F(FeedTest, RestoreFromTheTrash) {
    const std::string parent = NewFolder("Home");
    const std::string folder = NewFolder("Plans", EntryPath(parent) + "/contents");
    const std::string inner = NewFolder("Drafts", EntryPath(folder) + "/contents");
    const std::string alone = NewFolder("Scraps", EntryPath(folder) + "/contents");
    ASSERT_EQ(GData("DELETE", EntryPath(alone), m_token, {}, {"If-Match: *"}).status, 200);
    ASSERT_EQ(GData("DELETE", EntryPath(folder), m_token, {}, {"If-Match: *"}).status, 200);
    const std::string restore = UpdateBody(
        "<category scheme=\"http://schemas.google.com/g/2005/labels\" "
        "term=\"http://schemas.google.com/g/2005/labels#trashed\" label=\"\"/>");

    const Reply back = GData("PUT", EntryPath(folder), m_token, restore, {kAtom, "If-Match: *"});
    ASSERT_EQ(back.status, 200) << back.body;
    EXPECT_EQ(back.body.find("labels#trashed"), std::string::npos);
    EXPECT_EQ(back.body.find("<gd:deleted/>"), std::string::npos);
    EXPECT_TRUE(Has(Titles(EntryPath(parent) + "/contents"), "Plans"));
    const auto inside = Titles(EntryPath(folder) + "/contents");
    EXPECT_TRUE(Has(inside, "Drafts"));
    EXPECT_FALSE(Has(inside, "Scraps"));
    const auto trash = Titles("/feeds/default/private/full/-/trashed?showfolders=true");
    EXPECT_FALSE(Has(trash, "Plans"));
    EXPECT_FALSE(Has(trash, "Drafts"));
    EXPECT_TRUE(Has(trash, "Scraps"));
    EXPECT_EQ(GData("GET", EntryPath(inner), m_token).body.find("labels#trashed"),
              std::string::npos);
    // Restoring what is not in the trash changes nothing and is no error.
    EXPECT_EQ(GData("PUT", EntryPath(folder), m_token, restore, {kAtom, "If-Match: *"}).status,
              200);
}

TEST_F(FeedTest, EntryInTwoFoldersOutlivesOneOfThem) {
    const std::string a = NewFolder("A");
    const std::string b = NewFolder("B");
    const std::string child = NewFolder("Child", EntryPath(a) + "/contents");
    // Posting an existing entry to a folder files it there as well.
    const Reply filed = GData("POST", EntryPath(b) + "/contents", m_token,
                              "<entry xmlns='http://www.w3.org/2005/Atom' "
                              "xmlns:gd='http://schemas.google.com/g/2005'><gd:resourceId>" +
                                  child + "</gd:resourceId></entry>",
                              {kAtom});
    ASSERT_EQ(filed.status, 201) << filed.body;
    EXPECT_NE(filed.body.find("title='A'"), std::string::npos);
    EXPECT_NE(filed.body.find("title='B'"), std::string::npos);

    EXPECT_EQ(GData("DELETE", EntryPath(a) + "?delete=true", m_token, {}, {"If-Match: *"}).status,
              200);
    const Reply kept = GData("GET", EntryPath(child), m_token);
    ASSERT_EQ(kept.status, 200);
    EXPECT_EQ(kept.body.find("title='A'"), std::string::npos);

    // Taking it out of its last folder through the folder's own URL leaves it at the top.
    const std::string inB = EntryPath(b) + "/contents/" + child;
    EXPECT_EQ(GData("DELETE", inB, m_token, {}, {"If-Match: *"}).status, 200);
    EXPECT_TRUE(Titles(EntryPath(b) + "/contents").empty());
    EXPECT_TRUE(Has(Titles("/feeds/default/private/full/folder%3Aroot/contents"), "Child"));
    EXPECT_EQ(GData("GET", inB, m_token).status, 404);
}

TEST_F(FeedTest, BadRequestsGetHonestErrors) {
    const std::string path = EntryPath(NewFolder("Target"));
    const Reply broken =
        GData("POST", kList, m_token, "<entry><title>R<D</title></entry>", {kAtom});
    EXPECT_EQ(broken.status, 400);
    EXPECT_EQ(broken.Header("Content-Type"), "application/vnd.google.gdata.error+xml");
    EXPECT_NE(broken.body.find("<code>ParseException</code>"), std::string::npos);
    EXPECT_EQ(GData("PUT", path, m_token, "<entry><title>x</entry>", {kAtom, "If-Match: *"}).status,
              400);
    EXPECT_EQ(GData("POST", kList, m_token, FolderEntryXml(""), {kAtom}).status, 400);
    EXPECT_EQ(GData("POST", kList, m_token, "<feed/>", {kAtom}).status, 400);
    EXPECT_EQ(GData("POST", kList, m_token, FolderEntryXml("x"), {"Content-Type: image/x-unknown"})
                  .status,
              415);
    EXPECT_EQ(GData("GET", std::string(kList) + "/folder%3Anope", m_token).status, 404);
    EXPECT_EQ(GData("DELETE", kList, m_token, {}, {"If-Match: *"}).status, 405);
    EXPECT_EQ(GData("POST", path, m_token, FolderEntryXml("x"), {kAtom}).status, 405);
    EXPECT_EQ(GData("GET", std::string(kList) + "?start-index=zero", m_token).status, 400);
    EXPECT_EQ(GData("GET", std::string(kList) + "/-/nonsense", m_token).status, 400);
    EXPECT_EQ(m_client->Send("GET", Url("/no/such/page")).status, 404);

    const Reply huge = GData("GET", kList, m_token, {}, {"X-Filler: " + std::string(40000, 'a')});
    EXPECT_EQ(huge.status, 431);
    // The server is still there after all that.
    EXPECT_EQ(GData("GET", path, m_token).status, 200);
}

// Raw bytes to the plain-HTTP side of the port; returns what came back.
std::string SendRaw(unsigned short port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    const timeval deadline{10, 0};  // a server that never answers fails the test
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) {
        shutdown(fd, SHUT_WR);
        char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
    }
    close(fd);
    return answer;
}

TEST_F(FeedTest, MalformedHttpIsRefusedAndTheServerStaysUp) {
    EXPECT_EQ(SendRaw(m_port, "NONSENSE\r\n\r\n").rfind("HTTP/1.1 400", 0), 0u);
    EXPECT_EQ(SendRaw(m_port, "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n")
                  .rfind("HTTP/1.1 400", 0),
              0u);
    // A Host header that would end up inside our XML.
    const std::string forged =
        SendRaw(m_port, "GET /feeds/default/private/full HTTP/1.1\r\nHost: a'><x>\r\n\r\n");
    EXPECT_EQ(forged.rfind("HTTP/1.1 400", 0), 0u);
    EXPECT_EQ(GData("GET", kList, m_token).status, 200);
}

// Regression: a body framed by a coding other than a final "chunked" was
// ignored and its bytes answered as a second request (request smuggling
// past a proxy that reads the framing differently).
TEST_F(FeedTest, TransferCodingsWithoutFinalChunkedAreRefusedAndTheConnectionCloses) {
    const std::string smuggled =
        "GET /feeds/default/private/full HTTP/1.1\r\nHost: localhost\r\n\r\n";
    for (const std::string& codings : std::vector<std::string>{
             "Transfer-Encoding: xchunked\r\n", "Transfer-Encoding: chunked, identity\r\n",
             "Transfer-Encoding: identity\r\n",
             "Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n"}) {
        const std::string answer =
            SendRaw(m_port, "POST /accounts/ClientLogin HTTP/1.1\r\nHost: localhost\r\n" + codings +
                                "\r\n" + smuggled);
        EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << codings << answer;
        std::size_t answers = 0;
        for (auto at = answer.find("HTTP/1.1 "); at != std::string::npos;
             at = answer.find("HTTP/1.1 ", at + 1)) {
            ++answers;
        }
        EXPECT_EQ(answers, 1u) << codings << answer;
    }
    // A chunked body still arrives whole.
    const std::string chunked =
        SendRaw(m_port,
                "POST /accounts/ClientLogin HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: "
                "gzip, Chunked\r\nConnection: close\r\n\r\n0\r\n\r\n");
    EXPECT_EQ(chunked.rfind("HTTP/1.1 400", 0), std::string::npos) << chunked;
}

TEST_F(FeedTest, OtherAccountsSeeOnlyWhatIsShared) {
    m_server->AddUser("bob@example.test", "hunter2");
    const std::string bob = Token("bob@example.test", "hunter2");
    const std::string shared = NewFolder("Shared plans");
    const std::string privateOne = NewFolder("Private");
    const std::string sharedId = shared.substr(shared.find(':') + 1);
    const std::string inside = NewFolder("Inside", EntryPath(shared) + "/contents");

    EXPECT_EQ(GData("GET", EntryPath(shared), bob).status, 404);
    m_server->GetStore().AddAclRule(sharedId, "user", "bob@example.test", "reader");

    const Reply sharedFeed =
        GData("GET", "/feeds/default/private/full/-/-mine?showfolders=true", bob);
    EXPECT_EQ(EntryTitles(sharedFeed.body), std::vector<std::string>{"Shared plans"});
    EXPECT_EQ(GData("GET", EntryPath(privateOne), bob).status, 404);
    // Rights on a folder reach its contents, but a reader changes nothing.
    EXPECT_EQ(GData("GET", EntryPath(inside), bob).status, 200);
    EXPECT_EQ(EntryTitles(GData("GET", EntryPath(shared) + "/contents", bob).body),
              std::vector<std::string>{"Inside"});
    EXPECT_EQ(GData("PUT", EntryPath(shared), bob, UpdateBody("<title>Mine</title>"),
                    {kAtom, "If-Match: *"})
                  .status,
              403);
    EXPECT_EQ(GData("DELETE", EntryPath(shared), bob, {}, {"If-Match: *"}).status, 403);
    EXPECT_TRUE(EntryTitles(GData("GET", "/feeds/default/private/full/-/mine", bob).body).empty());
}

TEST_F(FeedTest, PagesFollowNextLinksWithoutGapsOrRepeats) {
    m_server->SetPageSize(4);
    const std::string folder = NewFolder("Many");
    for (int i = 0; i < 10; ++i) {
        NewFolder("item " + std::to_string(i), EntryPath(folder) + "/contents");
    }
    std::string url = Url(EntryPath(folder) + "/contents");
    std::vector<std::string> seen;
    int pages = 0;
    while (!url.empty() && pages < 10) {
        const Reply page = GData("GET", url, m_token);
        ASSERT_EQ(page.status, 200) << page.body;
        const auto titles = EntryTitles(page.body);
        EXPECT_LE(titles.size(), 4u);
        seen.insert(seen.end(), titles.begin(), titles.end());
        url = NextLink(page.body);
        ++pages;
    }
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 10u);

    // The query of the first page survives into the next link.
    const Reply first = GData("GET", std::string(kList) + "?showfolders=true", m_token);
    EXPECT_EQ(
        NextLink(first.body).rfind(Url(std::string(kList) + "?showfolders=true&start-key="), 0),
        0u);
}

TEST_F(FeedTest, AcknowledgedChangesSurviveARestart) {
    const std::string folder = NewFolder("Keep me");
    m_client.reset();
    m_server->Stop();
    m_server.reset();

    ServerOptions options;
    options.dataDir = (m_dir->Path() / "data").string();
    options.database = TestDatabase(options.dataDir);
    options.port = 0;
    m_server = std::make_unique<Server>(options);
    m_port = m_server->Start();
    m_client = std::make_unique<Client>(m_server->CertPath());
    // The same certificate, account, token and entry are there.
    const Reply entry = GData("GET", EntryPath(folder), m_token);
    EXPECT_EQ(entry.status, 200);
    EXPECT_NE(entry.body.find("<title>Keep me</title>"), std::string::npos);
    EXPECT_EQ(ClientLogin(kAlice, kPassword).status, 200);
}

TEST_F(FeedTest, RequestLogRecordsRequestsAsReceived) {
    m_client.reset();
    m_server->Stop();
    const std::string log = (m_dir->Path() / "requests.jsonl").string();
    StartServer(100, log);
    const std::string token = Token();
    GData("GET", std::string(kList) + "?q=a%20b", token);
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"method\":\"POST\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"scheme\":\"https\""), std::string::npos);
    EXPECT_NE(lines[0].find("accountType=HOSTED_OR_GOOGLE&Email="), std::string::npos);
    EXPECT_NE(lines[0].find("[\"GData-Version\",\"3.0\"]"), std::string::npos);
    EXPECT_NE(lines[1].find("\"target\":\"/feeds/default/private/full?q=a%20b\""),
              std::string::npos);
    const auto version = lines[1].find("[\"GData-Version\",\"3.0\"]");
    const auto auth = lines[1].find("[\"Authorization\",\"GoogleLogin auth=");
    ASSERT_NE(version, std::string::npos);
    ASSERT_NE(auth, std::string::npos);
    EXPECT_LT(version, auth);  // order as sent
}

TEST_F(FeedTest, ManyClientsAtOnce) {
    const std::string folder = NewFolder("Busy");
    const std::string path = EntryPath(folder);
    constexpr int kThreads = 16;
    constexpr int kRequests = 20;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    const std::string cert = m_server->CertPath();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Client client(cert);
            const std::vector<std::string> headers = {"GData-Version: 3.0",
                                                      "Authorization: GoogleLogin auth=" + m_token};
            for (int i = 0; i < kRequests; ++i) {
                try {
                    Reply r;
                    if (i % 4 == 3) {
                        r = client.Send(
                            "POST", Url(path + "/contents"), {headers[0], headers[1], kAtom},
                            FolderEntryXml("t" + std::to_string(t) + "-" + std::to_string(i)));
                        if (r.status != 201) ++failures[static_cast<std::size_t>(t)];
                    } else {
                        r = client.Send("GET", Url(i % 2 ? path : path + "/contents"), headers);
                        if (r.status != 200) ++failures[static_cast<std::size_t>(t)];
                    }
                } catch (const std::exception&) {
                    ++failures[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << t;
    EXPECT_EQ(Titles(path + "/contents").size(), static_cast<std::size_t>(kThreads * 5));
}

}  // namespace
}  // namespace tallowdesk::server::test
