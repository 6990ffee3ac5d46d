// The service's small text parsers: form and query text, percent-decoding,
// and a multipart body streamed into an upload file in pieces (boundary from
// the first line, piece sizes from the second byte).
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "FuzzInput.h"
#include "HttpMessage.h"
#include "UploadSink.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tallowdesk-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowdesk::server;
    const std::string_view text = tallowdesk::fuzz::AsText(data, size);
    (void)ParseForm(text);
    (void)UrlDecode(text, true);
    (void)XmlEscape(text);

    const std::size_t line = text.find('\n');
    if (line == std::string_view::npos || line > 70) return 0;
    const std::string boundary(text.substr(0, line));
    std::string_view body = text.substr(line + 1);
    const std::size_t piece = body.empty() ? 1 : 1 + static_cast<unsigned char>(body[0]) % 64;
    try {
        UploadSink sink(Folder(), boundary, 1 << 20);
        bool ok = true;
        while (ok && !body.empty()) {
            ok = sink.Put(body.substr(0, piece));
            body.remove_prefix(std::min(piece, body.size()));
        }
        if (ok) (void)sink.Finish();
        if (sink.Size() > (1u << 20)) std::abort();  // past its limit
    } catch (const std::runtime_error&) {
        // the temporary file could not be made
    }
    return 0;
}
