#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "HttpMessage.h"
#include "Limits.h"
#include "ServerTestSupport.h"
#include "Store.h"
#include "web/Quota.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAtom = "Content-Type: application/atom+xml";
constexpr const char* kBoundary = "----tallowdeskFormBoundary7MA4YWxk";

// Sets PATH for one scope.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) {
        if (const char* old = std::getenv("PATH")) m_old = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() { ::setenv("PATH", m_old.c_str(), 1); }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::string m_old = "/usr/bin:/bin";
};

std::uint64_t PatternSum(std::uint64_t size) {
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < size; ++i)
        sum = sum * 31 + static_cast<unsigned char>(PatternByte(i));
    return sum;
}

std::uint64_t FileSum(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    std::uint64_t sum = 0;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            sum = sum * 31 + static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)]);
        }
    }
    return sum;
}

std::uint64_t PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

class TransferTest : public SignedInTest {
protected:
    void SetUp() override {
        SignedInTest::SetUp();
        const auto session = m_server->GetStore().CreateSession(kAlice);
        m_cookie = "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
    }

    std::string Wise() {
        const Reply reply = ClientLogin(kAlice, kPassword, "wise");
        return Between(reply.body, "Auth=", "\n");
    }

    Reply Converted(const std::string& url, const std::string& type, const std::string& slug,
                    const std::string& body, const std::string& token = {}) {
        return GData("POST", url, token.empty() ? m_token : token, body,
                     {"Content-Type: " + type, "Slug: " + slug});
    }

    Reply OpenSession(const std::string& name, std::uint64_t size,
                      const std::string& parentId = {}) {
        std::string json = R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[)"
                           R"({"external":{"name":"file","filename":")" +
                           name + R"(","formPost":{},"size":)" + std::to_string(size) + "}}";
        if (!parentId.empty()) {
            json += R"(,{"inlined":{"name":"parentId","content":")" + parentId +
                    R"(","contentType":"text/plain"}})";
        }
        json += "]}}";
        return m_client->Send("POST", Url("/upload/resumableupload?authuser=0&user=" + m_user),
                              {m_cookie, "Content-Type: application/x-www-form-urlencoded"}, json);
    }

    // The session URL the way the client reads it from either answer form.
    static std::string SessionUrl(const Reply& reply) {
        if (!reply.Header("Location").empty()) return reply.Header("Location");
        std::string url = Between(reply.body, "\"url\":\"", "\"");
        const auto cut = url.find("\\u0026file_id");
        return cut == std::string::npos ? url : url.substr(0, cut);
    }

    // Signs the browser upload in as `email` from here on.
    void UploadAs(const std::string& email) {
        const auto session = m_server->GetStore().CreateSession(email);
        m_cookie = "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
        m_user = email;
    }

    Reply SendForm(const std::string& url, GeneratedForm& form, bool expect = true) {
        CURL* curl = curl_easy_init();
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, m_cookie.c_str());
        headers = curl_slist_append(
            headers,
            (std::string("Content-Type: multipart/form-data; boundary=") + kBoundary).c_str());
        if (!expect) headers = curl_slist_append(headers, "Expect:");
        Reply reply;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_server->CertPath().c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.Total()));
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &GeneratedForm::Read);
        curl_easy_setopt(curl, CURLOPT_READDATA, &form);
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION,
            +[](char* data, std::size_t size, std::size_t count, void* out) {
                static_cast<std::string*>(out)->append(data, size * count);
                return size * count;
            });
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
        curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return reply;
    }

    static GeneratedForm Form(const std::string& name, std::uint64_t size) {
        return {std::string("--") + kBoundary +
                    "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"" + name +
                    "\"\r\nContent-Type: application/octet-stream\r\n\r\n",
                size, std::string("\r\n--") + kBoundary + "--\r\n"};
    }

    static std::string UploadedId(const std::string& body) {
        std::string id = Between(body, "?id\\u003d", "\\u0026");
        if (id.empty()) id = Between(body, "\"id\":\"", "\"");
        return id;
    }

    std::string m_cookie;
    std::string m_user = kAlice;
};

