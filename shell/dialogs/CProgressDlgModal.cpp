#include "CProgressDlgModal.h"

#include "TransferWorkers.h"

namespace tallowdesk::shell {

CProgressDlgModal::CProgressDlgModal(std::vector<FolderItem> items,
                                     std::filesystem::path destFolder,
                                     std::function<std::unique_ptr<TransferOps>()> makeOps,
                                     QWidget* parent)
    : TransferProgressDlg(parent),
      m_items(std::move(items)),
      m_dest(std::move(destFolder)),
      m_makeOps(std::move(makeOps)) {
    setModal(true);
}

void CProgressDlgModal::showEvent(QShowEvent* event) {
    TransferProgressDlg::showEvent(event);
    if (m_started) return;
    m_started = true;
    StartDownloadWorker(m_items, m_dest, m_makeOps, this);
}

}  // namespace tallowdesk::shell
