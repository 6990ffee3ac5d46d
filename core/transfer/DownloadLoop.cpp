#include "DownloadLoop.h"

#include <tinyxml2.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <system_error>

#include "NameClash.h"
#include "TransferFlags.h"
#include "TransferNames.h"
#include "TransferOps.h"
#include "TransferProgressSink.h"
#include "TransferRunner.h"
#include "model/ListingWorker.h"

namespace tallowdesk {

namespace {

// The running counts of one download. The total changes while folders are
// walked: each folder gives back its own count and adds its pages' items.
class Downloader {
public:
    // With a runner, files download on its threads while this one walks on;
    // folders are still made and their pages read here, before their files.
    Downloader(TransferOps& ops, TransferProgressSink& sink, std::uint64_t total, ClashAsker asker,
               TransferRunner* runner)
        : m_ops(ops), m_sink(sink), m_total(total), m_clashes(std::move(asker)), m_runner(runner) {}

    void Item(const FolderItem& item, const std::filesystem::path& folder) {
        if (item.kind == "folder")
            Folder(item.url, item.title, folder);
        else
            File(item, folder);
    }

private:
    void File(const FolderItem& item, const std::filesystem::path& folder) {
        ++m_current;
        m_sink.SetCurrentNumber(m_current);
        m_sink.SetTotal(m_total);
        m_sink.SetName(item.title);
        if (item.size > 0) {
            m_sink.SetSizeText(FormatByteCount(item.size) + " Byte");
            m_sink.SetMarquee(false);
            m_sink.SetRange(item.size);
        } else {
            m_sink.SetSizeText("unknown");
            m_sink.SetMarquee(true);
        }
        std::filesystem::path local = DownloadPath(folder, item.title, item.kind);
        if (m_runner) m_runner->WaitForPath(local);
        std::error_code ec;
        std::filesystem::path temp;  // a replacement on its way, when one is
        if (std::filesystem::exists(std::filesystem::symlink_status(local, ec))) {
            const std::optional<ClashChoice> asked = m_clashes.Decide(local, false);
            const ClashChoice choice = asked.value_or(ClashChoice::Replace);
            if (choice == ClashChoice::Skip) return;
            // A folder of that name is never replaced by a file: asked, the
            // file takes a numbered name; unasked, the download fails on it
            // with its detail line, as it always did.
            const bool folderInTheWay = std::filesystem::is_directory(local, ec);
            if (choice == ClashChoice::KeepBoth || (folderInTheWay && asked))
                local = NumberedFreeName(local, false);
            else if (!folderInTheWay)
                temp = ReplacementTempPath(local);
        }
        const auto transfer = [&ops = m_ops, item, local, temp](TransferProgressSink& sink) {
            std::error_code removed;
            try {
                ops.DownloadEntry(item.url, item.kind, temp.empty() ? local : temp, std::nullopt,
                                  sink);
                // The old file goes only once the new one is complete.
                if (!temp.empty()) std::filesystem::rename(temp, local);
            } catch (const std::exception& e) {
                if (!temp.empty()) std::filesystem::remove(temp, removed);
                sink.AddTransferDetail(item.title + "  Failed!:    " + e.what());
            } catch (...) {
                if (!temp.empty()) std::filesystem::remove(temp, removed);
                sink.AddTransferDetail(item.title + "  Failed!:  Unknown reason");
            }
        };
        if (m_runner)
            m_runner->Submit(transfer, local);
        else
            transfer(m_sink);
    }

