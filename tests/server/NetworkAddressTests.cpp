#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Crypto.h"
#include "NetworkAddress.h"
#include "TempDir.h"

namespace tallowdesk::server::test {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

// Only what a trusted proxy added may move the source; anybody can send the
// headers themselves.
TEST(SourceAddressTest, OnlyTrustedProxiesMoveTheSource) {
    const std::vector<std::string> proxies = {"127.0.0.9", "10.1.1.1"};
    struct Case {
        const char* what;
        std::string peer;
        Headers headers;
        std::string source;
    };
    const std::vector<Case> cases = {
        {"no proxy, headers ignored",
         "198.51.100.7",
         {{"X-Forwarded-For", "203.0.113.5"}},
         "198.51.100.7"},
        {"no proxy, Forwarded ignored",
         "198.51.100.7",
         {{"Forwarded", "for=203.0.113.5"}},
         "198.51.100.7"},
        {"proxy, X-Forwarded-For",
         "127.0.0.9",
         {{"X-Forwarded-For", "203.0.113.5"}},
         "203.0.113.5"},
        {"proxy, Forwarded first",
         "127.0.0.9",
         {{"X-Forwarded-For", "203.0.113.5"}, {"Forwarded", "for=203.0.113.6"}},
         "203.0.113.6"},
        {"the client's own hop before the proxy's is not believed",
         "127.0.0.9",
         {{"X-Forwarded-For", "6.6.6.6, 203.0.113.5"}},
         "203.0.113.5"},
        {"two trusted proxies are walked past",
         "127.0.0.9",
         {{"X-Forwarded-For", "203.0.113.5, 10.1.1.1"}},
         "203.0.113.5"},
        {"a hop that is no address ends at the peer",
         "127.0.0.9",
         {{"X-Forwarded-For", "not-an-address"}},
         "127.0.0.9"},
        {"proxy without a header", "127.0.0.9", {}, "127.0.0.9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SourceAddress(c.peer, c.headers, proxies), c.source) << c.what;
    }
}

TEST(ListenAddressTest, ParsesAddressesAndRefusesTheRest) {
    const auto v4 = ParseListenAddress("127.0.0.2:8443");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->address, "127.0.0.2");
    EXPECT_EQ(v4->port, 8443);
    const auto v6 = ParseListenAddress("[::1]:0");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->address, "::1");
    for (const char* bad :
         {"localhost:80", "127.0.0.1", "127.0.0.1:65536", "::1:80", "[::1]", "127.0.0.1:-1", ""}) {
        EXPECT_FALSE(ParseListenAddress(bad)) << bad;
    }
    for (const char* local : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
        EXPECT_TRUE(IsLoopbackAddress(local)) << local;
    }
    for (const char* remote : {"10.0.0.1", "::2", "128.0.0.1", "::ffff:10.0.0.1"}) {
        EXPECT_FALSE(IsLoopbackAddress(remote)) << remote;
    }
}

std::unique_ptr<X509, decltype(&X509_free)> ReadCertificate(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    X509* cert = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return {cert, &X509_free};
}

// Regression: the service's certificate was a certificate authority, so
// anything its key signed, for any name, was trusted by whoever trusted it.
// The public address goes into every link the service writes, so anything
// that would make those links point elsewhere (a path, user information) or
// send passwords in the clear off this machine is refused.
TEST(PublicUrlTest, ParsesOriginsAndRefusesTheRest) {
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, std::string>> originAndHost;
    };
    using P = std::pair<std::string, std::string>;
    const std::vector<Case> cases = {
        {"https://docs.example.org", P{"https://docs.example.org", "docs.example.org"}},
        {"https://docs.example.org/", P{"https://docs.example.org", "docs.example.org"}},
        {"HTTPS://Docs.Example.ORG:8443", P{"https://docs.example.org:8443", "docs.example.org"}},
        {"https://192.0.2.4:443", P{"https://192.0.2.4:443", "192.0.2.4"}},
        {"https://[2001:db8::1]:8443", P{"https://[2001:db8::1]:8443", "2001:db8::1"}},
        {"http://localhost:8080", P{"http://localhost:8080", "localhost"}},
        {"http://127.0.0.1", P{"http://127.0.0.1", "127.0.0.1"}},
        {"http://docs.example.org", std::nullopt},
        {"ftp://docs.example.org", std::nullopt},
        {"docs.example.org", std::nullopt},
        {"https://", std::nullopt},
        {"https://docs.example.org/tallowdesk", std::nullopt},
        {"https://docs.example.org?x=1", std::nullopt},
        {"https://user@docs.example.org", std::nullopt},
        {"https://docs.example.org:0", std::nullopt},
        {"https://docs.example.org:65536", std::nullopt},
        {"https://docs.example.org:", std::nullopt},
        {"https://docs..example.org", std::nullopt},
        {"https://2001:db8::1", std::nullopt},
        {"https://[192.0.2.4]", std::nullopt},
        {"https://[2001:db8::1]x", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto url = ParsePublicUrl(c.text);
        ASSERT_EQ(url.has_value(), c.originAndHost.has_value());
        if (!url) continue;
        EXPECT_EQ(url->origin, c.originAndHost->first);
        EXPECT_EQ(url->host, c.originAndHost->second);
    }
}

TEST(CertificateTest, TheServiceCertificateIsALeafForItsNames) {
    tallowdesk::test::TempDir dir;
    const std::string cert = (dir.Path() / "cert.pem").string();
    const std::string key = (dir.Path() / "key.pem").string();
    ASSERT_TRUE(EnsureCertificate(cert, key, {"docs.example.test"}));
    const auto x = ReadCertificate(cert);
    ASSERT_TRUE(x);
    EXPECT_EQ(X509_check_ca(x.get()), 0);
    EXPECT_NE(X509_get_extended_key_usage(x.get()) & XKU_SSL_SERVER, 0u);
    for (const char* name : {"localhost", "docs.example.test"}) {
        EXPECT_EQ(X509_check_host(x.get(), name, 0, 0, nullptr), 1) << name;
    }
    for (const char* ip : {"127.0.0.1", "::1"}) {
        EXPECT_EQ(X509_check_ip_asc(x.get(), ip, 0), 1) << ip;
    }
    EXPECT_NE(X509_check_host(x.get(), "evil.example", 0, 0, nullptr), 1);
    // Kept while it fits; made again for a name it lacks.
    EXPECT_FALSE(EnsureCertificate(cert, key, {"docs.example.test"}));
    EXPECT_TRUE(EnsureCertificate(cert, key, {"other.example.test"}));
}

}  // namespace
}  // namespace tallowdesk::server::test
