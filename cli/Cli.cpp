#include "Cli.h"

#include <tinyxml2.h>

#include <filesystem>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "CliCommon.h"
#include "EntryResolver.h"
#include "RememberedPassword.h"
#include "TerminalText.h"
#include "model/FeedCatalogue.h"
#include "model/ListingWorker.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::cli {

namespace {

// Options that take a value; everything else starting with "--" is a flag.
bool TakesValue(const std::string& option) {
    return option == "--to" || option == "--role" || option == "--transfers";
}

Args SplitArgs(const std::vector<std::string>& args, std::size_t from) {
    Args a;
    bool onlyPositional = false;
    for (std::size_t i = from; i < args.size(); ++i) {
        if (!onlyPositional && args[i] == "--") {
            onlyPositional = true;
        } else if (!onlyPositional && args[i].rfind("--", 0) == 0) {
            if (TakesValue(args[i])) {
                if (i + 1 == args.size()) throw UsageError(args[i] + " needs a value");
                a.options.emplace_back(args[i], args[i + 1]);
                ++i;
            } else {
                a.options.emplace_back(args[i], "");
            }
        } else {
            a.positional.push_back(args[i]);
        }
    }
    return a;
}

// ClientLogin for one service, with the CAPTCHA round trip when asked.
void SignInService(ServiceClient& client, const char* service, CliIo& io) {
    try {
        ClientLogin(client, service);
    } catch (const CaptchaRequiredException& challenge) {
        const CaptchaChallenge parsed =
            ParseCaptchaChallenge(challenge.what()).value_or(CaptchaChallenge{});
        const std::string& token = parsed.token;
        const std::string url =
            "http://" + Hosts().accountsHost + "/accounts/" + parsed.picturePath;
        const std::string picture = FetchCaptchaImage(url);
        io.err << "The service asks for a CAPTCHA. The picture is in " << picture << "\n";
        const auto answer = io.ask("Type the characters in the picture: ", false);
        RemoveCaptchaImage(picture);
        if (!answer || answer->empty())
            throw std::runtime_error("A CAPTCHA answer is needed to sign in.");
        ClientLogin(client, service, token, *answer);
    }
}

// Each ClientLogin costs the service a full password check, the largest part
// of a short command's time; the spreadsheet service's token serves only
// spreadsheet downloads, so commands sign in there when they meet one
// (SignInSpreadsheets), and login alone checks both.
std::unique_ptr<ServiceClient> SignIn(const std::string& email, const std::string& password,
                                      CliIo& io, bool spreadsheets) {
    auto client = std::make_unique<ServiceClient>(email, password);
    try {
        SignInService(*client, "writely", io);
        if (spreadsheets) SignInService(*client, "wise", io);
    } catch (const std::runtime_error& e) {
        throw SignInFailed(e.what());
    }
    return client;
}

// The usage lines of one command, from the usage text.
std::string CommandHelp(const std::string& command) {
    std::istringstream lines(Usage());
    std::string line, help;
    bool inEntry = false;
    while (std::getline(lines, line)) {
        const auto start = line.find_first_not_of(' ');
        if (start == 2) {
            const std::string entry = line.substr(2);
            inEntry = entry.rfind(command + " ", 0) == 0 || entry == command ||
                      entry.find("| " + command + " ") != std::string::npos;
            if (inEntry) help += "Usage: tallowdesk-cli " + entry + "\n";
        } else if (inEntry && start != std::string::npos && start > 2) {
            help += line + "\n";
        } else {
            inEntry = false;
        }
    }
    return help;
}

// Service text in a table cell: control characters shown, not obeyed.
std::string Cell(const std::optional<std::string>& s) {
    return VisibleText(s.value_or(""));
}
std::string Cell(const std::string& s) {
    return VisibleText(s);
}

void PrintTable(std::ostream& out, const std::vector<DocEntryPtr>& entries) {
    out << std::left << std::setw(40) << "Name"
        << "  " << std::setw(14) << "Type"
        << "  " << std::right << std::setw(22) << "Size"
        << "  " << std::left << std::setw(20) << "Author"
        << "  "
        << "Last Modified"
        << "\n";
    for (const DocEntryPtr& e : entries) {
        out << std::left << std::setw(40) << Cell(e->title) << "  " << std::setw(14)
            << Cell(e->kind) << "  " << std::right << std::setw(22) << Cell(e->sizeText) << "  "
            << std::left << std::setw(20) << Cell(e->authorName) << "  " << Cell(e->updated)
            << "\n";
    }
}

nlohmann::json ToJson(const DocEntry& e) {
    nlohmann::json j;
    const auto put = [&j](const char* name, const std::optional<std::string>& v) {
        j[name] = v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    put("etag", e.etag);
    put("id", e.id);
    put("published", e.published);
    put("updated", e.updated);
    put("edited", e.edited);
    j["starred"] = e.starred;
    j["hidden"] = e.hidden;
    j["viewed"] = e.viewed;
    put("title", e.title);
    put("contentType", e.contentType);
    put("contentSrc", e.contentSrc);
    put("parentHref", e.parentHref);
    put("parentTitle", e.parentTitle);
    put("alternateHref", e.alternateHref);
    put("selfHref", e.selfHref);
    put("editHref", e.editHref);
    put("editMediaType", e.editMediaType);
    put("editMediaHref", e.editMediaHref);
    put("authorName", e.authorName);
    put("authorEmail", e.authorEmail);
    put("resourceId", e.resourceId);
    j["kind"] = e.kind;
    j["shortId"] = e.shortId;
    put("modifierName", e.modifierName);
    put("modifierEmail", e.modifierEmail);
    put("quotaBytesUsed", e.quotaBytesUsed);
    j["sizeText"] = e.sizeText;
    j["writersCanInvite"] = e.writersCanInvite;
    put("aclFeedHref", e.aclFeedHref);
    put("revisionsFeedHref", e.revisionsFeedHref);
    return j;
}

void PrintEntries(CliIo& io, const std::vector<DocEntryPtr>& entries, bool json) {
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const DocEntryPtr& e : entries) list.push_back(ToJson(*e));
        // Titles are user data: invalid UTF-8 is replaced rather than refused.
        io.out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        PrintTable(io.out, entries);
    }
}

