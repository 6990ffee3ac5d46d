#pragma once

#include <string>

#include "model/EntryList.h"

namespace tallowdesk {

// A remote folder made by an upload, for the folder tree.
struct NewTreeFolder {
    std::string parentUrl;  // contents feed of the parent tree node; empty: the tree's root
    std::string title;
    std::string contentsUrl;
    DocEntryPtr entry;  // the record just appended to the FolderList
};

// The window's side of an upload: the folder tree and the entry list learn
// about new entries through it. Implemented by the shell (a no-op in the
// command-line client); borrowed by RunUpload for one call.
//
// Thread: called on the upload loop's thread. An implementation that hands
// the call to another thread must copy what it keeps.
class UploadObserver {
public:
    virtual ~UploadObserver() = default;

    // A top-level uploaded folder, to be put under its parent node.
    virtual void AddFolderToTree(const NewTreeFolder& folder) = 0;
    // The list shows the new entry's location: append a row for it.
    virtual void AddUploadedItem(const DocEntryPtr& entry) = 0;
    // The list shows a location the upload changed as a whole: list it again.
    virtual void RefreshList() = 0;
};

}  // namespace tallowdesk
