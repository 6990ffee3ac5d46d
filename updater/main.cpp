// tallowdesk-updater: started by Tallowdesk after a verified download.
#include <iostream>

#include "Updater.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = tallowdesk::updater::ParseUpdaterArgs(args);
    if (!parsed) {
        std::cerr << "Usage: tallowdesk-updater --wait-pid PID --target PROGRAM --new FILE "
                     "--version VERSION [--running-version VERSION]\n";
        return 2;
    }
#ifdef TALLOWDESK_UPDATER_TEST_KEY
    // The build the tests run trusts their throwaway key, compiled in like a
    // release key; no key is ever taken from the command line.
    parsed->publicKeyHex = TALLOWDESK_UPDATER_TEST_KEY;
#endif
    const std::string failure = tallowdesk::updater::RunUpdate(*parsed);
    if (!failure.empty()) {
        std::cerr << "tallowdesk-updater: " << failure << "\n";
        return 1;
    }
    return 0;
}
