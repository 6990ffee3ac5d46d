#include "UploadLoop.h"

#include <tinyxml2.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "TransferFlags.h"
#include "TransferNames.h"
#include "TransferOps.h"
#include "TransferProgressSink.h"
#include "TransferRunner.h"
#include "UploadListRule.h"
#include "UploadObserver.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceExceptions.h"

namespace tallowdesk {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kOneGiB = 1073741824;

enum class MemberKind { Folder, File, Other };

// Folder members are classified once, the same way for counting and for
// uploading. Links to directories are not followed: a link cycle would
// otherwise make both walks endless.
MemberKind Classify(const fs::directory_entry& entry) {
    std::error_code ec;
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) return MemberKind::Folder;
    if (entry.is_regular_file(ec)) return MemberKind::File;
    return MemberKind::Other;
}

// The members of a folder in name order; directory order on Linux is
// arbitrary, and a fixed order makes uploads repeatable.
std::vector<fs::directory_entry> Members(const fs::path& folder, std::error_code& ec) {
    std::vector<fs::directory_entry> members;
    fs::directory_iterator it(folder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        if (!it->path().filename().empty()) members.push_back(*it);
    }
    std::sort(members.begin(), members.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename().native() < b.path().filename().native();
              });
    return members;
}

std::uint64_t CountFilesBelow(const fs::path& folder) {
    std::error_code ec;
    std::uint64_t n = 0;
    for (const fs::directory_entry& member : Members(folder, ec)) {
        switch (Classify(member)) {
            case MemberKind::Folder:
                n += CountFilesBelow(member.path());
                break;
            case MemberKind::File:
                ++n;
                break;
            case MemberKind::Other:
                break;
        }
    }
    return n;
}

const tinyxml2::XMLElement* ReplyEntry(const tinyxml2::XMLDocument& reply) {
    return reply.FirstChildElement("entry");
}

class Uploader {
public:
    // Gets the service's reply once a file has been uploaded.
    using Uploaded = std::function<void(tinyxml2::XMLDocument&)>;

    // With a runner, files upload on its threads while this one walks on;
    // folders are still made here, each before its members.
    Uploader(TransferOps& ops, TransferProgressSink& sink, TransferRunner* runner)
        : m_ops(ops), m_sink(sink), m_runner(runner) {}

    void File(const fs::path& path, const std::string& targetUrl, Uploaded uploaded) {
        ++m_counter;
        m_sink.SetCurrentNumber(m_counter);
        const std::string shown = path.string();
        m_sink.SetName(shown);
        std::error_code ec;
        // A FIFO, device or socket is no file to upload (reading a FIFO
        // could wait for ever); a missing file is reported by the upload.
        if (const fs::file_status status = fs::status(path, ec);
            !ec && status.type() != fs::file_type::regular) {
            m_sink.AddTransferDetail("Warning: " + shown +
                                     " :  Skipped, neither a regular file nor a folder.");
            return;
        }
        std::uint64_t size = fs::file_size(path, ec);
        if (ec) size = 0;  // the upload itself reports the unreadable file
        if (size > kOneGiB) {
            m_sink.SetSizeText("More than 1GB");
            m_sink.SetRange(kOneGiB);
        } else {
            m_sink.SetSizeText(FormatByteCount(size) + " Byte");
            m_sink.SetRange(size);
        }
        const auto transfer = [&ops = m_ops, path, targetUrl, shown,
                               uploaded = std::move(uploaded)](TransferProgressSink& sink) {
            tinyxml2::XMLDocument reply;
            try {
                ops.UploadFile(path, targetUrl, reply, sink);
            } catch (const UploadedFileGetInfoException&) {
                sink.AddTransferDetail("Warning: " + shown +
                                       " :  File information seems not correct, please check "
                                       "this file to make sure that it is uploaded correctly. ");
                return;
            } catch (const std::exception& e) {
                sink.AddTransferDetail("Error: " + shown + " :  " + e.what());
                return;
            } catch (...) {
                sink.AddTransferDetail(shown + "  Failed!:  Unknown reason");
                return;
            }
            if (uploaded) uploaded(reply);
        };
        if (m_runner)
            m_runner->Submit(transfer);
        else
            transfer(m_sink);
    }

