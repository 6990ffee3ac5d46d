#include "UploadLoop.h"

#include <tinyxml2.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "NameClash.h"
#include "TransferFlags.h"
#include "TransferNames.h"
#include "TransferOps.h"
#include "TransferProgressSink.h"
#include "TransferRunner.h"
#include "UploadListRule.h"
#include "UploadObserver.h"
#include "model/FeedCatalogue.h"
#include "model/ListingWorker.h"
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

// What one source came to.
enum class Outcome { Failed, Skipped, Added, Replaced };

// The entries already in one remote folder, read once per upload; the
// entries the upload itself adds there are added as they come.
struct FolderNames {
    std::vector<DocEntryPtr> entries;

    DocEntryPtr Find(const std::string& title, bool folder) const {
        for (const DocEntryPtr& e : entries)
            if (e->IsFolder() == folder && e->title && *e->title == title) return e;
        return nullptr;
    }
    bool Taken(const std::string& title, bool folder) const {
        return Find(title, folder) != nullptr;
    }
};

class Uploader {
public:
    // Gets the service's reply once a file has been uploaded or replaced.
    using Uploaded = std::function<void(tinyxml2::XMLDocument&, Outcome)>;

    // With a runner, files upload on its threads while this one walks on;
    // folders are still made here, each before its members. Questions about
    // names already taken come only without a runner, in the order of the walk.
    Uploader(TransferOps& ops, TransferProgressSink& sink, TransferRunner* runner, ClashAsker asker)
        : m_ops(ops),
          m_sink(sink),
          m_runner(runner),
          m_asking(static_cast<bool>(asker)),
          m_clashes(std::move(asker)) {}

