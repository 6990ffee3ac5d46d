#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "ServerTestSupport.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kAtom = "Content-Type: application/atom+xml";

// Well-formed XML 1.0: parses, is valid UTF-8, and holds no character XML
// forbids (tinyxml2 alone lets control characters through).
::testing::AssertionResult WellFormed(const std::string& body) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(body.data(), body.size()) != tinyxml2::XML_SUCCESS) {
        return ::testing::AssertionFailure() << "does not parse: " << body.substr(0, 200);
    }
    for (std::size_t i = 0; i < body.size();) {
        const auto c = static_cast<unsigned char>(body[i]);
        std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        if ((c & 0xC0) == 0x80 || c >= 0xF8 || i + length > body.size()) {
            return ::testing::AssertionFailure() << "invalid UTF-8 at " << i;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(body[i + k]) & 0xC0) != 0x80) {
                return ::testing::AssertionFailure() << "invalid UTF-8 at " << i;
            }
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return ::testing::AssertionFailure() << "control character at " << i;
        }
        i += length;
    }
    return ::testing::AssertionSuccess();
}

std::string Entry(const std::string& title) {
    return "<entry xmlns='http://www.w3.org/2005/Atom'><category "
           "scheme='http://schemas.google.com/g/2005#kind' "
           "term='http://schemas.google.com/docs/2007#document'/><title>" +
           title + "</title></entry>";
}

using LimitsTest = SignedInTest;

// Regression: titles had no length limit and took control characters and
// invalid UTF-8, which then broke every feed that listed them.
TEST_F(LimitsTest, TitlesAreCheckedAtTheDoor) {
    struct Case {
        std::string title;
        long status;
    };
    const std::vector<Case> cases = {
        {std::string(1000, 'a'), 201},
        {std::string(1001, 'a'), 400},
        {std::string(500, 'a') + std::string(500, 'x') + "\xC3\xA9", 400},
        {"caf\xC3\xA9 \xE2\x82\xAC", 201},
        {"esc\x1b"
         "ape",
         400},
        {"char ref &#27;", 400},
        {"bell\x07", 400},
        {"latin1 \xE9t\xE9", 400},
        {"overlong \xC0\xAF", 400},
        {"surrogate \xED\xA0\x80", 400},
        {"line\nbreak", 400},
    };
    const std::string folder = Between(CreateFolder(m_token, "Box").body, "folder:", "<");
    for (const auto& c : cases) {
        const Reply created = GData("POST", kList, m_token, Entry(c.title), {kAtom});
        EXPECT_EQ(created.status, c.status) << c.title.substr(0, 40);
        EXPECT_TRUE(WellFormed(created.body));
        const Reply renamed = GData(
            "PUT", std::string(kList) + "/folder%3A" + folder, m_token,
            "<entry xmlns='http://www.w3.org/2005/Atom'><title>" + c.title + "</title></entry>",
            {kAtom, "If-Match: *"});
        EXPECT_EQ(renamed.status, c.status == 201 ? 200 : c.status) << c.title.substr(0, 40);
    }
    // File names are the user's: bad characters are replaced, not refused.
    const Reply upload =
        GData("POST", kList, m_token, "text", {"Content-Type: text/plain", "Slug: a%1Bb%FF.txt"});
    ASSERT_EQ(upload.status, 201);
    EXPECT_NE(upload.body.find("<title>a\xEF\xBF\xBD"
                               "b\xEF\xBF\xBD</title>"),
              std::string::npos);
    const Reply long_ = GData("POST", kList, m_token, "text",
                              {"Content-Type: text/plain", "Slug: " + std::string(1001, 'n')});
    EXPECT_EQ(long_.status, 400);
}