TEST_F(TransferTest, ConvertedUploadsBecomeDocumentsAndExport) {
    const std::string text = "Line <one> & more\nsecond line\n";
    const Reply doc = Converted(kList, "text/plain", "notes%20v1.txt", text);
    ASSERT_EQ(doc.status, 201) << doc.body;
    EXPECT_NE(doc.body.find("docs/2007#document"), std::string::npos);
    EXPECT_NE(doc.body.find("<title>notes v1</title>"), std::string::npos);
    std::string src = Between(doc.body, "<content type='text/html' src='", "'");
    for (std::string::size_type at; (at = src.find("&amp;")) != std::string::npos;)
        src.replace(at, 5, "&");
    const Reply txt = GData("GET", src + "&exportFormat=txt", m_token);
    EXPECT_EQ(txt.status, 200);
    EXPECT_EQ(txt.body, text);
    const Reply html = GData("GET", src + "&exportFormat=html", m_token);
    EXPECT_NE(html.body.find("Line &lt;one&gt; &amp; more"), std::string::npos);
    {
        // The search path decides whether an office program is there, not
        // the machine the test runs on.
        const TempDir bin;
        const ScopedPath path(bin.Path().string());
        const Reply pdf = GData("GET", src + "&exportFormat=pdf", m_token);
        EXPECT_EQ(pdf.status, 501);
        EXPECT_NE(pdf.body.find("Converting to pdf needs LibreOffice on the server."),
                  std::string::npos)
            << pdf.body;

        // A stand-in that "converts" by copying: the answer is its output.
        const std::filesystem::path office = bin.Path() / "soffice";
        std::ofstream(office) << "#!/bin/sh\n"
                                 "while [ $# -gt 1 ]; do\n"
                                 "  [ \"$1\" = --outdir ] && out=$2\n"
                                 "  [ \"$1\" = --convert-to ] && format=$2\n"
                                 "  shift\n"
                                 "done\n"
                                 "exec /bin/cp \"$1\" \"$out/document.$format\"\n";
        std::filesystem::permissions(office, std::filesystem::perms::owner_all);
        const Reply converted = GData("GET", src + "&exportFormat=pdf", m_token);
        EXPECT_EQ(converted.status, 200) << converted.body;
        EXPECT_EQ(converted.body, html.body) << "the office program gets the HTML rendition";
    }
    EXPECT_EQ(GData("GET", src + "&exportFormat=exe", m_token).status, 400);

    // Spreadsheets: tab-separated input is stored as CSV; exports need the
    // spreadsheet service's token.
    const Reply folder = CreateFolder(m_token, "Sheets");
    const std::string folderId = Between(folder.body, "<gd:resourceId>folder:", "<");
    const Reply sheet = Converted(std::string(kList) + "/folder%3A" + folderId + "/contents",
                                  "text/tab-separated-values", "budget.tsv", "a\tb,c\n1\t2\n");
    ASSERT_EQ(sheet.status, 201) << sheet.body;
    EXPECT_NE(sheet.body.find("docs/2007#spreadsheet"), std::string::npos);
    EXPECT_NE(sheet.body.find("title='Sheets'"), std::string::npos);
    const std::string key = Between(sheet.body, "<gd:resourceId>spreadsheet:", "<");
    const std::string sheetUrl = "/feeds/download/spreadsheets/Export?key=" + key;
    const Reply wrongToken = GData("GET", sheetUrl + "&exportFormat=csv", m_token);
    EXPECT_EQ(wrongToken.status, 401);
    EXPECT_NE(wrongToken.body.find("spreadsheet service"), std::string::npos);
    const std::string wise = Wise();
    EXPECT_EQ(GData("GET", sheetUrl + "&exportFormat=csv", wise).body, "a,\"b,c\"\n1,2\n");
    EXPECT_EQ(GData("GET", sheetUrl + "&exportFormat=tsv", wise).body, "a\tb,c\n1\t2\n");
    EXPECT_NE(GData("GET", sheetUrl + "&exportFormat=html", wise).body.find("<td>b,c</td>"),
              std::string::npos);
    EXPECT_EQ(GData("GET", src + "&exportFormat=txt", wise).status, 401);

    // A PDF stays a stored file; unknown types are refused with an error document.
    const Reply pdfEntry = Converted(kList, "application/pdf", "paper.pdf", "%PDF-1.4 tiny");
    ASSERT_EQ(pdfEntry.status, 201);
    EXPECT_NE(pdfEntry.body.find("docs/2007#pdf"), std::string::npos);
    const std::string pdfId = Between(pdfEntry.body, "<gd:resourceId>pdf:", "<");
    EXPECT_EQ(GData("GET", "/feeds/download/files/" + pdfId, m_token).body, "%PDF-1.4 tiny");
    const Reply refused = Converted(kList, "image/png", "x.png", "png");
    EXPECT_EQ(refused.status, 415);
    EXPECT_NE(refused.body.find("<errors"), std::string::npos);
    EXPECT_EQ(Converted(kList, "text/plain", "x.txt", "x", "bad-token").status, 401);
}

