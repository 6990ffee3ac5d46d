#include "UpdateCheck.h"

#include <curl/curl.h>

#include <algorithm>
#include <exception>

#include "UpdateDownload.h"
#include "UpdateTransfer.h"
#include "Version.h"
#include "service/CurlHandles.h"
#include "service/TransportSecurity.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace update_detail {

namespace {

struct FetchState {
    CURL* handle = nullptr;
    const std::function<bool(const char*, std::size_t)>* sink = nullptr;
    bool checked = false;
    bool opened = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* state = static_cast<FetchState*>(user);
    const std::size_t bytes = size * count;
    if (!state->checked) {
        long status = 0;
        curl_easy_getinfo(state->handle, CURLINFO_RESPONSE_CODE, &status);
        state->checked = true;
        state->opened = status == 200;
    }
    // An error page is not the file: stop at its first byte.
    if (!state->opened) return 0;
    return (*state->sink)(data, bytes) ? bytes : 0;
}

}  // namespace

FetchResult FetchUrl(const std::string& url,
                     const std::function<bool(const char* data, std::size_t size)>& sink) {
    FetchResult result;
    try {
        EnsureCurlGlobalInit();
    } catch (const std::exception&) {
        return result;
    }
    CurlEasy easy;
    if (!easy) return result;
    CURL* handle = easy.get();
    FetchState state{handle, &sink};
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    ApplyTransportSecurity(handle);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
    // A stalled server ends the download instead of hanging the worker.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &state);
    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    result.opened = status == 200;
    result.complete = result.opened && code == CURLE_OK;
    return result;
}

}  // namespace update_detail

namespace {
constexpr std::size_t kMaxUpdateText = 4096;
// The published version is kept in a buffer of 64 units, terminator included.
constexpr std::size_t kMaxVersionText = 63;
}  // namespace

std::string UpdateFolderUrl() {
    return "https://" + Hosts().updateHost + "/updatefiles/";
}

UpdateCheckOutcome JudgeUpdateText(std::string_view published, std::string_view runningVersion) {
    UpdateCheckOutcome outcome;
    if (published.empty()) {
        outcome.result = UpdateCheckResult::NothingRead;
        return outcome;
    }
    if (runningVersion.empty()) {
        outcome.result = UpdateCheckResult::NoRunningVersion;
        return outcome;
    }
    outcome.publishedVersion = std::string(published.substr(0, kMaxVersionText));
    outcome.result = CompareVersions(outcome.publishedVersion, runningVersion) == 1
                         ? UpdateCheckResult::Available
                         : UpdateCheckResult::NotNewer;
    return outcome;
}

UpdateCheckOutcome CheckForUpdate(const std::string& folderUrl, const std::string& runningVersion) {
    std::string text;
    const auto fetched =
        update_detail::FetchUrl(folderUrl + "update.txt", [&text](const char* data, std::size_t n) {
            // Only the first 4096 bytes count; the rest is not read.
            text.append(data, std::min(n, kMaxUpdateText - text.size()));
            return text.size() < kMaxUpdateText;
        });
    if (!fetched.opened) return {UpdateCheckResult::OpenFailed, {}};
    // After "Upgrade finished" the old version runs on until a restart: the
    // version it handed over is the one to beat.
    return JudgeUpdateText(text,
                           runningVersion.empty() ? runningVersion : VersionToBeat(runningVersion));
}

}  // namespace tallowdesk