// Regression: one shared entry with a control character in its title made
// the other account's "Shared with me", "All items" and root listings empty.
TEST_F(LimitsTest, EveryAtomDocumentIsWellFormed) {
    m_server->AddUser("bob@example.test", "pw");
    const std::string bob = Token("bob@example.test", "pw");
    Store& store = m_server->GetStore();
    NewEntry folder;
    folder.kind = "folder";
    folder.title = std::string("old \x1b[31m data \xFF\x00 here", 22);
    // PostgreSQL holds only UTF-8 without NUL, so no older data there has them.
    if (!TestDatabase(m_dir->Path() / "data").empty()) folder.title = "old \x1b[31m data here";
    const std::string folderId = store.Create(kAlice, folder).id;
    NewEntry doc;
    doc.kind = "document";
    doc.title = "inside\x01\x02";
    doc.parents = {folderId};
    doc.starred = true;
    const std::string docId = store.Create(kAlice, doc).id;
    store.AddAclRule(folderId, "user", "bob@example.test", "reader");
    store.AddAclRule(docId, "user", "bob\x1b@example.test", "reader");
    const std::string list = kList;
    const std::vector<std::string> paths = {
        list,
        list + "?showfolders=true",
        list + "/-/mine?showfolders=true",
        list + "/-/-mine?showfolders=true",
        list + "/-/starred",
        list + "/-/trashed",
        list + "/-/document",
        list + "/folder%3Aroot/contents",
        list + "/folder%3A" + folderId + "/contents",
        list + "/folder%3A" + folderId,
        list + "/document%3A" + docId,
        list + "/document%3A" + docId + "/acl",
        list + "/document%3A" + docId + "/acl/user%3Abob%40example.test",
        list + "/document%3A" + docId + "/nothing",
        list + "?q=%FF%1B",
    };
    for (const std::string& token : {m_token, bob}) {
        for (const auto& path : paths) {
            const Reply reply = GData("GET", path, token);
            EXPECT_TRUE(WellFormed(reply.body)) << path << " status " << reply.status;
        }
    }
    EXPECT_EQ(EntryTitles(GData("GET", list + "/-/-mine?showfolders=true", bob).body).size(), 1u);
    EXPECT_EQ(EntryTitles(GData("GET", list + "/-/starred", m_token).body).size(), 1u);
}

// Regression: every route read bodies of up to 64 MB before looking at who
// sent them; small bodies are now refused unread when announced larger.
TEST_F(LimitsTest, SmallBodiesAreBoundedBeforeReading) {
    const std::string big(200 * 1024, 'x');
    struct Case {
        std::string path;
        std::vector<std::string> headers;
    };
    const std::vector<Case> cases = {
        {"/accounts/ClientLogin", {}},
        {"/accounts/ServiceLoginAuth", {}},
        {"/upload/resumableupload?authuser=0", {}},
        {kList, {kAtom}},
        {std::string(kList) + "/folder%3Aroot/contents", {kAtom}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m_client->Send("POST", Url(c.path), c.headers, big).status, 413) << c.path;
        // Sent in chunks, with no length announced: cut off at the limit.
        EXPECT_EQ(m_client->StreamPut(Url(c.path), c.headers, big).status, 413) << c.path;
    }
    EXPECT_EQ(ClientLogin(kAlice, kPassword).status, 200);
}

// Regression: 1,000 search words answered 500; session sizes of 2^64 or 1e30
// became 0; any Host header was written into every URL.
TEST_F(LimitsTest, SearchSizesAndHostNamesAreChecked) {
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "w" + std::to_string(i) + "%20";
    EXPECT_EQ(GData("GET", std::string(kList) + "?q=" + many, m_token).status, 400);
    EXPECT_EQ(GData("GET", std::string(kList) + "?q=a%20b%20c", m_token).status, 200);

    const auto session = m_server->GetStore().CreateSession(kAlice);
    const std::string cookie = "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
    struct SizeCase {
        std::string size;
        long status;
    };
    for (const auto& c : std::vector<SizeCase>{{"18446744073709551616", 400},
                                               {"1e30", 400},
                                               {"-1", 400},
                                               {"12.5", 400},
                                               {"\"12\"", 400},
                                               {"12", 200}}) {
        const Reply reply = m_client->Send(
            "POST", Url("/upload/resumableupload?authuser=0"), {cookie},
            R"({"createSessionRequest":{"fields":[{"external":{"name":"file","filename":"a","size":)" +
                c.size + "}}]}}");
        EXPECT_EQ(reply.status, c.status) << c.size << ": " << reply.body;
    }

    struct HostCase {
        std::string host;
        long status;
    };
    const std::string port = std::to_string(m_port);
    for (const auto& c : std::vector<HostCase>{{"evil.example", 400},
                                               {"evil.example:" + port, 400},
                                               {"localhost.evil.example", 400},
                                               {"localhost:" + port + "@evil", 400},
                                               {"", 400},
                                               {"localhost:" + port, 200},
                                               {"LOCALHOST", 200},
                                               {"127.0.0.1:" + port, 200},
                                               {"[::1]:" + port, 200}}) {
        const Reply reply = GData("GET", kList, m_token, {}, {"Host: " + c.host});
        EXPECT_EQ(reply.status, c.status) << c.host;
        EXPECT_EQ(reply.body.find("evil"), std::string::npos);
    }
}

