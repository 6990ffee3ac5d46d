#pragma once

#include "TransferProgressDlg.h"

namespace tallowdesk::shell {

// The transfer window of Download, Upload, Paste and drops: shown beside the
// main window, which stays usable; deletes itself when closed. UI thread.
class CProgressDlgModeless : public TransferProgressDlg {
    Q_OBJECT
public:
    explicit CProgressDlgModeless(QWidget* parent);

protected:
    QString FinishCaption() const override { return tr("Warning"); }
};

}  // namespace tallowdesk::shell
