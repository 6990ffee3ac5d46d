#include "EntryActionWorker.h"

#include <QCoreApplication>

#include "AppState.h"
#include "Worker.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

std::string StarredUrl() {
    for (const Category& c : CategoryTable())
        if (c.label == " Starred") return c.url;
    return {};
}

QString FailureLine(EntryAction action, const QString& title) {
    switch (action) {
        case EntryAction::Trash:
            return QCoreApplication::translate("EntryActionWorker",
                                               "\"%1\" was not moved to the trash.")
                .arg(title);
        case EntryAction::Star:
        case EntryAction::Unstar:
            return QCoreApplication::translate("EntryActionWorker",
                                               "The star of \"%1\" was not changed.")
                .arg(title);
        case EntryAction::Restore:
            return QCoreApplication::translate("EntryActionWorker", "\"%1\" was not restored.")
                .arg(title);
        case EntryAction::DeleteForever:
            return QCoreApplication::translate("EntryActionWorker",
                                               "\"%1\" was not deleted forever.")
                .arg(title);
    }
    return {};
}

}  // namespace

QString EntryActionFailure(EntryAction action, const QString& title, const std::string& reason) {
    QString line = FailureLine(action, title);
    if (!reason.empty()) line += QLatin1Char('\n') + QString::fromStdString(reason);
    return line;
}

void RunEntryAction(EntryActionBlock& b) {
    const ServiceCalls& calls = b.calls;
    QStringList failures;
    for (std::size_t i = 0; i < b.keys.size(); ++i) {
        const std::string& key = b.keys[i];
        try {
            switch (b.action) {
                case EntryAction::Trash:
                    calls.trashEntry(key);
                    break;
                case EntryAction::Star:
                    calls.setStarred(key, true);
                    break;
                case EntryAction::Unstar:
                    calls.setStarred(key, false);
                    break;
                case EntryAction::Restore:
                    calls.restoreEntry(key);
                    break;
                case EntryAction::DeleteForever:
                    calls.deleteForever(key);
                    break;
            }
        } catch (const std::exception& e) {
            // The row stays; the user is told which and why.
            const std::string title = i < b.titles.size() ? b.titles[i] : key;
            failures << EntryActionFailure(b.action, QString::fromStdString(title), e.what());
            continue;
        }
        switch (b.action) {
            case EntryAction::Trash:
                b.list.DeleteItemByResourceId(key);
                if (key.find("folder") != std::string::npos) b.tree.DeleteItemByResourceId(key);
                break;
            case EntryAction::DeleteForever:
                b.list.DeleteItemByResourceId(key);
                break;
            case EntryAction::Restore:
                b.list.DeleteItemByEditLink(key);
                if (i < b.folderNodes.size() && b.folderNodes[i])
                    b.tree.FolderRestored(b.folderNodes[i]->parentUrl, b.titles[i],
                                          b.folderNodes[i]->url);
                break;
            case EntryAction::Unstar:
                if (b.state->listing.Location().url == StarredUrl())
                    b.list.DeleteItemByEditLink(key);
                break;
            case EntryAction::Star:
                break;
        }
    }
    b.list.ExitActionThread(b.processingWindow);
    if (b.listAgain) b.list.RefreshListView();
    if (!failures.isEmpty())
        b.list.CommandFailed(failures.join(QStringLiteral("\n\n")).toStdString());
}

void StartEntryActionWorker(std::unique_ptr<EntryActionBlock> block) {
    StartWorker(std::move(block), [](EntryActionBlock& b) { RunEntryAction(b); });
}

}  // namespace tallowdesk::shell
