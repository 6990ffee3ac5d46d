// The account service's answers: ClientLogin replies (status from the first
// byte), CAPTCHA challenges, cookie lines, and the storage page's sentence.
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "service/Sharing.h"
#include "service/SignIn.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowdesk;
    const std::string_view text = fuzz::AsText(data, size);
    if (!text.empty()) {
        const long status = static_cast<unsigned char>(text[0]) % 2 ? 200 : 403;
        try {
            (void)InterpretClientLoginResponse(status, std::string(text.substr(1)));
        } catch (const std::runtime_error&) {
            // every failure is a message for the user
        }
    }
    (void)ParseCaptchaChallenge(text);
    (void)ExtractQuotaText(text, "accounts.example");
    std::vector<std::string> lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    (void)FindCookieValue(lines, "GALX");
    return 0;
}