TEST(HostNameOptionTest, ExtraNamesAreAccepted) {
    TempDir dir;
    ServerOptions options = TestOptions(dir.Path() / "data");
    options.hostNames = {"docs.lan"};
    Server server(options);
    server.AddUser("alice@example.test", "secret");
    const unsigned short port = server.Start();
    Client client(server.CertPath());
    const Reply login =
        client.Send("POST", "https://localhost:" + std::to_string(port) + "/accounts/ClientLogin",
                    {"Host: docs.lan:" + std::to_string(port)},
                    "Email=alice%40example.test&Passwd=secret&service=writely");
    EXPECT_EQ(login.status, 200);
    const Reply other = client.Send(
        "POST", "https://localhost:" + std::to_string(port) + "/accounts/ClientLogin",
        {"Host: docs.lan.evil"}, "Email=alice%40example.test&Passwd=secret&service=writely");
    EXPECT_EQ(other.status, 400);
}

// Regression: failed sign-ins were only counted per account, so one client
// could try any number of accounts; and a GALX form token could be reused.
TEST_F(LimitsTest, FailedSignInsFromOneAddressBringTheCaptcha) {
    for (int i = 0; i < 20; ++i) {
        const Reply reply = ClientLogin("nobody" + std::to_string(i) + "@example.test", "guess");
        EXPECT_EQ(reply.body, "Error=BadAuthentication\n");
    }
    // An account not signed in from here yet now needs the picture, even with
    // the right password, before it is checked.
    m_server->AddUser("bob@example.test", "bobs");
    const Reply challenge = ClientLogin("bob@example.test", "bobs");
    EXPECT_EQ(challenge.status, 403);
    EXPECT_NE(challenge.body.find("Error=CaptchaRequired"), std::string::npos);
    const std::string token = Between(challenge.body, "CaptchaToken=", "\n");
    const auto answer = m_server->CaptchaAnswer(token);
    ASSERT_TRUE(answer);
    char* escaped = curl_easy_escape(nullptr, token.c_str(), 0);
    const std::string field = escaped;
    curl_free(escaped);
    const std::string extra = "&logintoken=" + field + "&logincaptcha=" + *answer;
    EXPECT_EQ(ClientLogin("bob@example.test", "bobs", "writely", extra).status, 200);
    // The strangers' failures from here hold up no account that signed in
    // from here (alice did at the start): they cannot lock their owners out.
    EXPECT_EQ(ClientLogin("bob@example.test", "bobs").status, 200);
    EXPECT_EQ(ClientLogin(kAlice, kPassword).status, 200);
    m_server->AddUser("carol@example.test", "carols");
    EXPECT_NE(ClientLogin("carol@example.test", "carols").body.find("CaptchaRequired"),
              std::string::npos);
}

// Regression: downloads answered over plain HTTP with a token in the clear.
TEST_F(LimitsTest, DownloadsOnlyOverHttps) {
    const Reply doc =
        GData("POST", kList, m_token, "words", {"Content-Type: text/plain", "Slug: words.txt"});
    const std::string id = Between(doc.body, "<gd:resourceId>document:", "<");
    const std::string path =
        "/feeds/download/documents/export/Export?id=" + id + "&exportFormat=txt";
    EXPECT_EQ(GData("GET", Url(path), m_token).status, 200);
    const Reply plain = GData("GET", PlainUrl(path), m_token);
    EXPECT_EQ(plain.status, 403);
    EXPECT_EQ(plain.body.find("words"), std::string::npos);
}

