#include <gtest/gtest.h>

#include "TerminalText.h"

namespace tallowdesk::cli {
namespace {

// Guards against titles that drive the terminal: recolour it, set its title,
// or return to the line start and overwrite "evil.txt" with another name.
TEST(VisibleText, ControlCharactersAreShownNotObeyed) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"report.txt", "report.txt"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\\b", "a\\b"},
        {"evil.txt\r\x1b[2Kinnocent.txt", "evil.txt\\r\\u001b[2Kinnocent.txt"},
        {"\x1b]0;owned\x07", "\\u001b]0;owned\\u0007"},
        {"line\nbreak\ttab", "line\\nbreak\\ttab"},
        {std::string("nul\0byte", 8), "nul\\u0000byte"},
        {"del\x7f", "del\\u007f"},
        {"c1 \xC2\x9B"
         "31m",
         "c1 \\u009b31m"},  // CSI as a character
        {"raw \x9B"
         "31m",
         "raw \\x9b31m"},  // CSI as a lone byte
        {"txt.\xE2\x80\xAE"
         "exe",
         "txt.\\u202eexe"},                                      // right-to-left override
        {"iso\xE2\x81\xA6x\xE2\x81\xA9", "iso\\u2066x\\u2069"},  // isolates
        {"cut \xE2\x82", "cut \\xe2\\x82"},                      // truncated sequence
        {"long \xC0\xAF", "long \\xc0\\xaf"},                    // overlong "/"
        {"sur \xED\xA0\x80", "sur \\xed\\xa0\\x80"},             // surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.out) << c.out;
}

}  // namespace
}  // namespace tallowdesk::cli
