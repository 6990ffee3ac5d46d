#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <vector>

#include "transfer/UploadSource.h"

class QMimeData;

namespace tallowdesk::shell {

// What a drag over the entry list brings and what the window is doing.
struct DropOffer {
    bool listBusy = false;      // the list's processing window is up
    bool transferBusy = false;  // a download or upload runs
    bool fromList = false;      // rows of this list ("the listview clipboard format ")
    bool fromTree = false;      // "the treeview clipboard format "
    QList<QUrl> urls;
    // The place the drop would go into holds files (a folder, not a
    // category such as Trash or Starred).
    bool placeTakesFiles = true;
};

// Whether the list takes a drop: only local files and folders from outside,
// only into a place that holds files, and only while the list and the
// transfers are idle. A web address among
// the URLs refuses the whole drop, so nothing is fetched from the network.
bool AcceptsDrop(const DropOffer& offer);

// Reads a drag's data without asking for the URLs of the list's own rows
// (asking would download them).
DropOffer DropOfferFrom(const QMimeData* data, bool listBusy, bool transferBusy);

// The local paths a clipboard or drag carries: GNOME's
// x-special/gnome-copied-files ("copy" or "cut", then one URL a line) and the
// plain text/uri-list. Non-file URLs and comment lines are left out.
QStringList LocalFilesOf(const QMimeData* data);
QStringList LocalFilesOfUriList(const QByteArray& text);
QStringList LocalFilesOfGnomeCopied(const QByteArray& text);

// One upload source a path, in order, with its directory flag; a path that
// no longer exists is skipped.
std::vector<UploadSource> UploadSourcesOf(const QStringList& paths);

// What a drop or the clipboard brings for an upload: the sources, in order,
// and one line for every entry that cannot be used (not a local file, or no
// longer there), for the transfer's details: nothing is left out silently.
struct CollectedFiles {
    std::vector<UploadSource> sources;
    QStringList unusable;
};
CollectedFiles CollectDroppedFiles(const QMimeData* data);

// The status line of a drop refused where the place titled place holds no
// files (a category), for the list and the tree alike.
QString RefusedDropText(const QString& place);

inline constexpr const char* kGnomeCopiedFilesType = "x-special/gnome-copied-files";
inline constexpr const char* kUriListType = "text/uri-list";

}  // namespace tallowdesk::shell
