#pragma once

#include <memory>
#include <vector>

#include "ShareLinks.h"
#include "ShareWorkers.h"
#include "model/DocEntry.h"

class QWidget;

namespace tallowdesk::shell {

// What the sharing dialogs need from the application.
struct ShareContext {
    ShareService service;
    std::string groupsMailDomain;
    ShareLinkHosts linkHosts;
};

// The signed-in client of the application object, the configured group
// mail domain and the share-link hosts of Config.xml.
ShareContext ApplicationShareContext();

// The Share command: "Sharing settings" for one entry, or the multi-entry
// dialog for several. Modal; returns when the dialog is closed. UI thread.
void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries);
void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries,
                     const ShareContext& context);

}  // namespace tallowdesk::shell
