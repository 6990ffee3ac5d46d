#include "TransportSecurity.h"

#include <curl/curl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

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

// The bundle is rebuilt only when the extra CA file changes (the local service
// may create its certificate after the client started), not per request.
struct BundleCache {
    std::mutex lock;
    std::string caFile;
    std::filesystem::file_time_type stamp{};
    std::uintmax_t size = 0;
    std::shared_ptr<const std::string> bundle;
};

std::shared_ptr<const std::string> CurrentBundle(const std::string& caFile) {
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
    }
    return cache.bundle;
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
    const auto bundle = CurrentBundle(hosts.caFile);
    if (!bundle->empty()) {
        curl_blob blob{const_cast<char*>(bundle->data()), bundle->size(), CURL_BLOB_COPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
    }
}

}  // namespace tallowdesk
