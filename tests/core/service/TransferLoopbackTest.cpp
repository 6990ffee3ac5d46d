// Uploads, downloads, sharing and quota against the in-process HTTPS responder.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <filesystem>

#include "Failure.h"
#include "ScopedHosts.h"
#include "TempDir.h"
#include "TestData.h"
#include "TlsResponder.h"
#include "service/Download.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"
#include "service/Sharing.h"
#include "service/SignIn.h"
#include "service/TransferProgress.h"
#include "service/Upload.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;
using Request = test::TlsResponder::Request;

using test::Failure;

bool HasLine(const Request& request, const std::string& line) {
    return std::find(request.headerLines.begin(), request.headerLines.end(), line) !=
           request.headerLines.end();
}

// Raises transferCancel once the first chunk went through.
class CancelOnFirstChunk : public TransferProgressListener {
public:
    void OnProgress(std::uint64_t done, std::uint64_t) override {
        last = done;
        transferCancel = true;
    }
    std::uint64_t last = 0;
};

class TransferLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        transferCancel = false;
        m_client.SetWritelyToken("WTOKEN");
        m_client.SetWiseToken("WISE");
    }
    void TearDown() override { transferCancel = false; }
    fs::path MakeFile(const std::string& name, const std::string& content) {
        test::WriteAll(m_dir / name, content);
        return m_dir / name;
    }
    std::vector<std::string> DirListing() {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(m_dir)) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The requests once the responder has handled every earlier connection
    // (it serves them one after another), aborted ones included.
    std::vector<Request> SettledRequests() {
        m_server.Push({200, "<feed/>", {}});
        tinyxml2::XMLDocument probe;
        GetFeed(m_client, m_server.Url("/probe"), probe);
        auto requests = m_server.Requests();
        EXPECT_EQ(requests.back().target, "/probe");
        requests.pop_back();
        return requests;
    }
    std::string Folder() {
        return m_server.Url("/feeds/default/private/full/folder%3AF1/contents");
    }

    test::TlsResponder m_server;
    test::ScopedHosts m_hosts{test::HostsFor(m_server.HostPort(), m_server.CertFile())};
    ServiceClient m_client{"me@example.com", "pw"};
    test::TempDir m_temp;
    const fs::path m_dir = m_temp.Path();
};

TEST_F(TransferLoopback, ConvertedUploadSendsFileWithGDataHeaders) {
    const fs::path file = MakeFile("Q&A notes.TXT", "plain text body");
    m_server.Push({201, test::ReadTestFile("entry-file-uploaded-to-folder.xml"), {}});
    tinyxml2::XMLDocument doc;
    UploadFileByRoute(m_client, file.string(), Folder(), doc, nullptr, true);
    ASSERT_NE(doc.FirstChildElement("entry"), nullptr);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& post = requests[0];
    EXPECT_EQ(post.method + " " + post.target,
              "POST /feeds/default/private/full/folder%3AF1/contents");
    EXPECT_EQ(post.body, "plain text body");
    for (const char* line :
         {"GData-Version:3.0", "Authorization:GoogleLogin auth=WTOKEN", "Content-Length: 15",
          "Content-Type: text/plain", "Slug: Q%26A%20notes.TXT"}) {
        EXPECT_TRUE(HasLine(post, line)) << line;
    }
    EXPECT_EQ(std::count_if(post.headerLines.begin(), post.headerLines.end(),
                            [](const std::string& l) { return l.rfind("Content-Length", 0) == 0; }),
              1);
}