// The listing runs on this thread; nothing needs to be told about pages.
struct QuietSink : ListingSink {
    void ResetList() override {}
    void EntriesAdded(std::uint64_t, std::size_t) override {}
    void ListingFinished(const CurrentLocation&) override {}
};

// The listing loop ends quietly on a failure; the CLI wants to say so, so
// the fetcher remembers the error.
int List(ServiceClient& client, const CurrentLocation& location, CliIo& io, bool json) {
    ListingControl control;
    EntryList entries;
    QuietSink sink;
    std::optional<std::string> failure;
    const FeedFetcher fetch = [&](const std::string& url, tinyxml2::XMLDocument& doc) {
        try {
            GetFeed(client, url, doc);
        } catch (const std::exception& e) {
            failure = e.what();
            throw;
        }
    };
    control.Request(location);
    RunListing(control, entries, fetch, sink);
    PrintEntries(io, entries.Snapshot(), json);
    if (failure) {
        io.err << "Error: " << VisibleText(*failure) << "\n";
        return 1;
    }
    return 0;
}

int Login(const Args& a, CliIo& io) {
    Expect(a, 1, 1, {"--remember"});
    const std::string& email = a.positional[0];
    const auto password = io.ask("Password for " + email + ": ", true);
    if (!password) throw std::runtime_error("No password was given.");
    SignIn(email, *password, io, true);
    ConfigFile config;
    const PasswordKeyring keyring;
    if (a.Has("--remember")) {
        // In Config.xml or in the keyring, as the window's option says.
        const PasswordMove saved = RememberUser(config, keyring, email, *password);
        if (!saved.ok) throw std::runtime_error(saved.message);
        io.out << "Signed in as " << email << "; the account is remembered.\n";
    } else {
        ForgetUser(config, keyring);
        io.out << "Signed in as " << email << ".\n";
    }
    return 0;
}

