#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "HttpMessage.h"

namespace tallowdesk::server {

class Store;
class SharedState;
class SignInHandler;
class UploadSink;

// Largest file an upload may carry, exclusive: 1 GiB.
inline constexpr std::uint64_t kMaxUploadBytes = 1073741824;
// Uploads for conversion become documents and are converted in memory.
inline constexpr std::uint64_t kMaxConvertedUploadBytes = 64ull * 1024 * 1024;

// How answers of the browser upload name what the client needs next. The
// real service used each form at times, so the client reads both.
enum class AnswerStyle { Alternate, Header, Body };

// A body to stream to disk instead of reading it into memory, or a refusal
// given before the body is read.
struct UploadPlan {
    std::optional<HttpResponse> refusal;
    std::shared_ptr<UploadSink> sink;
};

// Uploads: files posted for conversion to a feed, the browser upload route
// (session request, then the file as a form), and the upload page with the
// account's storage use. Thread-safe; open sessions live in the shared
// state, so a session opened through one service process can be finished
// through another.
class UploadHandler {
public:
    UploadHandler(Store& store, SharedState& shared, SignInHandler& signIn, std::string contentDir);

    // Nothing when the request is not an upload whose body is a file.
    std::optional<UploadPlan> Plan(const HttpRequest& header);
    // After the planned body arrived in `sink`.
    HttpResponse Finish(const HttpRequest& header, UploadSink& sink);

    HttpResponse OpenSession(const HttpRequest& request);
    // A PUT to an entry's "edit-media" link whose body came whole with its
    // header (an empty file): planned and finished at once.
    HttpResponse ReplaceMediaAtOnce(const HttpRequest& request);
    HttpResponse UploadPage(const HttpRequest& request);

    void SetSessionUrlStyle(AnswerStyle style) { m_urlStyle = style; }
    void SetEntryIdStyle(AnswerStyle style) { m_idStyle = style; }

private:
    struct OpenUpload {
        std::string owner;
        std::string fileName;
        std::uint64_t size = 0;
        std::string parentId;
    };
    std::optional<OpenUpload> FindSession(const std::string& uploadId);
    // Whether `user` may still add a file to `parentId` (empty: the root).
    bool MayFileInto(const std::string& user, const std::string& parentId);
    std::optional<UploadPlan> PlanConverted(const HttpRequest& header);
    std::optional<UploadPlan> PlanForm(const HttpRequest& header);
    HttpResponse FinishConverted(const HttpRequest& header, UploadSink& sink);
    HttpResponse FinishForm(const HttpRequest& header, UploadSink& sink);
    std::optional<UploadPlan> PlanMedia(const HttpRequest& header);
    HttpResponse FinishMedia(const HttpRequest& header, UploadSink& sink);
    bool UseHeader(AnswerStyle style, std::atomic<unsigned>& turn);

    Store& m_store;
    SharedState& m_shared;
    SignInHandler& m_signIn;
    std::string m_contentDir;
    // Held (with a lock on a file of the data folder, for the other
    // processes) from the quota check to the new entry, so parallel uploads
    // of one account cannot each pass the check against the same old usage.
    std::mutex m_landMutex;
    std::string m_landLockPath;
    std::atomic<AnswerStyle> m_urlStyle{AnswerStyle::Alternate};
    std::atomic<AnswerStyle> m_idStyle{AnswerStyle::Alternate};
    std::atomic<unsigned> m_urlTurn{0};
    std::atomic<unsigned> m_idTurn{0};
};

}  // namespace tallowdesk::server
