// Requests against an in-process HTTPS responder: what goes over the wire and
// how status codes and transport failures come back.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <filesystem>
#include <thread>

#include "Failure.h"
#include "ScopedHosts.h"
#include "ServiceTestData.h"
#include "TempDir.h"
#include "TestData.h"
#include "TlsResponder.h"
#include "service/GDataRequests.h"
#include "service/ResponseBuffer.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"

namespace tallowdesk {
namespace {

using Reply = test::TlsResponder::Reply;

class Loopback : public ::testing::Test {
protected:
    ServiceClient& SignedInClient() {
        m_client.SetWritelyToken("WTOKEN");
        return m_client;
    }

    test::TlsResponder m_server;
    test::ScopedHosts m_hosts{test::HostsFor(m_server.HostPort(), m_server.CertFile())};
    ServiceClient m_client{"me@example.com", "p&ss=word"};
};

using test::Failure;

TEST_F(Loopback, ClientLoginStoresTokensPerService) {
    m_server.Push({200, test::ReadServiceSample("clientlogin-success.txt"), {}});
    m_server.Push({200, "SID=a\nLSID=b\nAuth=WISE", {}});
    ClientLogin(m_client, "writely");
    ClientLogin(m_client, "wise");
    EXPECT_EQ(m_client.Credentials().writelyToken, "TOKEN-REDACTED");
    EXPECT_EQ(m_client.Credentials().wiseToken, "WISE");

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/accounts/ClientLogin");
    EXPECT_EQ(requests[0].body, BuildClientLoginBody("me@example.com", "p&ss=word", "writely",
                                                     std::nullopt, std::nullopt));
    EXPECT_EQ(requests[0].Header("GData-Version"), "3.0");
    EXPECT_EQ(requests[0].Header("User-Agent"), "");
}

TEST_F(Loopback, ClientLoginFailuresLeaveClientUnchanged) {
    const std::string captcha = test::ReadServiceSample("clientlogin-captcha.txt");
    m_server.Push({403, captcha, {}});
    m_server.Push({403, test::ReadServiceSample("clientlogin-badauthentication.txt"), {}});
    m_server.Push({403, "", {}});
    try {
        ClientLogin(m_client, "writely");
        ADD_FAILURE() << "no CAPTCHA challenge";
    } catch (const CaptchaRequiredException& e) {
        EXPECT_EQ(e.what(), captcha);
    }
    EXPECT_EQ(Failure([&] { ClientLogin(m_client, "writely", "tok", "answer"); }),
              "The login request used a username or password that is not recognized. ");
    EXPECT_EQ(Failure([&] { ClientLogin(m_client, "writely"); }),
              "Login failed for unknown error.");
    EXPECT_FALSE(m_client.Credentials().writelyToken);
    EXPECT_NE(m_server.Requests()[1].body.find("&logintoken=tok&logincaptcha=answer"),
              std::string::npos);
}

TEST_F(Loopback, GetFeedSendsHeadersAndParsesOrReportsServiceError) {
    ServiceClient& client = SignedInClient();
    tinyxml2::XMLDocument doc;
    m_server.Push({200, "<feed><entry/></feed>", {}});
    GetFeed(client, m_server.Url("/feeds/default/private/full?showfolders=true"), doc);
    ASSERT_NE(doc.FirstChildElement("feed"), nullptr);

    m_server.Push({412, test::ReadTestFile("error-gdata-412-etagsUnsupported.xml"), {}});
    EXPECT_EQ(Failure([&] { GetFeed(client, m_server.Url("/feeds/x"), doc); }),
              "etagsUnsupported : Resource does not support Etags");
    EXPECT_NE(doc.FirstChildElement("feed"), nullptr) << "a failed request keeps the document";
    m_server.Push({500, "Server Error", {}});
    EXPECT_EQ(Failure([&] { GetFeed(client, m_server.Url("/feeds/x"), doc); }), "");

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/feeds/default/private/full?showfolders=true");
    EXPECT_EQ(requests[0].Header("GData-Version"), "3.0");
    EXPECT_EQ(requests[0].Header("Authorization"), "GoogleLogin auth=WTOKEN");
}

// Regression: an answer that was not XML read as an empty feed, so a broken
// or hostile service made a folder look empty and `ls` succeed.
TEST_F(Loopback, AFeedThatIsNotXmlIsAFailedRequest) {
    ServiceClient& client = SignedInClient();
    tinyxml2::XMLDocument doc;
    for (const char* body : {"<feed><entry></feed>", "", "<html>Sorry</html> trailing <"}) {
        m_server.Push({200, body, {}});
        EXPECT_EQ(Failure([&] { GetFeed(client, m_server.Url("/feeds/x"), doc); }),
                  "Get entry list failed (the answer is not well-formed XML)")
            << body;
    }
    m_server.Push({201, "<entry><title>half", {}});
    EXPECT_EQ(Failure([&] { CreateFolder(client, "New", std::nullopt, doc); }),
              "Create Folder Failed. (the answer is not well-formed XML)");
}

// Regression: answers were collected in memory without a bound.
TEST_F(Loopback, AnswersPastTheirLimitFailWithTheLimitNamed) {
    ServiceClient& client = SignedInClient();
    tinyxml2::XMLDocument doc;
    m_server.Push({200, "<feed>" + std::string(kMaxFeedBytes, ' ') + "</feed>", {}});
    EXPECT_EQ(Failure([&] { GetFeed(client, m_server.Url("/feeds/x"), doc); }),
              "The service's answer is larger than 64 MiB, more than this program accepts; it "
              "was not read.");
    m_server.Push({403, "Error=" + std::string(kMaxReplyBytes, 'x'), {}});
    EXPECT_EQ(Failure([&] { ClientLogin(m_client, "writely"); }),
              "The service's answer is larger than 1 MiB, more than this program accepts; it "
              "was not read.");
    m_server.Push({200, std::string(kMaxPictureBytes + 1, '\xFF'), {}});
    EXPECT_EQ(Failure([&] { FetchCaptchaImage(m_server.Url("/accounts/Captcha?ctoken=x")); }),
              "The service's answer is larger than 4 MiB, more than this program accepts; it "
              "was not read.");
    // Just below the limit is fine.
    m_server.Push({200, "<feed>" + std::string(kMaxPageBytes, ' ') + "</feed>", {}});
    GetFeed(client, m_server.Url("/feeds/x"), doc);
    EXPECT_NE(doc.FirstChildElement("feed"), nullptr);
}

TEST_F(Loopback, EntryOperationsSendTheirRequests) {
    ServiceClient& client = SignedInClient();
    m_server.Push({200, "", {}});
    m_server.Push({200, "", {}});
    m_server.Push({200, "", {}});
    const std::string editUrl = m_server.Url("/feeds/default/private/full/document%3Ad1");
    RenameEntry(editUrl, "Q&A", client);
    SetStarred(client, editUrl, true);
    TrashEntry(client, "folder:abc", true);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].target, "/feeds/default/private/full/document%3Ad1");
    EXPECT_EQ(requests[0].body, BuildUpdateEntryBody("<title>Q&amp;A</title>"));
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/atom+xml");
    EXPECT_EQ(requests[0].Header("If-Match"), "*");
    EXPECT_EQ(requests[1].body, BuildUpdateEntryBody(BuildStarredFragment(true)));
    EXPECT_EQ(requests[2].method, "DELETE");
    EXPECT_EQ(requests[2].target, "/feeds/default/private/full/folder%3Aabc?delete=true");
    EXPECT_EQ(requests[2].Header("If-Match"), "*");
}