TEST_F(TransferTest, ResumableUploadAnswersBothForms) {
    const Reply folder = CreateFolder(m_token, "Inbox");
    const std::string folderId = Between(folder.body, "<gd:resourceId>folder:", "<");
    for (const bool header : {true, false}) {
        m_server->SetSessionUrlStyle(header ? AnswerStyle::Header : AnswerStyle::Body);
        m_server->SetEntryIdStyle(header ? AnswerStyle::Body : AnswerStyle::Header);
        const std::string name = header ? "a b.bin" : "second.bin";
        const Reply session = OpenSession(name, 5000, folderId);
        ASSERT_EQ(session.status, 200) << session.body;
        if (header) {
            EXPECT_NE(session.Header("Location").find("/upload/resumableupload?upload_id="),
                      std::string::npos);
        } else {
            EXPECT_EQ(session.Header("Location"), "");
            EXPECT_NE(session.body.find("\\u0026file_id="), std::string::npos);
        }
        const std::string url = SessionUrl(session);
        GeneratedForm form = Form(name, 5000);
        const Reply done = SendForm(url, form);
        ASSERT_EQ(done.status, 200) << done.body;
        EXPECT_EQ(done.body.find("?id\\u003d") != std::string::npos, header);
        const std::string id = UploadedId(done.body);
        ASSERT_EQ(id.rfind("file%3A", 0), 0u) << done.body;
        const Reply entry = GData("GET", std::string(kList) + "/" + id, m_token);
        ASSERT_EQ(entry.status, 200);
        EXPECT_NE(entry.body.find("<title>" + name + "</title>"), std::string::npos);
        EXPECT_NE(entry.body.find("<docs:size>5000</docs:size>"), std::string::npos);
        EXPECT_NE(entry.body.find("title='Inbox'"), std::string::npos);
        EXPECT_EQ(FileSum(m_server->GetStore().ContentPath(id.substr(7))), PatternSum(5000));
        // A session takes one file only.
        GeneratedForm again = Form(name, 5000);
        EXPECT_EQ(SendForm(url, again).status, 404);
    }
}