TEST_F(TransferLoopback, RefusedConversionFallsBackToResumable) {
    const fs::path file = MakeFile("Plan.DocX", std::string(3000, 'd'));
    const std::string sessionPath = "/upload/resumableupload?upload_id=U1";
    m_server.Push({400, "<errors><error><code>c</code></error></errors>", {}});
    m_server.Push({200, "", {"Location: " + m_server.Url(sessionPath)}});
    m_server.Push({200, R"({"url":"https://x/open?id\u003dfile%3AN1\u0026authuser=0"})", {}});
    m_server.Push({200, test::ReadTestFile("entry-file-uploaded-to-folder.xml"), {}});
    tinyxml2::XMLDocument doc;
    UploadFileByRoute(m_client, file.string(), Folder(), doc, nullptr, true);
    ASSERT_NE(doc.FirstChildElement("entry"), nullptr);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const Request& session = requests[1];
    EXPECT_EQ(session.method + " " + session.target,
              "POST /upload/resumableupload?authuser=0&user=me@example.com");
    EXPECT_EQ(session.body, BuildUploadSessionRequest("Plan.DocX", 3000, std::string("F1")));
    EXPECT_EQ(session.Header("Referer"), m_server.Url("/DocAction?action=updoc&hl=en"));
    EXPECT_NE(session.Header("User-Agent").find("MSIE 8.0"), std::string::npos);
    EXPECT_EQ(session.Header("Authorization"), "");

    const Request& upload = requests[2];
    EXPECT_EQ(upload.method + " " + upload.target, "POST " + sessionPath);
    EXPECT_EQ(upload.Header("Referer"), session.Header("Referer"));
    EXPECT_NE(upload.Header("Content-Type").find("multipart/form-data"), std::string::npos);
    EXPECT_NE(upload.body.find("Content-Disposition: form-data; name=\"Filedata\"; "
                               "filename=\"Plan.DocX\"\r\nContent-Type: application/octet-stream"
                               "\r\n\r\n" +
                               std::string(3000, 'd') + "\r\n"),
              std::string::npos);
    EXPECT_EQ(requests[3].method + " " + requests[3].target,
              "GET /feeds/default/private/full/file%3AN1");
    EXPECT_TRUE(HasLine(requests[3], "Authorization: GoogleLogin auth=WTOKEN"));
}

TEST_F(TransferLoopback, ResumableWithJsonSessionUrlAndTopLevelTarget) {
    const fs::path file = MakeFile("photo.jpeg", "");  // empty files upload too
    m_server.Push({200,
                   R"({"sessionStatus":{"url":")" + m_server.Url("/up?upload_id=U2") +
                       R"(\u0026file_id=000","state":"OPEN"}})",
                   {}});
    m_server.Push({200, R"({"kind":"file","id":"file%3AN2"})", {}});
    m_server.Push({200, "<entry><title>photo.jpeg</title></entry>", {}});
    tinyxml2::XMLDocument doc;
    // A JPEG never takes the converted route.
    UploadFileByRoute(m_client, file.string(), m_server.Url("/feeds/default/private/full"), doc,
                      nullptr, true);
    ASSERT_NE(doc.FirstChildElement("entry"), nullptr);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].body.find("parentId"), std::string::npos);
    EXPECT_EQ(requests[1].target, "/up?upload_id=U2");
    EXPECT_NE(requests[1].body.find(
                  "filename=\"photo.jpeg\"\r\nContent-Type: application/octet-stream\r\n\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(requests[2].target, "/feeds/default/private/full/file%3AN2");
}

TEST_F(TransferLoopback, ResumableOutcomes) {
    const fs::path file = MakeFile("data.bin", "0123456789");
    tinyxml2::XMLDocument doc;
    const auto upload = [&] { UploadResumable(m_client, file.string(), Folder(), doc, nullptr); };
    const std::vector<std::string> session{"Location: " + m_server.Url("/s")};

    // Stored, but no entry named: success with the document left empty.
    m_server.Push({200, "", session});
    m_server.Push({200, R"({"done":true})", {}});
    EXPECT_EQ(Failure(upload), "no failure");
    EXPECT_EQ(doc.FirstChild(), nullptr);

    m_server.Push({200, "", session});
    m_server.Push({413, "too big for us", {}});
    EXPECT_EQ(Failure(upload), "too big for us");

    m_server.Push({200, "", session});
    m_server.Push({200, "", {}});
    EXPECT_THROW(upload(), UploadedFileGetInfoException);

    m_server.Push({200, "{\"nothing\":1}", {}});
    EXPECT_EQ(Failure(upload), "File upload POST failed: file_id is not generated.");
    EXPECT_EQ(m_server.Requests().size(), 7u);

    // 1 GiB is refused before any request (sparse file: no disk used).
    fs::resize_file(file, kMaxResumableUploadBytes);
    EXPECT_EQ(Failure(upload),
              "The size of this file is too large to upload: single file whose size is more "
              "than 1 GB is not allowed.");
    EXPECT_EQ(Failure([&] { UploadResumable(m_client, "", Folder(), doc, nullptr); }),
              "File name is NULL.");
    EXPECT_EQ(m_server.Requests().size(), 7u);
}

TEST_F(TransferLoopback, CancelStopsUploadsAtTheNextChunk) {
    const fs::path file = MakeFile("big.bin", std::string(2 << 20, 'b'));
    tinyxml2::XMLDocument doc;
    CancelOnFirstChunk cancel;
    m_server.Push({200, "", {"Location: " + m_server.Url("/s")}});
    m_server.Push({200, "{}", {}});
    EXPECT_EQ(Failure([&] { UploadResumable(m_client, file.string(), Folder(), doc, &cancel); }),
              "File upload  failed.");
    EXPECT_GT(cancel.last, 0u);
    EXPECT_LT(cancel.last, 2u << 20);

    // Converted and cancelled: no resumable attempt follows.
    transferCancel = false;
    const fs::path csv = MakeFile("big.csv", std::string(2 << 20, 'c'));
    m_server.Push({201, "<entry/>", {}});
    EXPECT_EQ(
        Failure([&] { UploadFileByRoute(m_client, csv.string(), Folder(), doc, &cancel, true); }),
        "File upload  failed.");
    const auto requests = SettledRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].target, "/feeds/default/private/full/folder%3AF1/contents");
}

