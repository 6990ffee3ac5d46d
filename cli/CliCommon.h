#pragma once

#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Cli.h"

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::cli {

// A command's own mistake in how it was called: usage text, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Signing in failed (no remembered account, refused, unreachable): exit code 3.
struct SignInFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // "--to DIR" and bare flags ("")

    bool Has(const std::string& flag) const;
    std::string Value(const std::string& option, const std::string& fallback) const;
};

// Checks the positional count (within [min, max]) and that every option is known.
void Expect(const Args& a, std::size_t min, std::size_t max,
            std::initializer_list<const char*> allowedOptions);

// Signs in with the account remembered in Config.xml (the document list
// service), and with the web form as well when the command needs the session
// cookies.
std::unique_ptr<ServiceClient> SignInRemembered(CliIo& io, bool withCookies = false);

// Signs the client in to the spreadsheet service too (its token is what a
// spreadsheet's download asks for); throws SignInFailed.
void SignInSpreadsheets(ServiceClient& client, CliIo& io);

// Transfers and sharing (CliTransfers.cpp); each returns the exit code.
int GetCommand(const Args& a, CliIo& io);
int ExportCommand(const Args& a, CliIo& io);
int PutCommand(const Args& a, CliIo& io);
int AclCommand(const Args& a, CliIo& io);
int ShareCommand(const Args& a, CliIo& io);
int UnshareCommand(const Args& a, CliIo& io);
int QuotaCommand(const Args& a, CliIo& io);

}  // namespace tallowdesk::cli