int Dispatch(const std::string& command, const Args& a, CliIo& io) {
    if (command == "login") return Login(a, io);
    if (command == "logout") {
        Expect(a, 0, 0, {});
        ConfigFile config;
        ForgetUser(config, PasswordKeyring());
        io.out << "The remembered account is forgotten.\n";
        return 0;
    }
    if (command == "ls") {
        Expect(a, 0, 1, {"--json"});
        auto client = SignInRemembered(io);
        EntryResolver resolver(*client);
        const CurrentLocation loc = resolver.Location(a.positional.empty() ? "/" : a.positional[0]);
        return List(*client, loc, io, a.Has("--json"));
    }
    if (command == "search") {
        if (a.positional.empty()) throw UsageError("nothing to search for");
        Expect(a, a.positional.size(), a.positional.size(), {"--json"});
        std::string words;
        for (const auto& w : a.positional) words += (words.empty() ? "" : " ") + w;
        auto client = SignInRemembered(io);
        // A search lists its one page.
        return List(*client, {SearchUrl(words), words, true, false}, io, a.Has("--json"));
    }
    if (command == "mkdir") {
        Expect(a, 1, 1, {});
        auto client = SignInRemembered(io);
        EntryResolver resolver(*client);
        const auto parts = SplitPath(a.positional[0]);
        if (parts.empty()) throw UsageError("name the new folder");
        const std::string parent = resolver.ParentContentsUrl(a.positional[0]);
        tinyxml2::XMLDocument doc;
        CreateFolder(*client, parts.back(),
                     parent.empty() ? std::nullopt : std::optional<std::string_view>(parent), doc);
        const auto kind = FirstEntryKind(doc);
        io.out << "Created folder " << VisibleText(parts.back())
               << (kind ? "" : " (no entry came back)") << "\n";
        return 0;
    }
    if (command == "rename" || command == "star" || command == "unstar") {
        const std::size_t count = command == "rename" ? 2 : 1;
        Expect(a, count, count, {});
        auto client = SignInRemembered(io);
        const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
        if (!e->editHref) throw std::runtime_error("The entry cannot be changed.");
        if (command == "rename")
            RenameEntry(*e->editHref, a.positional[1], *client);
        else
            SetStarred(*client, *e->editHref, command == "star");
        return 0;
    }
    if (command == "trash") {
        Expect(a, 1, 1, {"--permanently"});
        auto client = SignInRemembered(io);
        const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
        TrashEntry(*client, e->resourceId.value_or(""), a.Has("--permanently"));
        return 0;
    }
    if (command == "get") return GetCommand(a, io);
    if (command == "export") return ExportCommand(a, io);
    if (command == "put") return PutCommand(a, io);
    if (command == "acl") return AclCommand(a, io);
    if (command == "share") return ShareCommand(a, io);
    if (command == "unshare") return UnshareCommand(a, io);
    if (command == "quota") return QuotaCommand(a, io);
    throw UsageError("unknown command " + command);
}

}  // namespace

bool Args::Has(const std::string& flag) const {
    for (const auto& [name, value] : options)
        if (name == flag) return true;
    return false;
}

std::string Args::Value(const std::string& option, const std::string& fallback) const {
    for (const auto& [name, value] : options)
        if (name == option) return value;
    return fallback;
}

void Expect(const Args& a, std::size_t min, std::size_t max,
            std::initializer_list<const char*> allowedOptions) {
    if (a.positional.size() < min || a.positional.size() > max)
        throw UsageError("wrong number of arguments");
    for (const auto& [name, value] : a.options) {
        bool ok = false;
        for (const char* allowed : allowedOptions) ok = ok || name == allowed;
        if (!ok) throw UsageError("unknown option " + name);
    }
}

std::unique_ptr<ServiceClient> SignInRemembered(CliIo& io, bool withCookies) {
    ConfigFile config;
    const RememberedUser user = ReadRememberedUser(config, PasswordKeyring());
    if (!user.message.empty()) throw SignInFailed(user.message);
    if (!user.email || !user.password)
        throw SignInFailed(
            "No account is remembered. Sign in once with: tallowdesk-cli login EMAIL --remember");
    auto client = SignIn(*user.email, *user.password, io, false);
    if (withCookies) CookieSignIn(*client);
    return client;
}