TEST_F(TransferTest, LargeUploadStreamsToDisk) {
    constexpr std::uint64_t kSize = 100ull * 1024 * 1024;
    const Reply session = OpenSession("big.bin", kSize);
    ASSERT_EQ(session.status, 200);
    GeneratedForm form = Form("big.bin", kSize);
    const std::uint64_t before = PeakResidentKb();
    const Reply done = SendForm(SessionUrl(session), form);
    ASSERT_EQ(done.status, 200) << done.body;
    // Neither this test nor the server in it held the body in memory. (The
    // address sanitizer keeps freed blocks aside, so its figures say nothing.)
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(PeakResidentKb() - before, 48u * 1024);
#else
    (void)before;
#endif
    const std::string id = UploadedId(done.body).substr(7);
    EXPECT_EQ(FileSum(m_server->GetStore().ContentPath(id)), PatternSum(kSize));
    // Nothing is left behind in the content folder but the file itself.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_dir->Path() / "data" / "content")) {
        EXPECT_EQ(e.path().filename().string().rfind(".upload-", 0), std::string::npos);
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(TransferTest, UploadRefusals) {
    const Reply huge = OpenSession("huge.iso", 1073741824);
    EXPECT_EQ(huge.status, 413);
    EXPECT_NE(huge.body.find("1 GB"), std::string::npos);
    EXPECT_EQ(OpenSession("ok.bin", 1073741823).status, 200);

    // A form of 1 GiB or more is refused before its body is read.
    const Reply session = OpenSession("x.bin", 10);
    const std::string url = SessionUrl(session);
    GeneratedForm big = Form("x.bin", 1073741824);
    const Reply tooBig = SendForm(url, big);
    EXPECT_EQ(tooBig.status, 413);
    EXPECT_LT(big.at, 1u << 20);

    GeneratedForm wrongSize = Form("x.bin", 11);
    const Reply mismatch = SendForm(url, wrongSize);
    EXPECT_EQ(mismatch.status, 400);
    EXPECT_NE(mismatch.body.find("announced 10"), std::string::npos);

    GeneratedForm orphan = Form("x.bin", 10);
    EXPECT_EQ(SendForm(Url("/upload/resumableupload?upload_id=nope"), orphan).status, 404);
    const std::string cookie = m_cookie;
    m_cookie = "Cookie: SID=x; HSID=y";
    EXPECT_EQ(OpenSession("x.bin", 10).status, 401);
    GeneratedForm stranger = Form("x.bin", 10);
    EXPECT_EQ(SendForm(url, stranger).status, 401);
    m_cookie = cookie;
    EXPECT_EQ(OpenSession("x.bin", 10, "no-such-folder").status, 403);
    const Reply notJson =
        m_client->Send("POST", Url("/upload/resumableupload?authuser=0"), {m_cookie}, "{");
    EXPECT_EQ(notJson.status, 400);
    // A form whose closing boundary never comes stores nothing.
    GeneratedForm cut = Form("x.bin", 10);
    cut.tail = "\r\n";
    EXPECT_EQ(SendForm(url, cut, false).status, 400);
    EXPECT_EQ(m_server->GetStore().UsageBytes(kAlice), 0);
}

TEST_F(TransferTest, SharingRulesGrantAndRevokeAccess) {
    m_server->AddUser("bob@example.test", "pw");
    m_server->AddUser("carol@other.test", "pw");
    const std::string bob = Token("bob@example.test", "pw");
    const std::string carol = Token("carol@other.test", "pw");
    const Reply doc = Converted(kList, "text/html", "plan.html", "<p>plan</p>");
    const std::string id = Between(doc.body, "<gd:resourceId>document:", "<");
    const std::string entry = std::string(kList) + "/document%3A" + id;
    const std::string acl = entry + "/acl";

    const Reply feed = GData("GET", acl, m_token);
    ASSERT_EQ(feed.status, 200);
    EXPECT_NE(feed.body.find("<gAcl:role value='owner'/><gAcl:scope type='user' "
                             "value='alice@example.test'/>"),
              std::string::npos);
    EXPECT_EQ(GData("GET", entry, bob).status, 404);
    EXPECT_EQ(GData("GET", acl, bob).status, 404);

    const std::string rule =
        "<entry xmlns=\"http://www.w3.org/2005/Atom\"  "
        "xmlns:gAcl='http://schemas.google.com/acl/2007'><category "
        "scheme='http://schemas.google.com/g/2005#kind' "
        "term='http://schemas.google.com/acl/2007#accessRule'/><gAcl:role value='reader'/>"
        "<gAcl:scope type='user'  value='Bob@example.test'/></entry>";
    const Reply added = GData("POST", acl, m_token, rule, {kAtom});
    ASSERT_EQ(added.status, 201) << added.body;
    const std::string ruleUrl =
        Between(added.body, "<link rel='edit' type='application/atom+xml' href='", "'");
    EXPECT_NE(ruleUrl.find("/acl/user%3Abob%40example.test"), std::string::npos);
    EXPECT_EQ(GData("POST", acl, m_token, rule, {kAtom}).status, 409);

    // Bob reads it under "shared with me" but may not change it or its rules.
    EXPECT_NE(GData("GET", std::string(kList) + "/-/-mine", bob).body.find("<title>plan</title>"),
              std::string::npos);
    EXPECT_EQ(GData("PUT", entry, bob,
                    "<entry xmlns='http://www.w3.org/2005/Atom'><title>x</title></entry>",
                    {kAtom, "If-Match: *"})
                  .status,
              403);
    EXPECT_EQ(GData("DELETE", entry, bob, {}, {"If-Match: *"}).status, 403);
    EXPECT_EQ(GData("POST", acl, bob, rule, {kAtom}).status, 403);
    EXPECT_EQ(GData("DELETE", ruleUrl, bob).status, 403);

    // Becoming a writer lets him rename it.
    std::string writer = rule;
    writer.replace(writer.find("'reader'"), 8, "'writer'");
    writer.replace(writer.find("<entry "), 7,
                   "<entry xmlns:gd='http://schemas.google.com/g/2005' gd:etag='W/\"stale.\"' ");
    EXPECT_EQ(GData("PUT", ruleUrl, m_token, writer, {kAtom}).status, 412);
    const Reply changed = GData("PUT", ruleUrl, m_token, writer, {kAtom, "If-Match: *"});
    ASSERT_EQ(changed.status, 200) << changed.body;
    EXPECT_NE(changed.body.find("<gAcl:role value='writer'/>"), std::string::npos);
    EXPECT_EQ(GData("PUT", entry, bob,
                    "<entry xmlns='http://www.w3.org/2005/Atom'><title>by bob</title></entry>",
                    {kAtom, "If-Match: *"})
                  .status,
              200);
    const std::string ownerRule = acl + "/user%3Aalice%40example.test";
    EXPECT_EQ(GData("DELETE", ownerRule, m_token).status, 403);
    EXPECT_EQ(GData("DELETE", ruleUrl, m_token).status, 200);
    EXPECT_EQ(GData("GET", entry, bob).status, 404);

    // Domain, everybody and group rules.
    auto scoped = [&](const std::string& type, const std::string& value) {
        std::string r = rule;
        r.replace(
            r.find("type='user'  value='Bob@example.test'"),
            std::string("type='user'  value='Bob@example.test'").size(),
            type == "default" ? "type='default'" : "type='" + type + "'  value='" + value + "'");
        return GData("POST", acl, m_token, r, {kAtom});
    };
    ASSERT_EQ(scoped("domain", "other.test").status, 201);
    EXPECT_EQ(GData("GET", entry, carol).status, 200);
    EXPECT_EQ(GData("GET", entry, bob).status, 404);
    EXPECT_EQ(GData("GET", acl + "/domain%3Aother.test", m_token).status, 200);
    m_server->GetStore().AddGroupMember("team@example.test", "bob@example.test");
    ASSERT_EQ(scoped("group", "team@example.test").status, 201);
    EXPECT_NE(GData("GET", std::string(kList) + "/-/-mine", bob).body.find("by bob"),
              std::string::npos);
    EXPECT_EQ(GData("DELETE", acl + "/group%3Ateam%40example.test", m_token).status, 200);
    ASSERT_EQ(scoped("default", "").status, 201);
    EXPECT_EQ(GData("GET", entry, bob).status, 200);
    EXPECT_EQ(GData("GET", std::string(kList) + "/-/-mine", bob).body.find("by bob"),
              std::string::npos);
    EXPECT_EQ(scoped("user", "no-address").status, 400);
    EXPECT_EQ(GData("GET", acl, m_token).body.find("type='default'/>") != std::string::npos, true);
}

TEST_F(TransferTest, UploadPageShowsTheAccountsUsage) {
    const Reply anonymous = m_client->Send("GET", Url("/DocAction?action=updoc&hl=en"));
    EXPECT_EQ(anonymous.status, 302);
    EXPECT_NE(anonymous.Header("Location").find("/accounts/ServiceLogin"), std::string::npos);
    auto page = [&] {
        return m_client->Send("GET", Url("/DocAction?action=updoc&hl=en"), {m_cookie}).body;
    };
    EXPECT_NE(page().find("You are currently using 0.00 MB.<"), std::string::npos);
    const Reply session = OpenSession("quota.bin", 1572864);
    GeneratedForm form = Form("quota.bin", 1572864);
    ASSERT_EQ(SendForm(SessionUrl(session), form).status, 200);
    ASSERT_EQ(Converted(kList, "application/pdf", "p.pdf", std::string(524288, 'p')).status, 201);
    EXPECT_NE(page().find("You are currently using 2.00 MB.<"), std::string::npos);
}

// Regression: rights and quota were checked only when a session opened, so
// an ex-writer still filed the file, parallel sessions together passed the
// quota several times over, and sessions piled up without bound.
TEST_F(TransferTest, UploadSessionsAreCheckedAgainWhenTheFileLands) {
    const std::string bob = "bob@example.test";
    m_server->AddUser(bob, "secret");
    const Reply folder = CreateFolder(m_token, "Shared");
    const std::string folderId = Between(folder.body, "<gd:resourceId>folder:", "<");
    Store& store = m_server->GetStore();
    store.AddAclRule(folderId, "user", bob, "writer");

    struct Case {
        const char* what;
        bool removeRule;
        long status;
    };
    for (const auto& c :
         std::vector<Case>{{"still a writer", false, 200}, {"rule removed meanwhile", true, 403}}) {
        UploadAs(bob);
        const Reply session = OpenSession("planted.bin", 100, folderId);
        ASSERT_EQ(session.status, 200) << c.what << ": " << session.body;
        if (c.removeRule) store.RemoveAclRule(folderId, "user", bob);
        GeneratedForm form = Form("planted.bin", 100);
        EXPECT_EQ(SendForm(SessionUrl(session), form).status, c.status) << c.what;
    }
    UploadAs(kAlice);
    const Reply listing =
        GData("GET", std::string(kList) + "/folder%3A" + folderId + "/contents", m_token);
    ASSERT_EQ(listing.status, 200) << listing.body;
    EXPECT_EQ(EntryTitles(listing.body), std::vector<std::string>{"planted.bin"});

    // Three sessions fit the quota each, not together: the third file is refused.
    web::SetQuotaBytes(store, kAlice, 1024 * 1024);
    constexpr std::uint64_t kPart = 400 * 1024;
    std::vector<std::string> urls;
    for (int i = 0; i < 3; ++i) {
        const Reply session = OpenSession("part.bin", kPart);
        ASSERT_EQ(session.status, 200) << session.body;
        urls.push_back(SessionUrl(session));
    }
    std::vector<long> statuses;
    for (const auto& url : urls) {
        GeneratedForm form = Form("part.bin", kPart);
        statuses.push_back(SendForm(url, form).status);
    }
    EXPECT_EQ(statuses, (std::vector<long>{200, 200, 403}));
    EXPECT_LE(store.UsageBytes(kAlice), 1024 * 1024);

    // A converted upload counts by the bytes it takes once converted.
    const std::int64_t before = store.UsageBytes(kAlice);
    const Reply grown = Converted(kList, "text/plain", "angles.txt", std::string(100 * 1024, '<'));
    EXPECT_EQ(grown.status, 403) << grown.body;
    EXPECT_EQ(store.UsageBytes(kAlice), before);

    // Open sessions are bounded per account, not for everyone.
    int opened = 0;
    for (; opened < 100; ++opened) {
        if (OpenSession("s.bin", 1).status != 200) break;
    }
    EXPECT_EQ(opened, 100);
    EXPECT_EQ(OpenSession("s.bin", 1).status, 429);
    UploadAs(bob);
    EXPECT_EQ(OpenSession("s.bin", 1).status, 200);
}

// An upload session ends unused kUploadSessionLifetimeMs after it opened; the
// finishing form is then refused and nothing lands. No test can wait a day:
// a second service on the folder whose clock runs ahead sees the session
// that much older.
TEST_F(TransferTest, AnUploadSessionEndsUnusedWhenItsLifetimeIsOver) {
    struct Case {
        const char* name;
        std::int64_t ahead;  // how much older the session is when its form comes
        long status;
    };
    const std::vector<Case> cases = {
        {"a minute left.bin", kUploadSessionLifetimeMs - 60 * 1000, 200},
        {"a minute over.bin", kUploadSessionLifetimeMs + 60 * 1000, 404},
        {"a day over.bin", 2 * kUploadSessionLifetimeMs, 404},
    };
    Store& store = m_server->GetStore();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply session = OpenSession(c.name, 100);
        ASSERT_EQ(session.status, 200) << session.body;
        ServerOptions options = TestOptions(m_dir->Path() / "data");
        options.sharedStateClock = [ahead = c.ahead] { return NowMillis() + ahead; };
        Server later(options);
        const std::string here = ":" + std::to_string(m_port) + "/";
        std::string url = SessionUrl(session);
        ASSERT_NE(url.find(here), std::string::npos) << url;
        url.replace(url.find(here), here.size(), ":" + std::to_string(later.Start()) + "/");
        const std::int64_t usedBefore = store.UsageBytes(kAlice);

        GeneratedForm form = Form(c.name, 100);
        const Reply done = SendForm(url, form);
        EXPECT_EQ(done.status, c.status) << done.body;
        const bool landed = c.status == 200;
        if (!landed) {
            EXPECT_NE(done.body.find("No such upload session (it may have been used already)."),
                      std::string::npos)
                << done.body;
        }
        const auto titles = EntryTitles(GData("GET", kList, m_token).body);
        EXPECT_EQ(std::count(titles.begin(), titles.end(), c.name), landed ? 1 : 0);
        EXPECT_EQ(store.UsageBytes(kAlice), usedBefore + (landed ? 100 : 0));
    }
    EXPECT_TRUE(store.CheckConsistency().empty());
}

