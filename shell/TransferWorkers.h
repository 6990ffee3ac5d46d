#pragma once

#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UiMessages.h"
#include "model/FeedCatalogue.h"
#include "transfer/ExportLoop.h"
#include "transfer/NameClash.h"
#include "transfer/UploadSource.h"

namespace tallowdesk {
class TransferOps;
}

namespace tallowdesk::shell {

class CExportProgressDlg;
class CLeftView;
class TransferProgressDlg;
struct AppState;

using TransferOpsFactory = std::function<std::unique_ptr<TransferOps>()>;

// The transfer threads: each runs one loop of core/transfer with its own
// service calls and reports to its progress window through a
// DialogProgressSink. Started on the UI thread; nothing waits for them.

// The download worker: items into destFolder.
// asker (may be empty) is called on the worker for each name already taken.
void StartDownloadWorker(std::vector<FolderItem> items, std::filesystem::path destFolder,
                         const TransferOpsFactory& makeOps, TransferProgressDlg* dialog,
                         ClashAsker asker = {});

// The export worker: one document into one format.
void StartExportWorker(ExportRequest request, const TransferOpsFactory& makeOps,
                       CExportProgressDlg* dialog);

// Where an upload tells the window about what it made.
struct UploadWindows {
    std::shared_ptr<AppState> state;  // the folder list, the location shown
    ListViewPort list;
    QPointer<CLeftView> tree;
};

// The counting worker and the upload worker, side by side. asker (may be
// empty) is called on the worker for each name already taken in a folder;
// targetTitle names the target in its questions.
void StartUploadWorkers(std::vector<UploadSource> sources, std::string targetUrl,
                        const TransferOpsFactory& makeOps, TransferProgressDlg* dialog,
                        UploadWindows windows, ClashAsker asker = {}, std::string targetTitle = {});

}  // namespace tallowdesk::shell