    bool Folder(const fs::path& path, const std::string& targetUrl, tinyxml2::XMLDocument& reply) {
        const std::string name = UploadFolderName(path);
        const std::string failed = name + "  Folder creation failed.";
        try {
            m_ops.CreateFolder(name, targetUrl, reply);
        } catch (...) {
            m_sink.AddTransferDetail(failed);
            return false;
        }
        const tinyxml2::XMLElement* entry = ReplyEntry(reply);
        const DocEntry created = entry ? ParseEntry(*entry) : DocEntry{};
        if (!created.IsFolder()) {
            // Said out loud: the folder's contents are skipped.
            m_sink.AddTransferDetail(failed);
            return false;
        }
        const std::string contentsUrl = FolderContentsUrl(created);

        std::error_code ec;
        const std::vector<fs::directory_entry> members = Members(path, ec);
        if (ec) m_sink.AddTransferDetail("Error: " + path.string() + " :  " + ec.message());
        for (const fs::directory_entry& member : members) {
            if (transferCancel) break;
            tinyxml2::XMLDocument memberReply;
            switch (Classify(member)) {
                case MemberKind::Folder:
                    Folder(member.path(), contentsUrl, memberReply);
                    break;
                case MemberKind::File:
                    File(member.path(), contentsUrl, {});
                    break;
                case MemberKind::Other:
                    m_sink.AddTransferDetail("Warning: " + member.path().string() +
                                             " :  Skipped, neither a regular file nor a folder.");
                    break;
            }
        }
        return true;
    }

private:
    TransferOps& m_ops;
    TransferProgressSink& m_sink;
    TransferRunner* m_runner;  // null: one file after another on this thread
    std::uint64_t m_counter = 0;
};

}  // namespace

std::uint64_t CountUploadFiles(const std::vector<UploadSource>& sources,
                               TransferProgressSink& sink) {
    std::uint64_t total = 0;
    for (const UploadSource& source : sources) {
        std::error_code ec;
        if (fs::is_directory(source.path, ec))
            total += CountFilesBelow(source.path);
        else
            ++total;
        sink.SetTotal(total);
    }
    return total;
}

void RunUpload(const std::vector<UploadSource>& sources, const std::string& targetUrl,
               TransferOps& ops, TransferProgressSink& sink, UploadObserver& observer,
               const CurrentLocationUrl& currentLocationUrl, FolderList& folders,
               unsigned transfers) {
    const TransferBusyScope busy;
    std::optional<TransferRunner> runner;
    if (transfers > 1) runner.emplace(sink, transfers);
    TransferProgressSink& loopSink = runner ? runner->LoopSink() : sink;
    Uploader uploader(ops, loopSink, runner ? &*runner : nullptr);
    // Files uploaded on the runner's threads come here from them.
    std::mutex afterLock;
    const auto uploaded = [&](const UploadSource& source, tinyxml2::XMLDocument& reply) {
        const std::lock_guard lock(afterLock);
        const tinyxml2::XMLElement* entry = ReplyEntry(reply);
        DocEntryPtr record = entry ? std::make_shared<const DocEntry>(ParseEntry(*entry)) : nullptr;
        if (source.isDirectory && record) {
            folders.Append(record);
            // A target outside any folder (the document list) puts the new
            // folder under the tree's root.
            const bool inFolder = targetUrl.find("folder") != std::string::npos;
            observer.AddFolderToTree({inFolder ? targetUrl : std::string(),
                                      record->title.value_or(""), FolderContentsUrl(*record),
                                      record});
        }
        const std::optional<std::string> kind = record ? std::optional(record->kind) : std::nullopt;
        const std::string current = currentLocationUrl ? currentLocationUrl() : std::string();
        switch (ListUpdateAfterUpload(current, targetUrl, source.isDirectory, kind)) {
            case ListUpdate::AddItem:
                if (record) observer.AddUploadedItem(record);
                break;
            case ListUpdate::Refresh:
                observer.RefreshList();
                break;
            case ListUpdate::None:
                break;
        }
    };
    for (const UploadSource& source : sources) {
        if (transferCancel) break;
        if (source.isDirectory) {
            tinyxml2::XMLDocument reply;
            if (uploader.Folder(source.path, targetUrl, reply)) uploaded(source, reply);
        } else {
            uploader.File(
                source.path, targetUrl,
                [&uploaded, &source](tinyxml2::XMLDocument& reply) { uploaded(source, reply); });
        }
    }
    if (runner) runner->WaitAll();
    loopSink.Finished();
}

}  // namespace tallowdesk
