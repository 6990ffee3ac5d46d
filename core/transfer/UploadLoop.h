#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "NameClash.h"
#include "UploadSource.h"
#include "model/EntryList.h"

namespace tallowdesk {

class TransferOps;
class TransferProgressSink;
class UploadObserver;

// Counts the files an upload of sources will transfer and shows the running
// total (sink.SetTotal) after each source. A source that is a directory adds
// every regular file below it (symbolic links to regular files included);
// directories are descended into, except through symbolic links; other
// entries (links to directories, sockets, pipes, devices) are not uploaded and
// not counted; unreadable directories add nothing. Any other source adds 1.
// Linux has no "temporary" file attribute, so no file is left out for it.
//
// Synchronous; meant to run on its own thread beside RunUpload with the same
// sink. Touches neither flag.
std::uint64_t CountUploadFiles(const std::vector<UploadSource>& sources,
                               TransferProgressSink& sink);

// Reads the feed URL of the location the list shows at this moment.
using CurrentLocationUrl = std::function<std::string()>;

// Uploads the sources, in order, into the folder whose contents feed is
// targetUrl: files one by one, folders as remote folders made level by level
// (title: the local name, at most 128 bytes). Stops before the next source or
// folder member once transferCancel is raised. Each failure becomes one detail
// line; the loop goes on and nothing escapes.
//
// After each top-level folder: its record is appended to folders and the
// observer puts it in the tree. After each successful source: the list is
// told as ListUpdateAfterUpload decides for the location read then through
// currentLocationUrl. Calls sink.Finished() last, then clears transferBusy
// (set at the start).
//
// A name already taken in a remote folder goes to asker, which is given the
// remote path below targetTitle: Replace puts the file's bytes into the
// entry that is there (same id, folders and sharing), or for a folder fills
// the one that is there, whose files meet their own questions; Keep Both
// takes the first free "name (2)"; Skip leaves the source out without a
// line. Only a file meets a file and a folder a folder: the service keeps
// them apart. Without an asker nothing is looked up and every source makes
// a new entry beside any of the same name, as before.
//
// Synchronous: with transfers 1 it runs on the caller's thread; observer,
// currentLocationUrl and asker are called on it. With more (and no asker, which
// makes it one at a time), up to that many files upload at once on threads of
// their own (ops.UploadFile is then called from them concurrently, and so are
// observer and currentLocationUrl after a top-level file, one call at a time);
// the sink gets its calls in the order of one file after another (see
// TransferRunner). Folders are made on the caller's thread, each before its
// members. Returns once every transfer has ended.
void RunUpload(const std::vector<UploadSource>& sources, const std::string& targetUrl,
               TransferOps& ops, TransferProgressSink& sink, UploadObserver& observer,
               const CurrentLocationUrl& currentLocationUrl, FolderList& folders,
               ClashAsker asker = {}, const std::string& targetTitle = {}, unsigned transfers = 1);

}  // namespace tallowdesk
