#include "TransportSecurity.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return false;
    out = text.str();
    return true;
}

std::string SystemBundlePath() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info && info->age >= CURLVERSION_SEVENTH && info->cainfo && *info->cainfo) {
        return info->cainfo;
    }
    return "/etc/ssl/certs/ca-certificates.crt";
}

struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreFree>;

// The bundle parsed once into a certificate store. Parsing some 140 system
// CAs costs about 20 ms, which a bundle handed to libcurl paid again on every
// new connection; connections share this store instead. Null if the bundle
// holds no certificate.
StorePtr ParseStore(const std::string& bundle) {
    StorePtr store(X509_STORE_new());
    if (!store) return nullptr;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(bundle.data(), static_cast<int>(bundle.size())), &BIO_free);
    if (!bio) return nullptr;
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr);
    if (!infos) return nullptr;
    int added = 0;
    for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos, i);
        if (info->x509 && X509_STORE_add_cert(store.get(), info->x509) == 1) ++added;
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    return added > 0 ? std::move(store) : nullptr;
}

// The bundle is rebuilt only when the extra CA file changes (the local service
// may create its certificate after the client started), not per request.
struct BundleCache {
    std::mutex lock;
    std::string caFile;
    std::filesystem::file_time_type stamp{};
    std::uintmax_t size = 0;
    std::shared_ptr<const std::string> bundle;
    X509_STORE* store = nullptr;
    std::uint64_t generation = 0;
    // A handle set up before a rebuild may still be about to connect with the
    // old store, so stores are never freed; a rebuild is rare (once, when the
    // local service makes its certificate).
    std::vector<StorePtr> stores;
};

struct CurrentCa {
    std::shared_ptr<const std::string> bundle;
    X509_STORE* store = nullptr;
    std::uint64_t generation = 0;
};

CurrentCa CurrentBundle(const std::string& caFile) {
    static BundleCache cache;
    std::error_code ec;
    const auto stamp = std::filesystem::last_write_time(caFile, ec);
    const auto size = ec ? 0 : std::filesystem::file_size(caFile, ec);
    std::lock_guard guard(cache.lock);
    if (!cache.bundle || cache.caFile != caFile || cache.stamp != stamp || cache.size != size) {
        cache.bundle =
            std::make_shared<const std::string>(BuildCaBundle(SystemBundlePath(), caFile));
        cache.caFile = caFile;
        cache.stamp = stamp;
        cache.size = size;
        cache.store = nullptr;
        ++cache.generation;
        if (!cache.bundle->empty()) {
            if (StorePtr parsed = ParseStore(*cache.bundle)) {
                cache.store = parsed.get();
                cache.stores.push_back(std::move(parsed));
            }
        }
    }
    return {cache.bundle, cache.store, cache.generation};
}

CURLcode UseSharedStore(CURL*, void* sslContext, void* store) {
    // The context takes its own reference; verification itself stays
    // libcurl's (peer and host name checked as configured above).
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(store));
    return CURLE_OK;
}

}  // namespace

std::string BuildCaBundle(const std::string& systemBundlePath, const std::string& extraCaFile) {
    std::string extra;
    if (extraCaFile.empty() || !ReadWholeFile(extraCaFile, extra) || extra.empty()) return {};
    std::string bundle;
    // An unreadable system bundle leaves only the extra CA; the local service
    // still works and public hosts fail verification rather than pass unchecked.
    ReadWholeFile(systemBundlePath, bundle);
    if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
    bundle += extra;
    return bundle;
}

std::uint64_t TrustGeneration() {
    return CurrentBundle(Hosts().caFile).generation;
}

void ApplyTransportSecurity(CURL* handle) {
    const ServiceHosts& hosts = Hosts();
    if (!hosts.verifyPeer) {
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
        return;
    }
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    // CURLOPT_CAINFO_BLOB replaces the default bundle, so the blob carries the
    // system CAs as well as the extra one; libcurl copies it.
    const CurrentCa ca = CurrentBundle(hosts.caFile);
    if (ca.bundle->empty()) return;
    // With the shared store libcurl loads no CA file of its own; a TLS
    // library without context callbacks gets the bundle itself.
    if (ca.store && curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, ca.store) == CURLE_OK &&
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &UseSharedStore) == CURLE_OK) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
        return;
    }
    curl_blob blob{const_cast<char*>(ca.bundle->data()), ca.bundle->size(), CURL_BLOB_COPY};
    curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
}

}  // namespace tallowdesk
