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
// Synchronous: with transfers 1 it runs entirely on the caller's thread (the
// shell's transfer thread, or the command-line client's main thread). With
// more and no asker, up to that many files download at once on threads of
// their own (ops.DownloadEntry is then called from them concurrently); the
// sink still gets its calls one at a time and in the order of one file after
// another (see TransferRunner), and the loop returns once all have ended.
void RunDownload(const std::vector<FolderItem>& items, const std::filesystem::path& destFolder,
                 TransferOps& ops, TransferProgressSink& sink, ClashAsker asker = {},
                 unsigned transfers = 1);

}  // namespace tallowdesk
