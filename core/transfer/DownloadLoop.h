#pragma once

#include <filesystem>
#include <vector>

#include "NameClash.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk {

class TransferOps;
class TransferProgressSink;

// Downloads the items, in order, into destFolder: files by their title (plus
// the extension of their kind), folders as local folders filled page by page
// from their contents feed. Stops before the next item once transferCancel is
// raised. Each failure becomes one detail line and the loop goes on; nothing
// escapes. Calls sink.Finished() last, then clears transferBusy (set at the
// start).
//
// A name already taken on disk goes to asker (replace through a temporary
// file, keep both under a numbered name, skip; for a folder, replace fills
// the one there). Without an asker files are replaced the same safe way and
// an existing folder is reported ("Folder already exists.") and skipped.
//
// Synchronous: runs entirely on the caller's thread (the shell's transfer
// thread, or the command-line client's main thread).
void RunDownload(const std::vector<FolderItem>& items, const std::filesystem::path& destFolder,
                 TransferOps& ops, TransferProgressSink& sink, ClashAsker asker = {});

}  // namespace tallowdesk