    void Folder(const std::string& contentsUrl, const std::string& title,
                const std::filesystem::path& folder) {
        // Another account can put a folder inside one of its own subfolders:
        // a folder already on the path from the selection down to here would
        // be walked without end. A folder reached twice by other paths (filed
        // in two parents, or selected beside its own parent) is no cycle and
        // is downloaded at each place.
        if (!contentsUrl.empty() && m_path.count(contentsUrl) > 0) {
            m_sink.AddTransferDetail(title + "  Skipped:    the folder is inside itself.");
            if (m_total > 0) --m_total;
            return;
        }
        struct OnPath {
            std::set<std::string>& path;
            std::set<std::string>::iterator at;
            bool inserted;
            ~OnPath() {
                if (inserted) path.erase(at);
            }
        };
        const auto [at, inserted] =
            contentsUrl.empty() ? std::pair{m_path.end(), false} : m_path.insert(contentsUrl);
        const OnPath onPath{m_path, at, inserted};
        std::filesystem::path local = JoinLocalPath(folder, FitLocalName(SafeFileName(title)));
        if (m_runner) m_runner->WaitForPath(local);
        std::error_code ec;
        const bool created = std::filesystem::create_directory(local, ec);
        // create_directory reports an existing directory as "not created"
        // without an error, and an existing non-directory as file_exists.
        if ((!created && !ec) || ec == std::errc::file_exists) {
            const std::optional<ClashChoice> choice = m_clashes.Decide(local, true);
            if (!choice) {
                m_sink.AddTransferDetail("Folder already exists.");
                return;
            }
            if (*choice == ClashChoice::Skip) return;
            std::error_code isDir;
            if (*choice == ClashChoice::Replace && std::filesystem::is_directory(local, isDir)) {
                ec.clear();  // filled as it is; its files meet their own clashes
            } else {
                local = NumberedFreeName(local, true);
                ec.clear();
                if (!std::filesystem::create_directory(local, ec) && !ec)
                    ec = std::make_error_code(std::errc::file_exists);
            }
        }
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
            m_sink.AddTransferDetail("Folder creation failed.");
            return;
        }
        // Any other local failure (a path grown too long, no room, no
        // permission) would fail everything below too: one line, no descent.
        if (ec) {
            m_sink.AddTransferDetail(title +
                                     "  Failed!:    Folder creation failed: " + ec.message());
            return;
        }
        if (m_total > 0) --m_total;  // the folder was counted as one item

        std::string url = contentsUrl;
        for (;;) {
            if (transferCancel) return;
            tinyxml2::XMLDocument page;
            try {
                m_ops.GetFeed(url, page);
            } catch (...) {
                return;  // an unreadable page quietly ends this folder
            }
            std::vector<FolderItem> items;
            CollectFolderItems(items, page);
            m_total += items.size();
            for (const FolderItem& child : items) {
                if (transferCancel) return;
                Item(child, local);
            }
            // A short page is the last one; its next link is not asked for.
            if (items.size() < static_cast<std::size_t>(kFullPageEntries)) return;
            std::optional<std::string> next = NextLinkHref(page);
            if (!next) return;
            url = std::move(*next);
        }
    }

    TransferOps& m_ops;
    TransferProgressSink& m_sink;
    std::uint64_t m_current = 0;
    std::uint64_t m_total;
    ClashPolicy m_clashes;
    TransferRunner* m_runner;      // null: one file after another on this thread
    std::set<std::string> m_path;  // contents URLs of the folders being walked, outermost first
};

}  // namespace

void RunDownload(const std::vector<FolderItem>& items, const std::filesystem::path& destFolder,
                 TransferOps& ops, TransferProgressSink& sink, ClashAsker asker,
                 unsigned transfers) {
    const TransferBusyScope busy;
    // Asked clashes stay one at a time: a question about a name must not race
    // a transfer that is about to take it.
    std::optional<TransferRunner> runner;
    if (transfers > 1 && !asker) runner.emplace(sink, transfers);
    TransferProgressSink& loopSink = runner ? runner->LoopSink() : sink;
    Downloader downloader(ops, loopSink, items.size(), std::move(asker),
                          runner ? &*runner : nullptr);
    for (const FolderItem& item : items) {
        if (transferCancel) break;
        downloader.Item(item, destFolder);
    }
    if (runner) runner->WaitAll();
    loopSink.Finished();
}

}  // namespace tallowdesk
