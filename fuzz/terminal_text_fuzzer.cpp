// Whatever a title holds, what reaches the terminal holds no control
// character and is well-formed UTF-8.
#include <cstdlib>

#include "FuzzInput.h"
#include "TerminalText.h"

namespace {

bool WellFormedWithoutControls(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x20 || lead == 0x7F) return false;
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                             : (lead & 0xF8) == 0xF0 ? 4
                                                     : 0;
        if (length == 0 || at + length > text.size()) return false;
        for (std::size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
        // C1 controls are U+0080..U+009F: C2 80..C2 9F.
        if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) return false;
        at += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WellFormedWithoutControls(
            tallowdesk::cli::VisibleText(tallowdesk::fuzz::AsText(data, size))))
        std::abort();
    return 0;
}
