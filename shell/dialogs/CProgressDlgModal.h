#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "TransferProgressDlg.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk {
class TransferOps;
}

namespace tallowdesk::shell {

// The transfer window run modally around a download (rows dragged out of the
// list): it starts the download itself when shown; Cancel ends its modal
// loop. UI thread.
class CProgressDlgModal : public TransferProgressDlg {
    Q_OBJECT
public:
    CProgressDlgModal(std::vector<FolderItem> items, std::filesystem::path destFolder,
                      std::function<std::unique_ptr<TransferOps>()> makeOps, QWidget* parent);

protected:
    QString FinishCaption() const override { return tr("Finished"); }
    void showEvent(QShowEvent* event) override;

private:
    std::vector<FolderItem> m_items;
    std::filesystem::path m_dest;
    std::function<std::unique_ptr<TransferOps>()> m_makeOps;
    bool m_started = false;
};

}  // namespace tallowdesk::shell
