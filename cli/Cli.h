#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tallowdesk::cli {

// What a command talks to: its streams, and how it asks for a secret (the
// password, a CAPTCHA answer) without echo. Tests pass string streams.
struct CliIo {
    std::ostream& out;
    std::ostream& err;
    // Returns nothing when no answer can be had (no terminal, end of input).
    std::function<std::optional<std::string>(const std::string& prompt, bool secret)> ask;
    // err is a terminal: the progress line is redrawn in place; otherwise
    // no progress is printed at all.
    bool errIsTerminal = false;
};

// Runs one command line (without the program name); returns the exit code.
int RunCli(const std::vector<std::string>& args, CliIo& io);

// The usage text.
std::string Usage();

}  // namespace tallowdesk::cli