// Regression: the request log kept passwords, tokens and cookies, readable
// by every local account.
TEST_F(LimitsTest, RequestLogHidesSecretsAndIsPrivate) {
    m_client.reset();
    m_server->Stop();
    m_server.reset();
    const std::string log = (m_dir->Path() / "requests.jsonl").string();
    ServerOptions options = TestOptions(m_dir->Path() / "data");
    options.requestLogPath = log;
    options.redactRequestLog = true;  // as the program sets it
    m_server = std::make_unique<Server>(options);
    m_port = m_server->Start();
    m_client = std::make_unique<Client>(m_server->CertPath());
    const std::string token = Token();
    GData("GET", std::string(kList) + "?q=x&Auth=" + token, token, {}, {"Cookie: SID=sid-secret"});
    // Every field of a password kind, not only the sign-in's own.
    GData("GET",
          std::string(kList) + "?PasswdAgain=again-secret&newPassword=new-secret&pwd=pwd-secret",
          token);
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    ASSERT_NE(text.find("GoogleLogin auth=[redacted]"), std::string::npos) << text;
    EXPECT_NE(text.find("Passwd=[redacted]"), std::string::npos);
    for (const std::string& secret :
         {token, std::string("sid-secret"), std::string(kPassword), std::string("again-secret"),
          std::string("new-secret"), std::string("pwd-secret")}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
    struct stat st {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Regression: the data folder was 0755 and its files 0644, with tokens in
// plain text that never expired and outlived a password change.
TEST_F(LimitsTest, SecretsAtRestArePrivateHashedAndExpire) {
    const Reply doc =
        GData("POST", kList, m_token, "words", {"Content-Type: text/plain", "Slug: words.txt"});
    const std::string id = Between(doc.body, "<gd:resourceId>document:", "<");
    const fs::path data = m_dir->Path() / "data";
    struct Mode {
        fs::path path;
        unsigned mode;
    };
    for (const auto& m : std::vector<Mode>{{data, 0700},
                                           {data / "content", 0700},
                                           {data / "service.db", 0600},
                                           {data / "service.db-wal", 0600},
                                           {data / "key.pem", 0600},
                                           {data / "content" / id, 0600}}) {
        struct stat st {};
        ASSERT_EQ(stat(m.path.c_str(), &st), 0) << m.path;
        EXPECT_EQ(st.st_mode & 0777, m.mode) << m.path;
    }
    for (const char* file : {"service.db", "service.db-wal"}) {
        std::ifstream in(data / file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(bytes.find(m_token), std::string::npos) << file;
    }

    Store& store = m_server->GetStore();
    const auto session = store.CreateSession(kAlice);
    // Used within its lifetime, a token stays good; left alone, it ends.
    store.AgeSecretsForTest(13ll * 24 * 3600 * 1000);
    EXPECT_EQ(GData("GET", kList, m_token).status, 200);
    EXPECT_TRUE(store.SessionOwner(session.sid, session.hsid));
    store.AgeSecretsForTest(13ll * 24 * 3600 * 1000);
    EXPECT_EQ(GData("GET", kList, m_token).status, 200);
    EXPECT_TRUE(store.SessionOwner(session.sid, session.hsid));
    store.AgeSecretsForTest(15ll * 24 * 3600 * 1000);
    EXPECT_EQ(GData("GET", kList, m_token).status, 401);
    EXPECT_FALSE(store.SessionOwner(session.sid, session.hsid));

    // A new password ends the sign-ins made with the old one.
    const std::string fresh = Token();
    const auto fresher = store.CreateSession(kAlice);
    m_server->AddUser(kAlice, "new secret");
    EXPECT_EQ(GData("GET", kList, fresh).status, 401);
    EXPECT_FALSE(store.SessionOwner(fresher.sid, fresher.hsid));
}

// Regression: with descriptors or connections used up, the service stopped
// answering; now it caps connections and closes idle ones quickly when full.
TEST(ConnectionCapTest, IdleConnectionsMakeRoomWhenFull) {
    TempDir dir;
    ServerOptions options = TestOptions(dir.Path() / "data");
    options.maxConnections = 4;
    Server server(options);
    server.AddUser("alice@example.test", "secret");
    const unsigned short port = server.Start();
    // Waits far beyond the 10 s a silent connection is kept for, or (for the
    // one over the cap) well below it.
    auto connect = [port](long waitSeconds = 20) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{waitSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        return fd;
    };
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) idle.push_back(connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // One over the cap is closed at once rather than left waiting.
    const int extra = connect(3);
    char byte = 0;
    EXPECT_EQ(recv(extra, &byte, 1, 0), 0);
    close(extra);
    // The idle ones are closed once they have sent nothing for a while (10 s),
    // and the service answers again.
    for (int fd : idle) {
        EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
        close(fd);
    }
    Client client(server.CertPath());
    const Reply login =
        client.Send("POST", "https://localhost:" + std::to_string(port) + "/accounts/ClientLogin",
                    {}, "Email=alice%40example.test&Passwd=secret&service=writely");
    EXPECT_EQ(login.status, 200);
}

}  // namespace
}  // namespace tallowdesk::server::test