// Two service processes on one data folder: what one hands out (an upload
// session, a CAPTCHA challenge) the other honours, and failed sign-ins add
// up across both. They each kept their own in memory before.
TEST_F(TransferTest, ASecondServiceOnTheFolderSharesSessionsChallengesAndThrottles) {
    ServerOptions options = TestOptions(m_dir->Path() / "data");
    Server other(options);
    const unsigned short otherPort = other.Start();
    const std::string here = ":" + std::to_string(m_port) + "/";
    const std::string there = ":" + std::to_string(otherPort) + "/";

    // Opened here, finished there; the form then is used up for both.
    const Reply session = OpenSession("across.bin", 3000);
    ASSERT_EQ(session.status, 200) << session.body;
    std::string url = SessionUrl(session);
    ASSERT_NE(url.find(here), std::string::npos) << url;
    url.replace(url.find(here), here.size(), there);
    GeneratedForm form = Form("across.bin", 3000);
    const Reply done = SendForm(url, form);
    ASSERT_EQ(done.status, 200) << done.body;
    const std::string id = UploadedId(done.body);
    EXPECT_EQ(m_server->GetStore().GetEntry(id.substr(id.find("%3A") + 3))->title, "across.bin");
    GeneratedForm again = Form("across.bin", 3000);
    EXPECT_EQ(SendForm(SessionUrl(session), again).status, 404);

    // Failed sign-ins from one address, half through each: together they
    // make the CAPTCHA due there, even for a right password.
    Client otherClient(other.CertPath());
    auto login = [&](bool first, const std::string& email, const std::string& password,
                     const std::string& extra = {}) {
        const unsigned short port = first ? m_port : otherPort;
        return (first ? *m_client : otherClient)
            .Send("POST", "https://localhost:" + std::to_string(port) + "/accounts/ClientLogin", {},
                  "accountType=HOSTED_OR_GOOGLE&Email=" + email + "&Passwd=" + password +
                      "&service=writely" + extra);
    };
    for (int i = 0; i < kMaxAddressFailures; ++i) {
        const Reply failed =
            login(i % 2 == 0, "nobody" + std::to_string(i) + "%40example.test", "x");
        ASSERT_EQ(failed.body, "Error=BadAuthentication\n") << i;
    }
    const Reply challenge = login(false, "alice%40example.test", "secret");
    ASSERT_NE(challenge.body.find("Error=CaptchaRequired"), std::string::npos) << challenge.body;
    const std::string token = Between(challenge.body, "CaptchaToken=", "\n");
    const auto answer = m_server->CaptchaAnswer(token);
    ASSERT_TRUE(answer) << "the challenge of one service is unknown to the other";
    // Solved where it is due: the first service has seen alice sign in from
    // this address, so strangers' failures there do not hold her up.
    const Reply solved = login(false, "alice%40example.test", "secret",
                               "&logintoken=" + UrlEncode(token) + "&logincaptcha=" + *answer);
    EXPECT_EQ(solved.status, 200) << solved.body;
    EXPECT_FALSE(m_server->CaptchaAnswer(token)) << "a solved challenge stays usable elsewhere";
}

