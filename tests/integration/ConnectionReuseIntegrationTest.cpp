// Requests on one thread share kept-alive connections; each request must still
// go out exactly as on a fresh connection, and a large download must stream.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CliFixture.h"
#include "Crypto.h"
#include "IntegrationFixture.h"
#include "Store.h"
#include "model/DocEntry.h"
#include "model/FeedCatalogue.h"
#include "service/CurlHandles.h"
#include "service/Download.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"
#include "service/TransportSecurity.h"
#include "service/Upload.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One MiB of a pattern that does not repeat within the MiB's 256-byte pages.
std::string PatternBlock() {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 251);
    return block;
}

// Whether the file is exactly `size` bytes of PatternBlock() repeated.
bool HasPattern(const fs::path& path, std::uint64_t size) {
    std::error_code ec;
    if (fs::file_size(path, ec) != size || ec) return false;
    std::ifstream in(path, std::ios::binary);
    const std::string block = PatternBlock();
    std::string got(block.size(), '\0');
    for (std::uint64_t done = 0; done < size; done += block.size()) {
        if (!in.read(got.data(), static_cast<std::streamsize>(block.size())) || got != block)
            return false;
    }
    return true;
}

class ConnectionReuse : public IntegrationTest {
public:  // the table's rows below drive the fixture
    void SetUp() override {
        IntegrationTest::SetUp();
        m_client = std::make_unique<ServiceClient>(kEmail, kPassword);
        ClientLogin(*m_client, "writely");
        CookieSignIn(*m_client);
        m_local = m_dir / "local";
        fs::create_directories(m_local);
        std::ofstream(m_local / "seed.bin", std::ios::binary) << std::string(5000, 'q');
        m_seed = Upload(m_local / "seed.bin", false);
    }

    DocEntry Upload(const fs::path& path, bool convert) {
        tinyxml2::XMLDocument doc;
        UploadFileByRoute(*m_client, path.string(), DocumentListUrl(), doc, nullptr, convert);
        const auto* entry = doc.FirstChildElement("entry");
        if (!entry) throw std::runtime_error("no entry");
        return ParseEntry(*entry);
    }

    std::unique_ptr<ServiceClient> m_client;
    fs::path m_local;
    DocEntry m_seed;
};

// What must not be carried from one request to the next on a kept handle.
struct Carried {
    const char* name;
    std::function<void(ConnectionReuse&)> first;
};

// A request made straight on a pooled handle, as any later code could.
void RawRequest(const std::function<void(CURL*)>& prepare, const std::string& url) {
    CurlEasy easy(CurlEasy::Reuse::Thread);
    CurlSlist headers;
    headers.Append("X-Left-Over: yes");
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    ApplyTransportSecurity(easy.get());
    prepare(easy.get());
    curl_easy_perform(easy.get());
}

TEST_F(ConnectionReuse, NothingOfOneRequestLeaksIntoTheNextAndTheConnectionIsKept) {
    const std::string folderFeed = DocumentListUrl() + "/folder%3Aroot/contents";
    const std::string downloadUrl = *m_seed.contentSrc;
    auto raw = [&](std::function<void(CURL*)> prepare) {
        return [=](ConnectionReuse&) { RawRequest(prepare, downloadUrl); };
    };
    const std::vector<Carried> table{
        {"a PUT with a body, If-Match and a content type",
         [](ConnectionReuse& t) { RenameEntry(*t.m_seed.editHref, "renamed.bin", *t.m_client); }},
        {"a POST with an XML body",
         [](ConnectionReuse& t) {
             tinyxml2::XMLDocument doc;
             CreateFolder(*t.m_client, "Made", std::nullopt, doc);
         }},
        {"a DELETE",
         [](ConnectionReuse& t) {
             std::ofstream(t.m_local / "gone.bin") << "x";
             const DocEntry gone = t.Upload(t.m_local / "gone.bin", false);
             TrashEntry(*t.m_client, gone.resourceId.value_or(""), false);
         }},
        {"a browser upload with cookies, referer and its user agent",
         [](ConnectionReuse& t) { t.Upload(t.m_local / "seed.bin", false); }},
        {"a converted upload with a slug and a length",
         [](ConnectionReuse& t) {
             std::ofstream(t.m_local / "note.txt") << "some words";
             t.Upload(t.m_local / "note.txt", true);
         }},
        {"a range, a custom header and a POST body on a raw handle", raw([](CURL* h) {
             curl_easy_setopt(h, CURLOPT_RANGE, "0-9");
             curl_easy_setopt(h, CURLOPT_POSTFIELDS, "left=over");
         })},
        {"a custom method and basic credentials on a raw handle", raw([](CURL* h) {
             curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PATCH");
             curl_easy_setopt(h, CURLOPT_USERPWD, "someone:secret");
         })},
    };
    const std::vector<std::string> neverAfter{
        "Range", "X-Left-Over", "If-Match", "Content-Type",      "Content-Length",
        "Slug",  "Cookie",      "Referer",  "Transfer-Encoding", "Expect"};

    for (const Carried& row : table) {
        SCOPED_TRACE(row.name);
        row.first(*this);
        const unsigned long before = ConnectionsOpenedOnThisThread();
        NewRequests();
        // Two follow-up requests: a listing and a download.
        tinyxml2::XMLDocument feed;
        GetFeed(*m_client, folderFeed, feed);
        const fs::path out = m_local / "download.bin";
        DownloadEntry(*m_client, downloadUrl, "file", out, nullptr);
        EXPECT_EQ(ReadAll(out), std::string(5000, 'q'));
        fs::remove(out);
        EXPECT_EQ(ConnectionsOpenedOnThisThread(), before) << "a new connection was opened";

        const auto requests = NewRequests();
        ASSERT_EQ(requests.size(), 2u);
        for (const LoggedRequest& r : requests) {
            EXPECT_EQ(r.method, "GET") << r.target;
            EXPECT_EQ(r.body, "") << r.target;
            EXPECT_EQ(r.Header("Authorization"),
                      "GoogleLogin auth=" + *m_client->Credentials().writelyToken)
                << r.target;
            EXPECT_EQ(r.Header("User-Agent").find("MSIE"), std::string::npos) << r.target;
            for (const std::string& name : neverAfter)
                EXPECT_EQ(r.Header(name), "") << name << " on " << r.target;
        }
    }
}

