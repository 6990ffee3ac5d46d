// The browser-upload answers: the session URL (headers, then body after a
// NUL) and the new entry's id.
#include <cstdlib>

#include "FuzzInput.h"
#include "service/Upload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowdesk;
    const auto [headers, body] = fuzz::SplitAtNul(fuzz::AsText(data, size));
    if (const auto url = ExtractSessionUrl(headers, body)) {
        // The clean-up leaves no file parameters and no escaped "&" behind.
        if (url->find("&file_id") != std::string::npos ||
            url->find("?file_id") != std::string::npos || url->find('"') != std::string::npos)
            std::abort();
    }
    (void)ExtractUploadedEntryId(fuzz::AsText(data, size));
    return 0;
}