TEST_F(TransferLoopback, DownloadStreamsToTemporaryNameThenRenames) {
    const fs::path target = MakeFile("Budget.xls", "old contents");
    const std::string body(300000, 's');
    m_server.Push({200, body, {}});
    DownloadEntry(m_client, m_server.Url("/feeds/download/spreadsheets/Export?key=k1"),
                  "spreadsheet", target, nullptr);
    EXPECT_EQ(test::ReadAll(target), body);
    EXPECT_EQ(DirListing(), std::vector<std::string>{"Budget.xls"});

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/feeds/download/spreadsheets/Export?key=k1&exportFormat=xls");
    EXPECT_TRUE(HasLine(requests[0], "GData-Version:3.0"));
    EXPECT_TRUE(HasLine(requests[0], "Authorization:GoogleLogin auth=WISE"));

    m_server.Push({200, "%PDF", {}});
    DownloadEntry(m_client, m_server.Url("/files/p1"), "pdf", m_dir / "new.pdf", nullptr, "doc");
    EXPECT_EQ(test::ReadAll(m_dir / "new.pdf"), "%PDF");
    EXPECT_EQ(m_server.Requests()[1].target, "/files/p1");
    EXPECT_TRUE(HasLine(m_server.Requests()[1], "Authorization:GoogleLogin auth=WTOKEN"));
}

TEST_F(TransferLoopback, FailedDownloadLeavesNoPartialFileAndKeepsTheOldOne) {
    const fs::path target = MakeFile("Report.doc", "keep me");
    const std::string url = m_server.Url("/Export?docID=d1");

    m_server.Push({404, "<html>Not Found</html>", {}});
    EXPECT_EQ(Failure([&] { DownloadEntry(m_client, url, "document", target, nullptr, "doc"); }),
              "File downloading/converting failed.");
    // A refused conversion carries the service's reason.
    m_server.Push({400,
                   "<errors><error><domain>GData</domain><code>unsupported</code>"
                   "<internalReason>Converting to doc needs LibreOffice on the server."
                   "</internalReason></error></errors>",
                   {}});
    EXPECT_EQ(Failure([&] { DownloadEntry(m_client, url, "document", target, nullptr, "doc"); }),
              "File downloading/converting failed. unsupported : Converting to doc needs "
              "LibreOffice on the server.");
    EXPECT_EQ(test::ReadAll(target), "keep me");

    CancelOnFirstChunk cancel;
    m_server.Push({200, std::string(2 << 20, 'x'), {}});
    EXPECT_EQ(Failure([&] { DownloadEntry(m_client, url, "document", target, &cancel); }),
              "File Downloading/Exporting Failed.");
    EXPECT_GT(cancel.last, 0u);
    transferCancel = false;

    EXPECT_EQ(Failure([&] {
                  DownloadEntry(m_client, "https://127.0.0.1:1/x", "file", m_dir / "n", nullptr);
              }),
              "File Downloading/Exporting Failed.");
    EXPECT_EQ(Failure([&] {
                  DownloadEntry(m_client, url, "file", m_dir / "no-such-dir" / "f", nullptr);
              }),
              "create file failed");
    EXPECT_EQ(test::ReadAll(target), "keep me");
    EXPECT_EQ(DirListing(), std::vector<std::string>{"Report.doc"});
    EXPECT_EQ(SettledRequests().size(), 3u);
}

