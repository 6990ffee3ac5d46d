#include "ServerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "Headers.h"
#include "PgDb.h"

namespace tallowdesk::server::test {

namespace fs = std::filesystem;

namespace {

std::size_t CollectBody(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::size_t CollectHeader(char* data, std::size_t size, std::size_t count, void* out) {
    auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(out);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) headers->clear();  // a new response (redirects)
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
        headers->emplace_back(line.substr(0, colon), value);
    }
    return size * count;
}

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string Reply::Header(const std::string& name) const {
    return tallowdesk::test::HeaderValue(headers, name);
}

std::vector<std::string> Reply::Headers(const std::string& name) const {
    return tallowdesk::test::HeaderValues(headers, name);
}

Client::Client(std::string caFile) : m_curl(curl_easy_init()), m_caFile(std::move(caFile)) {
    if (!m_curl) throw std::runtime_error("curl_easy_init failed");
    curl_easy_setopt(m_curl, CURLOPT_COOKIEFILE, "");
    // No test waits for ever on a server that stopped answering.
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, 20L);
}

Client::~Client() {
    curl_easy_cleanup(m_curl);
}

Reply Client::Send(const std::string& method, const std::string& url,
                   const std::vector<std::string>& headers, const std::string& body,
                   bool followRedirects) {
    Reply reply;
    std::unique_ptr<curl_slist, SlistFree> list;
    for (const auto& h : headers) {
        curl_slist* grown = curl_slist_append(list.get(), h.c_str());
        if (!grown) throw std::runtime_error("curl_slist_append failed");
        (void)list.release();
        list.reset(grown);
    }
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_caFile.c_str());
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &reply.headers);
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT, 60L);  // a hung server fails the test
    if (method == "UPLOAD") {
        curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, nullptr);
    } else if (method == "GET") {
        curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, nullptr);
    } else if (method == "POST") {
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, nullptr);
    } else {
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    const CURLcode rc = curl_easy_perform(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    if (rc != CURLE_OK) {
        throw std::runtime_error(std::string("transfer failed: ") + curl_easy_strerror(rc));
    }
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply.status);
    return reply;
}

namespace {
struct Source {
    const std::string* data;
    std::size_t offset = 0;
};
std::size_t ReadSource(char* out, std::size_t size, std::size_t count, void* user) {
    auto* source = static_cast<Source*>(user);
    const std::size_t n = std::min(size * count, source->data->size() - source->offset);
    std::copy_n(source->data->data() + source->offset, n, out);
    source->offset += n;
    return n;
}
}  // namespace

Reply Client::StreamPut(const std::string& url, const std::vector<std::string>& headers,
                        const std::string& body) {
    Source source{&body};
    curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, ReadSource);
    curl_easy_setopt(m_curl, CURLOPT_READDATA, &source);
    Reply reply;
    try {
        reply = Send("UPLOAD", url, headers);
    } catch (...) {
        curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 0L);
        throw;
    }
    curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 0L);
    return reply;
}

std::string Client::Cookie(const std::string& name) const {
    curl_slist* cookies = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_COOKIELIST, &cookies);
    std::string found;
    for (auto* c = cookies; c; c = c->next) {
        // Netscape layout: the name is the sixth field, the value the seventh.
        std::vector<std::string> fields;
        std::string line = c->data, field;
        for (char ch : line) {
            if (ch == '\t') {
                fields.push_back(field);
                field.clear();
            } else {
                field += ch;
            }
        }
        fields.push_back(field);
        if (fields.size() >= 7 && fields[5] == name) found = fields[6];
    }
    curl_slist_free_all(cookies);
    return found;
}

void ServerTest::SetUp() {
    m_dir = std::make_unique<TempDir>();
}

void ServerTest::TearDown() {
    m_client.reset();
    if (m_server) m_server->Stop();
    m_server.reset();
    m_dir.reset();
}

