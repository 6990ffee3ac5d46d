#include "TransferWorkers.h"

#include <QCoreApplication>

#include "AppState.h"
#include "CLeftView.h"
#include "DialogProgressSink.h"
#include "Worker.h"
#include "dialogs/CExportProgressDlg.h"
#include "dialogs/TransferProgressDlg.h"
#include "transfer/DownloadLoop.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferOps.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk::shell {
namespace {

// The service calls of one transfer thread; a failure to get them (no
// signed-in client) ends the transfer with one detail line.
std::unique_ptr<TransferOps> MakeOps(const TransferOpsFactory& make, TransferProgressSink& sink,
                                     bool claimsBusy, const std::string& failure = {}) {
    try {
        if (make) return make();
        throw std::runtime_error("The user must be logged in.");
    } catch (const std::exception& e) {
        sink.AddTransferDetail(failure.empty() ? e.what() : failure);
    } catch (...) {
        sink.AddTransferDetail(
            failure.empty()
                ? QCoreApplication::translate("TransferWorkers", "Unknown reason").toStdString()
                : failure);
    }
    sink.Finished();
    // The command claimed the flag for a loop that never ran.
    if (claimsBusy) transferBusy = false;
    return nullptr;
}

// The window's side of an upload, on the upload thread: every call is sent,
// so the tree and the list have taken the entry before the next file starts.
class WindowUploadObserver final : public UploadObserver {
public:
    explicit WindowUploadObserver(const UploadWindows& windows) : m_windows(windows) {}

    void AddFolderToTree(const NewTreeFolder& folder) override {
        const QPointer<CLeftView> tree = m_windows.tree;
        notifier::Send([&] {
            if (tree) tree->AddFolderUnder(folder.parentUrl, folder.title, folder.contentsUrl);
        });
    }
    void AddUploadedItem(const DocEntryPtr& entry) override {
        m_windows.list.AddUploadedEntry(entry);
    }
    void RefreshList() override { m_windows.list.RefreshListView(); }

private:
    const UploadWindows& m_windows;
};

}  // namespace

void StartDownloadWorker(std::vector<FolderItem> items, std::filesystem::path destFolder,
                         const TransferOpsFactory& makeOps, TransferProgressDlg* dialog,
                         ClashAsker asker) {
    struct Block {
        std::vector<FolderItem> items;
        std::filesystem::path dest;
        TransferOpsFactory makeOps;
        DialogProgressSink sink;
        ClashAsker asker;
    };
    StartWorker(std::make_unique<Block>(Block{std::move(items), std::move(destFolder), makeOps,
                                              DialogProgressSink(dialog), std::move(asker)}),
                [](Block& b) {
                    std::unique_ptr<TransferOps> ops = MakeOps(b.makeOps, b.sink, true);
                    if (ops) RunDownload(b.items, b.dest, *ops, b.sink, b.asker);
                });
}

void StartExportWorker(ExportRequest request, const TransferOpsFactory& makeOps,
                       CExportProgressDlg* dialog) {
    struct Block {
        ExportRequest request;
        TransferOpsFactory makeOps;
        DialogProgressSink sink;
    };
    ++exportsRunning;  // before the thread, so that no end beside it misses it
    StartWorker(
        std::make_unique<Block>(Block{std::move(request), makeOps, DialogProgressSink(dialog)}),
        [](Block& b) {
            struct Ended {
                ~Ended() { --exportsRunning; }
            } ended;
            std::unique_ptr<TransferOps> ops = MakeOps(b.makeOps, b.sink, false, kExportFailedText);
            if (ops) RunExport(b.request, *ops, b.sink);
        });
}

void StartUploadWorkers(std::vector<UploadSource> sources, std::string targetUrl,
                        const TransferOpsFactory& makeOps, TransferProgressDlg* dialog,
                        UploadWindows windows, ClashAsker asker, std::string targetTitle) {
    struct CountBlock {
        std::vector<UploadSource> sources;
        DialogProgressSink sink;
    };
    StartWorker(std::make_unique<CountBlock>(CountBlock{sources, DialogProgressSink(dialog)}),
                [](CountBlock& b) { CountUploadFiles(b.sources, b.sink); });

    struct Block {
        std::vector<UploadSource> sources;
        std::string target;
        TransferOpsFactory makeOps;
        DialogProgressSink sink;
        UploadWindows windows;
        ClashAsker asker;
        std::string targetTitle;
    };
    StartWorker(std::make_unique<Block>(Block{std::move(sources), std::move(targetUrl), makeOps,
                                              DialogProgressSink(dialog), std::move(windows),
                                              std::move(asker), std::move(targetTitle)}),
                [](Block& b) {
                    std::unique_ptr<TransferOps> ops = MakeOps(b.makeOps, b.sink, true);
                    if (!ops) return;
                    WindowUploadObserver observer(b.windows);
                    const std::shared_ptr<AppState> state = b.windows.state;
                    RunUpload(
                        b.sources, b.target, *ops, b.sink, observer,
                        [state] { return state->listing.Location().url; }, state->folders, b.asker,
                        b.targetTitle);
                });
}

}  // namespace tallowdesk::shell
