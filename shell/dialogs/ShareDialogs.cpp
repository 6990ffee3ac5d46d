#include "ShareDialogs.h"

#include "../AppState.h"
#include "../CTallowdeskApp.h"
#include "CShareMultiDlg.h"
#include "CShareSingleDlg.h"
#include "Modality.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::shell {

ShareContext ApplicationShareContext() {
    ShareContext context;
    const CTallowdeskApp* app = CTallowdeskApp::Instance();
    context.service = ShareServiceFor(app ? app->State()->client : nullptr);
    context.groupsMailDomain = Hosts().groupsMailDomain;
    context.linkHosts = ReadShareLinkHosts(ConfigFile::DefaultPath());
    return context;
}

void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries) {
    ShowShareDialog(parent, entries, ApplicationShareContext());
}

void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries,
                     const ShareContext& context) {
    if (entries.empty()) return;
    if (entries.size() == 1) {
        CShareSingleDlg dialog(entries.front(), context, parent);
        ExecModalToItsWindow(dialog);
    } else {
        CShareMultiDlg dialog(entries, context, parent);
        ExecModalToItsWindow(dialog);
    }
}

}  // namespace tallowdesk::shell
