// Text read from Config.xml: Windows-1252 or UTF-8 text and the password's
// hexadecimal cipher text.
#include <stdexcept>

#include "FuzzInput.h"
#include "settings/CPasswordEncryption.h"
#include "settings/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowdesk;
    const std::string_view text = fuzz::AsText(data, size);
    (void)ConfigTextToUtf8(text);
    try {
        (void)CPasswordEncryption().Decrypt(text);
    } catch (const std::runtime_error&) {
        // "Password Decryption failed."
    }
    return 0;
}