// New bytes for a stored file through its edit-media link: who may, with
// which etag, within whose storage limit; a refusal keeps the old bytes.
TEST_F(SignedInTest, ContentReplacementIsCheckedAndKeepsTheEntry) {
    Store& store = m_server->GetStore();
    m_server->AddUser("bob@example.test", "pw");
    m_server->AddUser("carl@example.test", "pw");
    const std::string file =
        PutEntry(store, kAlice, "file", "a.txt", {}, "old bytes", "text/plain");
    const std::string doc = PutEntry(store, kAlice, "document", "Doc", {}, "<p>x</p>");
    const std::string folder = PutEntry(store, kAlice, "folder", "F");
    store.AddAclRule(file, "user", "bob@example.test", "reader");
    store.AddAclRule(file, "user", "carl@example.test", "writer");
    const std::string bob = Token("bob@example.test", "pw");
    const std::string carl = Token("carl@example.test", "pw");
    const std::string etag = store.GetEntry(file)->etag;
    struct Row {
        std::string token, resource, ifMatch, body;
        long status;
        std::string stored;  // bytes of a.txt afterwards
    };
    const std::vector<Row> rows = {
        {m_token, "file%3A" + file, "\"stale\"", "new", 412, "old bytes"},
        {m_token, "file%3A" + file, "", "new", 403, "old bytes"},
        {bob, "file%3A" + file, "*", "bob's", 403, "old bytes"},
        {m_token, "document%3A" + doc, "*", "new", 400, "old bytes"},
        {m_token, "folder%3A" + folder, "*", "new", 404, "old bytes"},
        {m_token, "file%3Anope", "*", "new", 404, "old bytes"},
        {"bad-token", "file%3A" + file, "*", "new", 401, "old bytes"},
        {m_token, "file%3A" + file, etag, "alice's", 200, "alice's"},
        {carl, "file%3A" + file, "*", "carl's longer", 200, "carl's longer"},
        {m_token, "file%3A" + file, "*", "", 200, ""},  // whole with its header
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.resource + " " + row.body);
        std::vector<std::string> extra = {"Content-Type: text/plain"};
        if (!row.ifMatch.empty()) extra.push_back("If-Match: " + row.ifMatch);
        const Reply r =
            GData("PUT", "/feeds/default/media/" + row.resource, row.token, row.body, extra);
        EXPECT_EQ(r.status, row.status) << r.body;
        std::ifstream in(store.ContentPath(file), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), row.stored);
        EXPECT_EQ(store.GetEntry(file)->size, static_cast<std::int64_t>(row.stored.size()));
    }
    const auto after = store.GetEntry(file);
    EXPECT_EQ(after->title, "a.txt");
    EXPECT_EQ(store.AclRules(file).size(), 3u);

    // The owner pays for what the file grows by, whoever sends it.
    web::SetQuotaBytes(store, kAlice, store.UsageBytes(kAlice) + 4);
    const Reply full = GData("PUT", "/feeds/default/media/file%3A" + file, carl, "0123456789",
                             {"Content-Type: text/plain", "If-Match: *"});
    EXPECT_EQ(full.status, 403);
    EXPECT_NE(full.body.find("quotaExceeded"), std::string::npos);
    EXPECT_EQ(GData("PUT", "/feeds/default/media/file%3A" + file, carl, "0123",
                    {"Content-Type: text/plain", "If-Match: *"})
                  .status,
              200);
    EXPECT_TRUE(store.CheckConsistency().empty());
}

}  // namespace
}  // namespace tallowdesk::server::test