TEST_F(TransferLoopback, AclRequests) {
    const std::string editUrl =
        m_server.Url("/feeds/default/private/full/document%3Ad1/acl/user%3Aa%40b.com");
    m_server.Push({200, test::ReadTestFile("acl-feed-docs-example.xml"), {}});
    m_server.Push({201, test::ReadTestFile("acl-entry-created.xml"), {}});
    m_server.Push({200, "<entry/>", {}});
    m_server.Push({200, "", {}});
    m_server.Push({403, test::ReadTestFile("error-gdata-412-etagsUnsupported.xml"), {}});

    tinyxml2::XMLDocument doc;
    GetAcl(m_client, "d1", "document", doc);
    ASSERT_NE(doc.FirstChildElement("feed"), nullptr);
    AddAclRule("user", "a@b.com", m_client, "d1", "document", "writer");
    ChangeAclRole("user", "a@b.com", m_client, editUrl, "W/\"e1.\"", "reader");
    DeleteAclRule(editUrl, m_client);
    EXPECT_EQ(Failure([&] { DeleteAclRule(editUrl, m_client); }),
              "etagsUnsupported : Resource does not support Etags");
    EXPECT_EQ(Failure([&] { DeleteAclRule("", m_client); }), "Invalid ACL Entry Link.");
    EXPECT_EQ(Failure([&] { ChangeAclRole("user", "a", m_client, "", "e", "reader"); }),
              "Invalid Entry link.");
    EXPECT_EQ(Failure([&] { AddAclRule("user", "a", m_client, "", "document", "reader"); }),
              "Invalid Entry Id.");

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    const std::string acl = "/feeds/default/private/full/document%3Ad1/acl";
    EXPECT_EQ(requests[0].method + " " + requests[0].target, "GET " + acl);
    EXPECT_TRUE(HasLine(requests[0], "Authorization: GoogleLogin auth=WTOKEN"));
    EXPECT_EQ(requests[1].method + " " + requests[1].target, "POST " + acl);
    EXPECT_EQ(requests[1].body, BuildNewAclRuleEntry("user", "a@b.com", "writer"));
    EXPECT_TRUE(HasLine(requests[1], "Content-Type:application/atom+xml"));
    EXPECT_EQ(requests[2].method + " " + requests[2].target, "PUT " + acl + "/user%3Aa%40b.com");
    EXPECT_EQ(requests[2].body, BuildChangedAclRuleEntry("user", "a@b.com", "W/\"e1.\"", "reader"));
    EXPECT_EQ(requests[2].Header("If-Match"), "*");
    EXPECT_EQ(requests[3].method, "DELETE");
    EXPECT_TRUE(HasLine(requests[3], "Content-Type:application/atom+xml"));
    EXPECT_EQ(requests[3].Header("If-Match"), "");
}

TEST_F(TransferLoopback, QuotaPageThroughSessionCookies) {
    m_server.Push({200, "<html>sign in</html>", {"Set-Cookie: GALX=g; Path=/"}});
    m_server.Push({200, "ok", {"Set-Cookie: SID=s1; Path=/"}});
    CookieSignIn(m_client);
    m_server.Push({500, "<div>You are currently using 42 MB.</div>", {}});
    EXPECT_EQ(GetQuotaText(m_client), "You are currently using 42 MB.");
    m_server.Push({200, "<html>new layout</html>", {}});
    EXPECT_EQ(GetQuotaText(m_client), std::nullopt);

    const Request quota = m_server.Requests()[2];
    EXPECT_EQ(quota.method + " " + quota.target, "GET /DocAction?action=updoc&hl=en");
    EXPECT_NE(quota.Header("Cookie").find("SID=s1"), std::string::npos);
    EXPECT_NE(quota.Header("User-Agent").find("MSIE 8.0"), std::string::npos);
    EXPECT_EQ(quota.Header("Authorization"), "");
}

}  // namespace
}  // namespace tallowdesk