    // where: the remote place as the user knows it, for the questions.
    void File(const fs::path& path, const std::string& targetUrl, const fs::path& where,
              Uploaded uploaded) {
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
        std::string name;  // empty: the file's own
        DocEntryPtr replaced;
        FolderNames* names = NamesIn(targetUrl);
        if (names) {
            const std::string own = path.filename().string();
            if (DocEntryPtr same = names->Find(own, false)) {
                switch (m_clashes.Decide(where / own, false).value_or(ClashChoice::KeepBoth)) {
                    case ClashChoice::Skip:
                        return;
                    case ClashChoice::Replace:
                        replaced = std::move(same);
                        break;
                    case ClashChoice::KeepBoth:
                        name = NumberedFreeName(own, false, [names](const fs::path& candidate) {
                                   return names->Taken(candidate.string(), false);
                               }).string();
                        break;
                }
            }
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
        std::optional<std::string> replaceHref;
        if (replaced) {
            // No edit-media link: the service offers no way to replace it.
            if (!replaced->editMediaHref) {
                m_sink.AddTransferDetail("Error: " + shown +
                                         " :  The content of this entry cannot be replaced.");
                return;
            }
            replaceHref = *replaced->editMediaHref;
        }
        const auto transfer = [&ops = m_ops, path, targetUrl, shown, name, replaceHref, names,
                               uploaded = std::move(uploaded)](TransferProgressSink& sink) {
            tinyxml2::XMLDocument reply;
            try {
                if (replaceHref) {
                    ops.ReplaceContent(path, *replaceHref, reply, sink);
                } else {
                    ops.UploadFile(path, targetUrl, name, reply, sink);
                    if (names) Remember(*names, reply);  // only without a runner
                }
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
            if (uploaded) uploaded(reply, replaceHref ? Outcome::Replaced : Outcome::Added);
        };
        if (m_runner)
            m_runner->Submit(transfer);
        else
            transfer(m_sink);
    }

    Outcome Folder(const fs::path& path, const std::string& targetUrl, tinyxml2::XMLDocument& reply,
                   const fs::path& where) {
        std::string name = UploadFolderName(path);
        std::string contentsUrl;
        FolderNames* names = NamesIn(targetUrl);
        if (names) {
            if (DocEntryPtr same = names->Find(name, true)) {
                switch (m_clashes.Decide(where / name, true).value_or(ClashChoice::KeepBoth)) {
                    case ClashChoice::Skip:
                        return Outcome::Skipped;
                    case ClashChoice::Replace:  // merged: its files meet their own questions
                        contentsUrl = FolderContentsUrl(*same);
                        break;
                    case ClashChoice::KeepBoth:
                        name = NumberedFreeName(name, true, [names](const fs::path& candidate) {
                                   return names->Taken(candidate.string(), true);
                               }).string();
                        break;
                }
            }
        }
        const bool merged = !contentsUrl.empty();
        if (!merged) {
            const std::string failed = name + "  Folder creation failed.";
            try {
                m_ops.CreateFolder(name, targetUrl, reply);
            } catch (...) {
                m_sink.AddTransferDetail(failed);
                return Outcome::Failed;
            }
            const tinyxml2::XMLElement* entry = ReplyEntry(reply);
            const DocEntry created = entry ? ParseEntry(*entry) : DocEntry{};
            if (!created.IsFolder()) {
                // Said out loud: the folder's contents are skipped.
                m_sink.AddTransferDetail(failed);
                return Outcome::Failed;
            }
            contentsUrl = FolderContentsUrl(created);
            if (names) {
                Remember(*names, reply);
                m_names[contentsUrl];  // new, so nothing is in it
            }
        }

        std::error_code ec;
        const std::vector<fs::directory_entry> members = Members(path, ec);
        if (ec) m_sink.AddTransferDetail("Error: " + path.string() + " :  " + ec.message());
        for (const fs::directory_entry& member : members) {
            if (transferCancel) break;
            tinyxml2::XMLDocument memberReply;
            switch (Classify(member)) {
                case MemberKind::Folder:
                    Folder(member.path(), contentsUrl, memberReply, where / name);
                    break;
                case MemberKind::File:
                    File(member.path(), contentsUrl, where / name, {});
                    break;
                case MemberKind::Other:
                    m_sink.AddTransferDetail("Warning: " + member.path().string() +
                                             " :  Skipped, neither a regular file nor a folder.");
                    break;
            }
        }
        return merged ? Outcome::Replaced : Outcome::Added;
    }

private:
    // The names in the folder whose contents feed is url, read page by page
    // the first time; nothing when no one is asked (each upload then makes a
    // new entry, as it always did) or the folder cannot be read (the upload
    // itself then says what is wrong).
    FolderNames* NamesIn(const std::string& url) {
        if (!m_asking) return nullptr;
        if (auto known = m_names.find(url); known != m_names.end()) return &known->second;
        FolderNames names;
        std::string page = url;
        for (;;) {
            tinyxml2::XMLDocument doc;
            try {
                m_ops.GetFeed(page, doc);
            } catch (...) {
                return nullptr;
            }
            int added = 0;
            const tinyxml2::XMLElement* feed = doc.FirstChildElement("feed");
            for (const tinyxml2::XMLElement* e = feed ? feed->FirstChildElement("entry") : nullptr;
                 e; e = e->NextSiblingElement("entry"), ++added)
                names.entries.push_back(std::make_shared<const DocEntry>(ParseEntry(*e)));
            // A short page is the last one, as in every listing.
            if (added < kFullPageEntries) break;
            std::optional<std::string> next = NextLinkHref(doc);
            if (!next) break;
            page = std::move(*next);
        }
        return &m_names.emplace(url, std::move(names)).first->second;
    }

    static void Remember(FolderNames& names, const tinyxml2::XMLDocument& reply) {
        if (const tinyxml2::XMLElement* entry = ReplyEntry(reply))
            names.entries.push_back(std::make_shared<const DocEntry>(ParseEntry(*entry)));
    }

    TransferOps& m_ops;
    TransferProgressSink& m_sink;
    TransferRunner* m_runner;  // null: one file after another on this thread
    std::uint64_t m_counter = 0;
    bool m_asking;
    ClashPolicy m_clashes;
    std::map<std::string, FolderNames> m_names;  // by contents feed URL
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
               const CurrentLocationUrl& currentLocationUrl, FolderList& folders, ClashAsker asker,
               const std::string& targetTitle, unsigned transfers) {
    const TransferBusyScope busy;
    // The user answers one question at a time, in the order of the walk.
    if (asker) transfers = 1;
    std::optional<TransferRunner> runner;
    if (transfers > 1) runner.emplace(sink, transfers);
    TransferProgressSink& loopSink = runner ? runner->LoopSink() : sink;
    Uploader uploader(ops, loopSink, runner ? &*runner : nullptr, std::move(asker));
    // Files uploaded on the runner's threads come here from them.
    std::mutex afterLock;
    const auto uploaded = [&](const UploadSource& source, tinyxml2::XMLDocument& reply,
                              Outcome outcome) {
        const std::lock_guard lock(afterLock);
        if (outcome == Outcome::Replaced) {
            // The entry was there before: its row and tree node stay, with
            // what changed read again.
            const std::string current = currentLocationUrl ? currentLocationUrl() : std::string();
            if (ListUpdateAfterUpload(current, targetUrl, source.isDirectory, std::nullopt) !=
                ListUpdate::None)
                observer.RefreshList();
            return;
        }
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
            const Outcome outcome = uploader.Folder(source.path, targetUrl, reply, targetTitle);
            if (outcome == Outcome::Added || outcome == Outcome::Replaced)
                uploaded(source, reply, outcome);
        } else {
            uploader.File(source.path, targetUrl, targetTitle,
                          [&uploaded, &source](tinyxml2::XMLDocument& reply, Outcome outcome) {
                              uploaded(source, reply, outcome);
                          });
        }
    }
    if (runner) runner->WaitAll();
    loopSink.Finished();
}

}  // namespace tallowdesk
