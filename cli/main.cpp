#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "Cli.h"

namespace {

// Reads one line; without echo when asked for a secret on a terminal.
std::optional<std::string> Ask(const std::string& prompt, bool secret) {
    const bool tty = ::isatty(STDIN_FILENO);
    if (tty) std::cerr << prompt << std::flush;
    termios saved{};
    const bool hide = tty && secret && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool ok = static_cast<bool>(std::getline(std::cin, line));
    if (hide) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!ok) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    tallowdesk::cli::CliIo io{std::cout, std::cerr, Ask, ::isatty(STDERR_FILENO) != 0};
    return tallowdesk::cli::RunCli({argv + 1, argv + argc}, io);
}
