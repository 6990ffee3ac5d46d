#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallowdesk {

// What the entry list does after one source was uploaded.
enum class ListUpdate { None, AddItem, Refresh };

// Decides by the location the list shows now (currentUrl), the upload target,
// whether the source was a folder and the kind of the entry the service
// returned (nullopt when the reply held none):
// - a folder location (not a category): add the entry when the target is
//   the location itself;
// - the root, all-items or owned-by-me feed: refresh for a folder, add a file;
// - the Documents, Presentations, Spreadsheets or Drawings category: add the
//   entry when its kind is that category's kind;
// - any other category: nothing.
// Feed URLs are compared in full, on the configured document host.
ListUpdate ListUpdateAfterUpload(std::string_view currentUrl, std::string_view targetUrl,
                                 bool sourceIsFolder, const std::optional<std::string>& replyKind);

}  // namespace tallowdesk