TEST_F(ConnectionReuse, AClientSignedInAgainGetsNoCookiesOfTheOldOne) {
    // The browser upload attached the old client's cookie share to the pooled
    // handle; the old client is destroyed before the next request.
    Upload(m_local / "seed.bin", false);
    m_client.reset();
    ServiceClient other(kEmail, kPassword);
    ClientLogin(other, "writely");
    NewRequests();
    tinyxml2::XMLDocument feed;
    GetFeed(other, DocumentListUrl(), feed);
    const auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Cookie"), "");
}

TEST_F(ConnectionReuse, ConnectionsVerifiedUnderOtherCasAreNotReused) {
    // Connections share one parsed CA store, which libcurl does not compare
    // when it picks a kept connection: trusting other CAs must start afresh.
    const fs::path otherCert = m_dir / "other-cert.pem";
    server::EnsureCertificate(otherCert.string(), (m_dir / "other-key.pem").string());
    const fs::path caCopy = m_dir / "ca-copy.pem";
    fs::copy_file(m_server->CertPath(), caCopy);
    const ServiceHosts trusted = Hosts();
    auto trust = [&](const fs::path& caFile) {
        ServiceHosts hosts = trusted;
        hosts.caFile = caFile.string();
        SetServiceHosts(hosts);
    };
    auto feed = [&] {
        tinyxml2::XMLDocument doc;
        GetFeed(*m_client, DocumentListUrl(), doc);
    };
    auto refused = [&] {
        try {
            feed();
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("answered");
    };

    feed();  // a verified connection is kept
    trust(otherCert);
    EXPECT_EQ(refused(), "Get entry list failed");
    trust(caCopy);
    feed();
    // The same file with other contents counts as other CAs too.
    fs::copy_file(otherCert, caCopy, fs::copy_options::overwrite_existing);
    EXPECT_EQ(refused(), "Get entry list failed");
    fs::copy_file(m_server->CertPath(), caCopy, fs::copy_options::overwrite_existing);
    feed();
    SetServiceHosts(trusted);
}

class CliMemory : public CliTest {
protected:
    std::string Seed(const std::string& title, std::uint64_t size) {
        const fs::path content = fs::path(m_server->DataDir()) / "content" / (".seed-" + title);
        {
            std::ofstream out(content, std::ios::binary);
            const std::string block = PatternBlock();
            for (std::uint64_t done = 0; done < size; done += block.size())
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        server::NewEntry entry;
        entry.kind = "file";
        entry.title = title;
        entry.mime = "application/octet-stream";
        entry.contentFile = content.string();
        return m_server->GetStore().Create(kEmail, entry).id;
    }

    // Peak resident memory (KiB) of the real command-line program downloading
    // one file, or -1 when it failed.
    long PeakOfGet(const std::string& title, const fs::path& to) {
        const std::string home = (m_dir / "home").string();
        fs::create_directories(home);
        // Everything the child needs is made before the fork: between fork
        // and exec only async-signal-safe calls, as the service's threads may
        // hold locks in the parent.
        std::vector<std::string> env{"HOME=" + home};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "HOME=", 5) != 0) env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args{TALLOWDESK_CLI_BIN, "get",    title, "--to",
                                      to.string(),        "--quiet"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t child = ::fork();
        if (child < 0) return -1;
        if (child == 0) {
            ::alarm(120);  // a stuck transfer cannot outlive the test
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        if (::wait4(child, &status, 0, &usage) != child) return -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
        return usage.ru_maxrss;
    }
};

// A body held whole (or a buffer growing with it) would raise the peak by up
// to the file's size.
TEST_F(CliMemory, LargeDownloadKeepsClientMemoryFlat) {
    constexpr std::uint64_t kSmall = 1ull << 20, kLarge = 192ull << 20;
    Seed("small.bin", kSmall);
    Seed("large.bin", kLarge);
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    const fs::path out = m_dir / "out";
    fs::create_directories(out);

    const long small = PeakOfGet("small.bin", out);
    const long large = PeakOfGet("large.bin", out);
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    EXPECT_LT(large - small, 16 * 1024) << "peak KiB: " << small << " then " << large;
    EXPECT_TRUE(HasPattern(out / "small.bin", kSmall));
    EXPECT_TRUE(HasPattern(out / "large.bin", kLarge));
}

}  // namespace
}  // namespace tallowdesk::test
