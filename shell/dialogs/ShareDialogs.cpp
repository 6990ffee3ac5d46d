#include "ShareDialogs.h"

#include <QMainWindow>
#include <QStatusBar>

namespace tallowdesk::shell {

// Stand-in until the sharing dialogs are built: the user learns why nothing
// opens.
void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries) {
    if (entries.empty() || !parent) return;
    if (auto* main = qobject_cast<QMainWindow*>(parent->window()))
        main->statusBar()->showMessage(QStringLiteral("Sharing is not available yet."), 5000);
}

}  // namespace tallowdesk::shell
