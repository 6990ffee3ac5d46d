#include "CProgressDlgModeless.h"

namespace tallowdesk::shell {

CProgressDlgModeless::CProgressDlgModeless(QWidget* parent) : TransferProgressDlg(parent) {
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
}

}  // namespace tallowdesk::shell
