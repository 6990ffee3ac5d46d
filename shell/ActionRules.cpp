#include "ActionRules.h"

#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

std::string CategoryUrl(const char* label) {
    for (const Category& c : CategoryTable())
        if (c.label == label) return c.url;
    return {};
}

}  // namespace

ActionAvailability ComputeAvailability(const FrameState& s) {
    ActionAvailability a;
    a.goBack = s.historySize > 1;
    a.refresh = !s.processing;
    a.search = !s.processing;
    a.upload = !s.processing && !s.transferBusy;
    a.moveToTrash = s.currentUrl != CategoryUrl(" Trash") && s.selectedRows > 0;
    a.star = s.selectedRows > 0;
    a.listCommands = !s.treeActive;
    a.open = a.rename = a.share = a.listCommands && s.selectedRows > 0;
    a.download = a.listCommands && s.selectedRows > 0 && !s.transferBusy;
    a.createFolder = a.listCommands && !s.processing;
    a.arrange = s.iconStyle;
    if (s.treeActive) a.moveToTrash = false;
    const bool inTrash = s.currentUrl == CategoryUrl(" Trash");
    a.restore = a.deleteForever = inTrash && a.listCommands && s.selectedRows > 0;
    a.emptyTrash = inTrash && a.listCommands && !s.processing;
    return a;
}

QString StarLabel::Update(const std::string& currentUrl) {
    const bool starred = currentUrl == CategoryUrl(" Starred");
    if (starred) {
        m_text = QCoreApplication::translate("StarLabel", "UnStar");
        m_unstar = true;
    } else if (m_unstar) {
        m_text = QCoreApplication::translate("StarLabel", "Star");
        m_unstar = false;
    }
    return m_text;
}

}  // namespace tallowdesk::shell