TEST_F(Loopback, WorkersShareOneClient) {
    ServiceClient& client = SignedInClient();
    constexpr int kWorkers = 4;
    // Replies go out in arrival order, so each one suits every request.
    for (int i = 0; i < kWorkers + 2; ++i) {
        m_server.Push({200, "<feed/>", {"Set-Cookie: GALX=g; Path=/"}});
    }
    std::vector<std::string> outcomes(kWorkers + 1);
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.emplace_back([&, i] {
            tinyxml2::XMLDocument doc;
            outcomes[i] = Failure([&] { GetFeed(client, m_server.Url("/f"), doc); });
        });
    }
    workers.emplace_back([&] { outcomes[kWorkers] = Failure([&] { CookieSignIn(client); }); });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(outcomes, std::vector<std::string>(kWorkers + 1, "no failure"));
    EXPECT_EQ(m_server.Requests().size(), kWorkers + 2u);
}

TEST_F(Loopback, CreateFolderSucceedsOnlyWith201) {
    ServiceClient& client = SignedInClient();
    tinyxml2::XMLDocument doc;
    m_server.Push({200,
                   "<errors><error><code>c</code><internalReason>r</internalReason></error>"
                   "</errors>",
                   {}});
    m_server.Push({201, "<entry><title>R&amp;D</title></entry>", {}});
    EXPECT_EQ(Failure([&] { CreateFolder(client, "R&D", std::nullopt, doc); }), "c : r");
    CreateFolder(client, "R&D", m_server.Url("/feeds/default/private/full/folder%3Ap/contents"),
                 doc);
    ASSERT_NE(doc.FirstChildElement("entry"), nullptr);
    EXPECT_STREQ(doc.FirstChildElement("entry")->FirstChildElement("title")->GetText(), "R&D");

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/feeds/default/private/full");
    EXPECT_EQ(requests[0].body, BuildCreateFolderBody("R&D"));
    EXPECT_EQ(requests[1].target, "/feeds/default/private/full/folder%3Ap/contents");
}