int ConnectLoopback(unsigned short port, int seconds, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Before connecting: the window the handshake offers follows it.
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    timeval limit{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string CertificateFileDigest(const std::filesystem::path& certFile) {
    FILE* file = std::fopen(certFile.c_str(), "rb");
    if (!file) return {};
    X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    return RawTls::CertificateDigest(cert);
}

RawTls::RawTls(unsigned short port, int receiveBuffer) {
    m_fd = ConnectLoopback(port, 30, receiveBuffer);
    if (m_fd < 0) throw std::runtime_error("connect");
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    m_ctx = ctx;
    m_ssl = ssl;
    SSL_set_fd(ssl, m_fd);
    if (SSL_connect(ssl) != 1) {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        ::close(m_fd);
        throw std::runtime_error("TLS handshake failed");
    }
}

RawTls::~RawTls() {
    SSL_free(static_cast<SSL*>(m_ssl));
    SSL_CTX_free(static_cast<SSL_CTX*>(m_ctx));
    ::close(m_fd);
}

std::string RawTls::Fingerprint() const {
    return CertificateDigest(SSL_get1_peer_certificate(static_cast<SSL*>(m_ssl)));
}

std::string RawTls::StatusLine() {
    SSL* ssl = static_cast<SSL*>(m_ssl);
    const std::string request = "GET /accounts/ServiceLogin HTTP/1.1\r\nHost: localhost\r\n\r\n";
    if (SSL_write(ssl, request.data(), static_cast<int>(request.size())) <= 0) return {};
    std::string text;
    char buffer[4096];
    while (text.find("\r\n") == std::string::npos) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text.substr(0, text.find("\r\n"));
}

void RawTls::Dribble(const std::string& bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const int size = static_cast<int>(std::min(piece, bytes.size() - at));
        ASSERT_EQ(SSL_write(static_cast<SSL*>(m_ssl), bytes.data() + at, size), size);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
}

std::string RawTls::ReadAll(std::size_t piece) {
    std::string text;
    std::vector<char> buffer(piece);
    for (;;) {
        errno = 0;
        const int n = SSL_read(static_cast<SSL*>(m_ssl), buffer.data(), static_cast<int>(piece));
        if (n <= 0) {
            m_timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
            break;
        }
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return text;
}

std::string RawTls::Read(std::size_t size) {
    std::string text(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        errno = 0;
        const int n = SSL_read(static_cast<SSL*>(m_ssl), text.data() + got,
                               static_cast<int>(std::min<std::size_t>(size - got, 1 << 20)));
        if (n <= 0) {
            m_timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

std::string RawTls::CertificateDigest(void* cert) {
    if (!cert) return {};
    X509* x509 = static_cast<X509*>(cert);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    X509_digest(x509, EVP_sha256(), digest, &size);
    X509_free(x509);
    return std::string(reinterpret_cast<char*>(digest), size);
}

std::string TestDatabase(const std::filesystem::path& dataDir) {
    const char* base = std::getenv("TALLOWDESK_TEST_DATABASE");
    if (!base || !*base) return {};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string key = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    key += "|" + std::filesystem::absolute(dataDir).lexically_normal().string();
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(key));
    const std::string schema = std::string("t_") + hash;
    static std::mutex mutex;
    static std::set<std::string> prepared;
    {
        std::lock_guard lock(mutex);
        if (prepared.insert(schema).second) {
            PgConnection db(base);
            db.Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema);
        }
    }
    const std::string url(base);
    return url + (url.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" +
           schema;
}

std::vector<std::string> TestDatabaseArgs(const std::filesystem::path& dataDir) {
    const std::string database = TestDatabase(dataDir);
    if (database.empty()) return {};
    return {"--database", database};
}

ServerOptions TestOptions(const std::filesystem::path& dataDir) {
    ServerOptions options;
    options.dataDir = dataDir.string();
    options.database = TestDatabase(dataDir);
    options.port = 0;
    options.passwordIterations = 1000;
    return options;
}

void ServerTest::StartServer(std::size_t pageSize, const std::string& requestLog) {
    ServerOptions options = TestOptions(m_dir->Path() / "data");
    options.pageSize = pageSize;
    options.requestLogPath = requestLog;
    StartServer(options);
}

void ServerTest::StartServer(ServerOptions options) {
    options.ioThreads = 4;
    m_server = std::make_unique<Server>(options);
    m_server->AddUser(kAlice, kPassword, "Alice Example");
    m_port = m_server->Start();
    m_client = std::make_unique<Client>(m_server->CertPath());
}

std::string ServerTest::Url(const std::string& path) const {
    return "https://localhost:" + std::to_string(m_port) + path;
}

std::string ServerTest::PlainUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

Reply ServerTest::ClientLogin(const std::string& email, const std::string& password,
                              const std::string& service, const std::string& extra) {
    char* e = curl_easy_escape(nullptr, email.c_str(), static_cast<int>(email.size()));
    char* p = curl_easy_escape(nullptr, password.c_str(), static_cast<int>(password.size()));
    const std::string body = std::string("accountType=HOSTED_OR_GOOGLE&Email=") + e +
                             "&Passwd=" + p + "&service=" + service +
                             "&source=Quarrymoss-Tallowdesk-1.0.0" + extra;
    curl_free(e);
    curl_free(p);
    return m_client->Send("POST", Url("/accounts/ClientLogin"), {"GData-Version:3.0"}, body);
}

std::string ServerTest::Token(const std::string& email, const std::string& password) {
    const Reply reply = ClientLogin(email, password);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return Between(reply.body, "Auth=", "\n");
}

Reply ServerTest::GData(const std::string& method, const std::string& path,
                        const std::string& token, const std::string& body,
                        const std::vector<std::string>& extra) {
    std::vector<std::string> headers = {"GData-Version: 3.0",
                                        "Authorization: GoogleLogin auth=" + token};
    headers.insert(headers.end(), extra.begin(), extra.end());
    return m_client->Send(method, path.rfind("http", 0) == 0 ? path : Url(path), headers, body);
}

Reply ServerTest::CreateFolder(const std::string& token, const std::string& title,
                               const std::string& parentContentsPath) {
    return GData("POST", parentContentsPath.empty() ? kList : parentContentsPath, token,
                 FolderEntryXml(title), {"Content-Type:application/atom+xml"});
}

std::string PutEntry(Store& store, const std::string& owner, const std::string& kind,
                     const std::string& title, const std::vector<std::string>& parents,
                     const std::optional<std::string>& content, const std::string& mime) {
    NewEntry entry;
    entry.kind = kind;
    entry.title = title;
    entry.mime = mime;
    entry.parents = parents;
    entry.content = content;
    return store.Create(owner, entry).id;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close,
                    std::size_t from) {
    const auto start = text.find(open, from);
    if (start == std::string::npos) return {};
    const auto end = text.find(close, start + open.size());
    return text.substr(start + open.size(),
                       end == std::string::npos ? std::string::npos : end - start - open.size());
}

std::vector<std::string> EntryTitles(const std::string& feed) {
    tinyxml2::XMLDocument doc;
    std::vector<std::string> titles;
    if (doc.Parse(feed.c_str()) != tinyxml2::XML_SUCCESS) {
        ADD_FAILURE() << "feed is not XML: " << feed.substr(0, 200);
        return titles;
    }
    const auto* root = doc.FirstChildElement("feed");
    if (!root) return titles;
    for (auto* e = root->FirstChildElement("entry"); e; e = e->NextSiblingElement("entry")) {
        const auto* title = e->FirstChildElement("title");
        titles.push_back(title && title->GetText() ? title->GetText() : "");
    }
    return titles;
}

std::string NextLink(const std::string& feed) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(feed.c_str()) != tinyxml2::XML_SUCCESS) return {};
    const auto* root = doc.FirstChildElement("feed");
    for (auto* l = root ? root->FirstChildElement("link") : nullptr; l;
         l = l->NextSiblingElement("link")) {
        if (l->Attribute("rel", "next")) return l->Attribute("href");
    }
    return {};
}

std::string FolderEntryXml(const std::string& title) {
    return "<?xml version='1.0' encoding='UTF-8'?><entry xmlns=\"http://www.w3.org/2005/Atom\">"
           "<category scheme=\"http://schemas.google.com/g/2005#kind\" "
           "term=\"http://schemas.google.com/docs/2007#folder\"/><title>" +
           title + "</title></entry>";
}

}  // namespace tallowdesk::server::test
