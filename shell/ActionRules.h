#pragma once

#include <QCoreApplication>
#include <QString>
#include <cstddef>
#include <string>

namespace tallowdesk::shell {

// What the availability of the frame's commands depends on.
struct FrameState {
    bool processing = false;  // a listing or search runs
    bool transferBusy = false;
    std::size_t historySize = 0;
    std::string currentUrl;
    int selectedRows = 0;
    bool treeActive = false;  // the folder tree has the focus
    bool iconStyle = false;   // the list shows large or small icons
};

struct ActionAvailability {
    bool goBack = false;
    bool refresh = false;
    bool search = false;
    bool upload = false;
    bool moveToTrash = false;
    bool star = false;
    // Open, Rename, Share, Download, Create Folder: off while the tree is active.
    bool listCommands = true;
    bool open = false;          // a row is selected
    bool rename = false;        // a row is selected
    bool share = false;         // a row is selected
    bool download = false;      // a row is selected and no transfer runs
    bool createFolder = false;  // no listing runs
    bool arrange = false;
    // The Trash's own: Restore and Delete Forever on selected rows, Empty
    // Trash whenever the Trash is shown and no listing runs.
    bool restore = false;
    bool deleteForever = false;
    bool emptyTrash = false;
};

ActionAvailability ComputeAvailability(const FrameState& state);

// The star item reads "Add star" until the Starred category has been shown,
// then "UnStar" there and "Star" elsewhere.
class StarLabel {
public:
    // Call whenever the location changes; returns the item's text.
    QString Update(const std::string& currentUrl);
    QString Text() const { return m_text; }
    bool Unstar() const { return m_unstar; }

private:
    QString m_text = QCoreApplication::translate("StarLabel", "Add star");
    bool m_unstar = false;
};

}  // namespace tallowdesk::shell