void SignInSpreadsheets(ServiceClient& client, CliIo& io) {
    try {
        SignInService(client, "wise", io);
    } catch (const std::runtime_error& e) {
        throw SignInFailed(e.what());
    }
}

std::string Usage() {
    return "Usage: tallowdesk-cli COMMAND [ARGS]\n"
           "  login EMAIL [--remember]   sign in (password from the terminal or stdin);\n"
           "                             --remember stores the account, otherwise it is forgotten\n"
           "  logout                     forget the remembered account\n"
           "  ls [LOCATION] [--json]     list a category (\"Starred\"), / (the root) or a folder\n"
           "  search WORDS... [--json]   search the documents\n"
           "  mkdir PATH                 create a folder (\"Projects/New\")\n"
           "  rename PATH NEWTITLE       rename an entry\n"
           "  star PATH | unstar PATH    set or clear the star\n"
           "  trash PATH [--permanently] move to the trash, or delete for good\n"
           "  get PATH... [--to DIR]     download files and whole folders (default: .)\n"
           "                             [--transfers N] [--quiet] [--json], as for put\n"
           "  export PATH FORMAT [--to DIR]  export a document (FORMAT: doc, pdf, xls, ...)\n"
           "                             [--quiet] [--json], as for put\n"
           "  put LOCAL... [--to PATH] [--convert]\n"
           "                             upload files and folder trees (default: the root);\n"
           "                             --convert makes documents of convertible files\n"
           "                             (without it, as \"fileautoconvert\" in Config.xml)\n"
           "                             [--transfers N]: up to N files at once (1 to 16,\n"
           "                             default 4); the lines and the results come in the\n"
           "                             order of one file after another; Ctrl-C stops every\n"
           "                             transfer and leaves no part of a file behind\n"
           "                             [--quiet]: no progress line, only result and error lines\n"
           "                             (the progress line is drawn on a terminal only)\n"
           "                             [--json]: the results on stdout as a JSON array of\n"
           "                             {\"title\", \"status\": \"ok\"|\"failed\", \"detail\"}\n"
           "  acl PATH [--json]          list who may access an entry\n"
           "  share PATH ADDRESS... [--role reader|writer]\n"
           "                             share with people, groups, domains or \"anyone\";\n"
           "                             an address that has access gets the new role\n"
           "  share PATH --public|--private\n"
           "                             open the entry to anyone, or close it again\n"
           "  unshare PATH ADDRESS       remove a sharing rule\n"
           "  quota                      show the storage in use\n"
           "                             [--json]: as {\"text\"} on stdout\n"
           "  --version                  show the version\n"
           "  COMMAND --help             show the usage of one command\n"
           "PATH is a path of titles from the root folder or a resource id (kind:id).\n"
           "Every command but login and logout signs in with the remembered account.\n"
           "Exit status: 0 done, 1 failed (or some items failed), 2 wrong command line,\n"
           "3 signing in failed.\n";
}

int RunCli(const std::vector<std::string>& args, CliIo& io) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? io.err : io.out) << Usage();
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        io.out << "tallowdesk-cli " << TALLOWDESK_VERSION << "\n";
        return 0;
    }
    // "COMMAND --help" answers before any setting is read or request made.
    for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] != "--help" && args[i] != "-h") continue;
        const std::string help = CommandHelp(args[0]);
        if (help.empty()) {
            io.err << "tallowdesk-cli: unknown command " << args[0] << "\n" << Usage();
            return 2;
        }
        io.out << help;
        return 0;
    }
    try {
        ConfigFile config;
        SetServiceHosts(config.GetServiceHosts());
        ResetCategoryTable();
        return Dispatch(args[0], SplitArgs(args, 1), io);
    } catch (const UsageError& e) {
        io.err << "tallowdesk-cli: " << e.what() << "\n" << Usage();
        return 2;
    } catch (const SignInFailed& e) {
        io.err << "Error: " << e.what() << "\n";
        return 3;
    } catch (const std::exception& e) {
        io.err << "Error: " << VisibleText(e.what()) << "\n";
        return 1;
    }
}

}  // namespace tallowdesk::cli
