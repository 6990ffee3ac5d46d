#include "UploadLoop.h"

#include <tinyxml2.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <system_error>

#include "TransferFlags.h"
#include "TransferNames.h"
#include "TransferOps.h"
#include "TransferProgressSink.h"
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
    Uploader(TransferOps& ops, TransferProgressSink& sink) : m_ops(ops), m_sink(sink) {}

    bool File(const fs::path& path, const std::string& targetUrl, tinyxml2::XMLDocument& reply) {
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
            return false;
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
        try {
            m_ops.UploadFile(path, targetUrl, reply, m_sink);
            return true;
        } catch (const UploadedFileGetInfoException&) {
            m_sink.AddTransferDetail("Warning: " + shown +
                                     " :  File information seems not correct, please check this "
                                     "file to make sure that it is uploaded correctly. ");
        } catch (const std::exception& e) {
            m_sink.AddTransferDetail("Error: " + shown + " :  " + e.what());
        } catch (...) {
            m_sink.AddTransferDetail(shown + "  Failed!:  Unknown reason");
        }
        return false;
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
                    File(member.path(), contentsUrl, memberReply);
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
               const CurrentLocationUrl& currentLocationUrl, FolderList& folders) {
    const TransferBusyScope busy;
    Uploader uploader(ops, sink);
    for (const UploadSource& source : sources) {
        if (transferCancel) break;
        tinyxml2::XMLDocument reply;
        const bool ok = source.isDirectory ? uploader.Folder(source.path, targetUrl, reply)
                                           : uploader.File(source.path, targetUrl, reply);
        if (!ok) continue;

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
    }
    sink.Finished();
}

}  // namespace tallowdesk
