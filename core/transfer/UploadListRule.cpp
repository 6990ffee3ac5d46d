#include "UploadListRule.h"

#include "model/FeedCatalogue.h"

namespace tallowdesk {

ListUpdate ListUpdateAfterUpload(std::string_view currentUrl, std::string_view targetUrl,
                                 bool sourceIsFolder, const std::optional<std::string>& replyKind) {
    if (!IsCategoryUrl(currentUrl))
        return currentUrl == targetUrl ? ListUpdate::AddItem : ListUpdate::None;

    const std::string list = DocumentListUrl();
    if (currentUrl == list || currentUrl == list + "?showfolders=true" ||
        currentUrl == list + "/-/mine")
        return sourceIsFolder ? ListUpdate::Refresh : ListUpdate::AddItem;

    for (const char* kind : {"document", "presentation", "spreadsheet", "drawing"}) {
        if (currentUrl == list + "/-/" + kind)
            return replyKind == kind ? ListUpdate::AddItem : ListUpdate::None;
    }
    return ListUpdate::None;
}

}  // namespace tallowdesk