TEST_F(Loopback, PeerIsVerifiedUnlessTurnedOff) {
    ServiceClient& client = SignedInClient();
    tinyxml2::XMLDocument doc;
    {
        // Without the responder's certificate the handshake must fail.
        test::ScopedHosts untrusted(test::HostsFor(m_server.HostPort(), ""));
        EXPECT_EQ(Failure([&] { GetFeed(client, m_server.Url("/f"), doc); }),
                  "Get entry list failed");
        ServiceHosts off = test::HostsFor(m_server.HostPort(), "");
        off.verifyPeer = false;
        test::ScopedHosts unverified(off);
        m_server.Push({200, "<feed/>", {}});
        GetFeed(client, m_server.Url("/f"), doc);
        EXPECT_NE(doc.FirstChildElement("feed"), nullptr);
    }
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(Loopback, CookieSignInPostsFormWithSharedCookies) {
    m_server.Push({200, "<html>sign in</html>", {"Set-Cookie: GALX=g/1; Path=/"}});
    m_server.Push({200, "welcome", {"Set-Cookie: SID=s1; Path=/"}});
    CookieSignIn(m_client);

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/accounts/ServiceLoginAuth");
    EXPECT_EQ(requests[1].body,
              BuildCookieSignInBody("g/1", m_server.HostPort(), "me@example.com", "p&ss=word"));
    EXPECT_EQ(requests[1].Header("Cookie"), "GALX=g/1");
    EXPECT_NE(requests[1].Header("User-Agent").find("Chrome/6.0"), std::string::npos);

    // The next sign-in's handles send the stored session cookie, and an error
    // status of the form post does not fail the sign-in.
    m_server.Push({200, "", {}});
    m_server.Push({500, "", {}});
    CookieSignIn(m_client);
    EXPECT_NE(m_server.Requests()[2].Header("Cookie").find("SID=s1"), std::string::npos);
}

TEST_F(Loopback, CookieSignInWithoutGalxFails) {
    m_server.Push({200, "<html>no form</html>", {}});
    EXPECT_EQ(Failure([&] { CookieSignIn(m_client); }), "Login failed to get the cookies.");
}

TEST_F(Loopback, CaptchaPictureLandsInTemporaryFolder) {
    const std::string picture("\xFF\xD8\xFF\x00jpeg", 8);
    m_server.Push({200, picture, {}});
    const std::string path = FetchCaptchaImage(m_server.Url("/accounts/Captcha?ctoken=x"));
    EXPECT_EQ(std::filesystem::path(path).filename(), "Captcha.jpg");
    EXPECT_EQ(test::ReadAll(path), picture);

    // Each picture gets a private folder, removed with it.
    EXPECT_EQ(std::filesystem::status(std::filesystem::path(path).parent_path()).permissions(),
              std::filesystem::perms::owner_all);
    RemoveCaptchaImage(path);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path).parent_path()));

    // An unreachable picture still leaves an (empty) file to show.
    const std::string empty = FetchCaptchaImage("https://127.0.0.1:1/none");
    EXPECT_EQ(std::filesystem::file_size(empty), 0u);
    RemoveCaptchaImage(empty);
    EXPECT_EQ(Failure([] { FetchCaptchaImage(std::nullopt); }), "Captcha Image Url is invalid");
}

}  // namespace
}  // namespace tallowdesk
