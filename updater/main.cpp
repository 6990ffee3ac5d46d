// tallowdesk-updater: started by Tallowdesk after a verified download.
#include <iostream>

#include "Updater.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = tallowdesk::updater::ParseUpdaterArgs(args);
    if (!parsed) {
        std::cerr << "Usage: tallowdesk-updater --wait-pid PID --target PROGRAM --new FILE\n";
        return 2;
    }
    const std::string failure = tallowdesk::updater::RunUpdate(*parsed);
    if (!failure.empty()) {
        std::cerr << "tallowdesk-updater: " << failure << "\n";
        return 1;
    }
    return 0;
}
