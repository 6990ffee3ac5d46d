#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "CliCommon.h"
#include "EntryResolver.h"
#include "TerminalText.h"
#include "model/AclRule.h"
#include "model/FeedCatalogue.h"
#include "service/Download.h"
#include "service/FileHelpers.h"
#include "service/ServiceClient.h"
#include "service/ServiceTransferOps.h"
#include "service/Sharing.h"
#include "settings/ServiceHosts.h"
#include "transfer/DownloadLoop.h"
#include "transfer/ExportLoop.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferProgressSink.h"
#include "transfer/UploadLoop.h"
#include "transfer/UploadObserver.h"

namespace tallowdesk::cli {

namespace fs = std::filesystem;

namespace {

// Prints a transfer the way the progress window shows it: one status line,
// redrawn in place at most ten times a second, only on a terminal and not
// with --quiet; and every warning or error line as it comes. Remembers the
// items and which failed (a line added fails the command) for --json.
class TerminalProgress final : public TransferProgressSink {
public:
    struct Result {
        std::string title;
        bool ok = true;
        std::string detail;
    };

    TerminalProgress(const Args& a, CliIo& io)
        : m_err(io.err), m_draw(io.errIsTerminal && !a.Has("--quiet")) {}

    void SetCurrentNumber(std::uint64_t n) override { Set(m_current, n); }
    void SetTotal(std::uint64_t n) override { Set(m_total, n); }
    void SetName(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        EndLine();
        m_name = VisibleText(text);
        m_bytes = 0;
        m_rate = 0;
        m_results.push_back({text, true, {}});
    }
    void SetSizeText(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_size = VisibleText(text);
    }
    void SetRange(std::uint64_t) override {}
    void SetMarquee(bool) override {}
    void Progress(std::uint64_t bytesDone, std::uint64_t rate) override {
        std::lock_guard lock(m_mutex);
        m_bytes = bytesDone;
        m_rate = rate;
        const std::int64_t now = NowMilliseconds();
        if (now - m_lastDraw >= 100) {
            m_lastDraw = now;
            Draw();
        }
    }
    void AddTransferDetail(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        EndLine();
        m_err << VisibleText(text) << "\n";
        m_failed = true;
        // A line about the current item fails it; any other (a folder's)
        // is an item of its own, named by what comes before the line's
        // first double space ("title  Skipped: ...").
        if (m_results.empty() || m_results.back().title.empty() ||
            text.find(m_results.back().title) == std::string::npos) {
            const std::size_t gap = text.find("  ");
            m_results.push_back({gap == std::string::npos ? "" : text.substr(0, gap), true, {}});
        }
        Result& r = m_results.back();
        r.ok = false;
        r.detail += (r.detail.empty() ? "" : "\n") + text;
    }
    void Finished() override {
        std::lock_guard lock(m_mutex);
        Draw();
        EndLine();
    }

    bool Failed() const {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }
    std::vector<Result> Results() const {
        std::lock_guard lock(m_mutex);
        return m_results;
    }

private:
    void Set(std::uint64_t& field, std::uint64_t n) {
        std::lock_guard lock(m_mutex);
        field = n;
    }
    // A rate of bytes per millisecond is, near enough, KB per second.
    void Draw() {
        if (m_name.empty() || !m_draw) return;
        std::ostringstream line;
        line << "[" << m_current << "/" << m_total << "] " << m_name << "  "
             << FormatByteCount(m_bytes) << "of " << m_size << "  " << m_rate << " KB/s";
        m_err << "\r" << line.str() << "\x1b[K" << std::flush;
        m_open = true;
    }
    void EndLine() {
        if (m_open) m_err << "\n";
        m_open = false;
    }

    std::ostream& m_err;
    const bool m_draw;
    mutable std::mutex m_mutex;
    std::uint64_t m_current = 0, m_total = 0, m_bytes = 0, m_rate = 0;
    std::string m_name, m_size;
    std::int64_t m_lastDraw = 0;
    bool m_open = false, m_failed = false;
    std::vector<Result> m_results;
};

// --json: the per-item results on stdout.
void PrintResults(CliIo& io, const std::vector<TerminalProgress::Result>& results) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : results)
        list.push_back(
            {{"title", r.title}, {"status", r.ok ? "ok" : "failed"}, {"detail", r.detail}});
    io.out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// The command line has no tree or list to keep up to date.
struct NoObserver final : UploadObserver {
    void AddFolderToTree(const NewTreeFolder&) override {}
    void AddUploadedItem(const DocEntryPtr&) override {}
    void RefreshList() override {}
};

FolderItem ItemFor(const DocEntry& e) {
    return {e.IsFolder() ? FolderContentsUrl(e) : e.contentSrc.value_or(""), e.title.value_or(""),
            e.kind, e.QuotaBytes()};
}

// The transfer calls on the signed-in client, signing in to the spreadsheet
// service before the first spreadsheet's download. Once that sign-in failed,
// every further spreadsheet fails with the same reason instead of asking the
// service (and counting a failure against the account) again.
class SpreadsheetSignInOps final : public TransferOps {
public:
    SpreadsheetSignInOps(ServiceClient& client, CliIo& io)
        : m_client(client), m_io(io), m_ops(client) {}

    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override {
        m_ops.GetFeed(url, doc);
    }
    void DownloadEntry(const std::string& url, const std::string& kind, const fs::path& localPath,
                       const std::optional<std::string>& exportFormat,
                       TransferProgressSink& sink) override {
        if (kind == "spreadsheet") SignedInForSpreadsheets();
        m_ops.DownloadEntry(url, kind, localPath, exportFormat, sink);
    }
    void UploadFile(const fs::path& localPath, const std::string& targetUrl,
                    const std::string& name, tinyxml2::XMLDocument& reply,
                    TransferProgressSink& sink) override {
        m_ops.UploadFile(localPath, targetUrl, name, reply, sink);
    }
    void ReplaceContent(const fs::path& localPath, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink& sink) override {
        m_ops.ReplaceContent(localPath, editMediaUrl, reply, sink);
    }
    void CreateFolder(const std::string& title, const std::string& parentContentsUrl,
                      tinyxml2::XMLDocument& reply) override {
        m_ops.CreateFolder(title, parentContentsUrl, reply);
    }

private:
    // Downloads run on several threads; the token is written here only, under
    // the lock, before any download that reads it.
    void SignedInForSpreadsheets() {
        std::lock_guard lock(m_mutex);
        if (m_client.Credentials().wiseToken) return;
        if (m_failure) throw SignInFailed(*m_failure);
        try {
            SignInSpreadsheets(m_client, m_io);
        } catch (const SignInFailed& e) {
            m_failure = e.what();
            throw;
        }
    }

    ServiceClient& m_client;
    CliIo& m_io;
    ServiceTransferOps m_ops;
    std::mutex m_mutex;
    std::optional<std::string> m_failure;
};

fs::path Destination(const Args& a) {
    const fs::path dir = a.Value("--to", ".");
    if (!fs::is_directory(dir)) throw std::runtime_error(dir.string() + " is not a folder.");
    return dir;
}

std::vector<AclRule> Rules(ServiceClient& client, const DocEntry& e) {
    tinyxml2::XMLDocument doc;
    GetAcl(client, e.shortId, e.kind, doc);
    std::vector<AclRule> rules;
    if (const auto* feed = doc.FirstChildElement("feed"))
        for (auto* r = feed->FirstChildElement("entry"); r; r = r->NextSiblingElement("entry"))
            rules.push_back(ParseAclRule(r));
    return rules;
}

// --transfers: how many files move at once. 4 measured best on loopback for
// many small files and costs large ones nothing (bench/README.md).
constexpr unsigned kDefaultTransfers = 4;
constexpr unsigned kMostTransfers = 16;

unsigned Transfers(const Args& a) {
    const std::string text = a.Value("--transfers", std::to_string(kDefaultTransfers));
    unsigned n = 0;
    bool ok = !text.empty() && text.size() <= 2;
    for (const char c : text) {
        ok = ok && c >= '0' && c <= '9';
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || n < 1 || n > kMostTransfers)
        throw UsageError("--transfers takes a number from 1 to " + std::to_string(kMostTransfers));
    return n;
}

volatile std::sig_atomic_t g_interrupted = 0;

static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void CancelOnSignal(int signal) {
    g_interrupted = signal;
    transferCancel = true;  // lock-free: safe in a handler
}

// Ctrl-C (or TERM) during a transfer cancels it as the window's Cancel does:
// every running transfer stops at its next chunk and removes its partial file.
// Afterwards the signal takes its usual course (PassOn), so whoever started the
// program sees it interrupted. The handler resets itself: a second Ctrl-C ends
// the program at once.
class SignalsCancel {
public:
    SignalsCancel() {
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = CancelOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~SignalsCancel() { Restore(); }
    SignalsCancel(const SignalsCancel&) = delete;
    SignalsCancel& operator=(const SignalsCancel&) = delete;

    void PassOn(CliIo& io) {
        const int signal = g_interrupted;
        if (signal == 0) return;
        io.out.flush();
        io.err.flush();
        Restore();
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        ::raise(signal);
    }

private:
    void Restore() {
        if (m_restored) return;
        m_restored = true;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    }

    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    bool m_restored = false;
};

bool IsAnyone(const std::string& address) {
    return address == "anyone" || address == "default";
}

}  // namespace

int GetCommand(const Args& a, CliIo& io) {
    if (a.positional.empty()) throw UsageError("name what to download");
    Expect(a, 1, a.positional.size(), {"--to", "--quiet", "--json", "--transfers"});
    const unsigned transfers = Transfers(a);
    const fs::path dir = Destination(a);
    auto client = SignInRemembered(io);
    EntryResolver resolver(*client);
    std::vector<FolderItem> items;
    for (const std::string& path : a.positional) items.push_back(ItemFor(*resolver.Entry(path)));
    SpreadsheetSignInOps ops(*client, io);
    TerminalProgress progress(a, io);
    transferCancel = false;
    SignalsCancel signals;
    RunDownload(items, dir, ops, progress, {}, transfers);
    if (a.Has("--json")) PrintResults(io, progress.Results());
    signals.PassOn(io);
    return progress.Failed() ? 1 : 0;
}

int ExportCommand(const Args& a, CliIo& io) {
    Expect(a, 2, 2, {"--to", "--quiet", "--json"});
    const fs::path dir = Destination(a);
    auto client = SignInRemembered(io);
    const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
    const std::string& format = a.positional[1];
    std::string offered;
    bool known = false;
    for (const ExportFormat& f : ExportFormatsForKind(e->kind)) {
        known = known || f.value == format;
        offered += (offered.empty() ? "" : ", ") + std::string(f.value);
    }
    if (!known)
        throw std::runtime_error(offered.empty() ? "A " + e->kind + " cannot be exported."
                                                 : "A " + e->kind + " exports to " + offered + ".");
    if (e->kind == "spreadsheet") SignInSpreadsheets(*client, io);
    ServiceTransferOps ops(*client);
    TerminalProgress progress(a, io);
    transferCancel = false;
    SignalsCancel signals;
    const bool ok = RunExport(
        {e->contentSrc.value_or(""), e->title.value_or(""), e->kind, format, dir}, ops, progress);
    if (a.Has("--json")) {
        // One item: the entry exported, failed with every line the export added.
        TerminalProgress::Result result{e->title.value_or(""), ok && !progress.Failed(), {}};
        for (const auto& r : progress.Results())
            result.detail += (result.detail.empty() || r.detail.empty() ? "" : "\n") + r.detail;
        PrintResults(io, {result});
    }
    signals.PassOn(io);
    return ok && !progress.Failed() ? 0 : 1;
}

int PutCommand(const Args& a, CliIo& io) {
    if (a.positional.empty()) throw UsageError("name what to upload");
    Expect(a, 1, a.positional.size(), {"--to", "--convert", "--quiet", "--json", "--transfers"});
    const unsigned transfers = Transfers(a);
    std::vector<UploadSource> sources;
    for (const std::string& p : a.positional) {
        if (!fs::exists(p)) throw std::runtime_error(p + " does not exist.");
        sources.push_back({fs::path(p), fs::is_directory(p)});
    }
    // The resumable route is authorised by the session cookies.
    auto client = SignInRemembered(io, true);
    std::string target = DocumentListUrl();
    if (const std::string to = a.Value("--to", ""); !to.empty() && to != "/") {
        const DocEntryPtr folder = EntryResolver(*client).Entry(to);
        if (!folder->IsFolder()) throw std::runtime_error(to + " is not a folder.");
        target = FolderContentsUrl(*folder);
    }
    // Without --convert the route follows "fileautoconvert" of Config.xml,
    // as the window's uploads do.
    ServiceTransferOps ops(*client, a.Has("--convert") ? std::optional<bool>(true) : std::nullopt);
    TerminalProgress progress(a, io);
    NoObserver observer;
    FolderList folders;
    transferCancel = false;
    SignalsCancel signals;
    CountUploadFiles(sources, progress);
    RunUpload(sources, target, ops, progress, observer, {}, folders, {}, {}, transfers);
    if (a.Has("--json")) PrintResults(io, progress.Results());
    signals.PassOn(io);
    return progress.Failed() ? 1 : 0;
}

int AclCommand(const Args& a, CliIo& io) {
    Expect(a, 1, 1, {"--json"});
    auto client = SignInRemembered(io);
    const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
    const std::vector<AclRule> rules = Rules(*client, *e);
    if (a.Has("--json")) {
        nlohmann::json list = nlohmann::json::array();
        for (const AclRule& r : rules) {
            nlohmann::json j;
            const auto put = [&j](const char* name, const std::optional<std::string>& v) {
                j[name] = v ? nlohmann::json(*v) : nlohmann::json(nullptr);
            };
            put("role", r.role);
            put("scopeType", r.scopeType);
            put("scopeValue", r.scopeValue);
            put("etag", r.etag);
            put("editHref", r.editHref);
            list.push_back(std::move(j));
        }
        io.out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    for (const AclRule& r : rules) {
        io.out << std::left << std::setw(8) << VisibleText(r.role.value_or("")) << "  "
               << std::setw(8) << VisibleText(r.scopeType.value_or("")) << "  "
               << VisibleText(r.scopeType == "default" ? "anyone" : r.scopeValue.value_or(""))
               << "\n";
    }
    return 0;
}

namespace {

bool SameAddress(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The rule an address already has on the entry, if any.
const AclRule* RuleOf(const std::vector<AclRule>& rules, const std::string& scopeType,
                      const std::string& address) {
    for (const AclRule& r : rules) {
        if (r.scopeType != scopeType) continue;
        if (scopeType == "default" || SameAddress(r.scopeValue.value_or(""), address)) return &r;
    }
    return nullptr;
}

}  // namespace

int ShareCommand(const Args& a, CliIo& io) {
    const bool makePublic = a.Has("--public");
    const bool makePrivate = a.Has("--private");
    if (makePublic && makePrivate) throw UsageError("--public and --private exclude each other");
    const std::size_t minimum = makePublic || makePrivate ? 1 : 2;
    if (a.positional.size() < minimum) throw UsageError("name an entry and whom to share it with");
    Expect(a, minimum, a.positional.size(), {"--role", "--public", "--private"});
    const std::string role = a.Value("--role", "reader");
    if (role != "reader" && role != "writer") throw UsageError("the role is reader or writer");
    auto client = SignInRemembered(io);
    const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
    // Read once: an address that already has a rule gets its role changed
    // instead of a second rule the service refuses.
    const std::vector<AclRule> rules = Rules(*client, *e);
    int status = 0;
    const auto share = [&](const std::string& scopeType, const std::string& address,
                           const std::string& shown) {
        try {
            if (const AclRule* rule = RuleOf(rules, scopeType, address)) {
                if (rule->role == "owner")
                    throw std::runtime_error("The owner's access cannot change.");
                if (rule->role == role) return;
                ChangeAclRole(scopeType, rule->scopeValue.value_or(""), *client,
                              rule->editHref.value_or(""), rule->etag.value_or(""), role);
            } else {
                AddAclRule(scopeType, address, *client, e->shortId, e->kind, role);
            }
        } catch (const std::exception& ex) {
            io.err << VisibleText(shown) << "  failed: " << VisibleText(ex.what()) << "\n";
            status = 1;
        }
    };
    for (std::size_t i = 1; i < a.positional.size(); ++i) {
        for (const std::string& address : SplitShareAddresses(a.positional[i])) {
            if (IsAnyone(address))
                share("default", "", address);
            else
                share(ScopeTypeForAddress(address, Hosts().groupsMailDomain), address, address);
        }
    }
    if (makePublic && !RuleOf(rules, "default", "")) {
        try {
            AddAclRule("default", "", *client, e->shortId, e->kind, "reader");
        } catch (const std::exception& ex) {
            io.err << "--public  failed: " << VisibleText(ex.what()) << "\n";
            status = 1;
        }
    }
    if (makePrivate) {
        if (const AclRule* rule = RuleOf(rules, "default", "")) {
            try {
                DeleteAclRule(rule->editHref.value_or(""), *client);
            } catch (const std::exception& ex) {
                io.err << "--private  failed: " << VisibleText(ex.what()) << "\n";
                status = 1;
            }
        }
    }
    return status;
}

int UnshareCommand(const Args& a, CliIo& io) {
    Expect(a, 2, 2, {});
    auto client = SignInRemembered(io);
    const DocEntryPtr e = EntryResolver(*client).Entry(a.positional[0]);
    const std::string& address = a.positional[1];
    for (const AclRule& r : Rules(*client, *e)) {
        const bool match = IsAnyone(address) ? r.scopeType == "default" : r.scopeValue == address;
        if (!match) continue;
        if (r.role == "owner") throw std::runtime_error("The owner's access cannot be removed.");
        DeleteAclRule(r.editHref.value_or(""), *client);
        return 0;
    }
    throw std::runtime_error(address + " has no access of its own to this entry.");
}

int QuotaCommand(const Args& a, CliIo& io) {
    Expect(a, 0, 0, {"--json"});
    auto client = SignInRemembered(io, true);
    const auto text = GetQuotaText(*client);
    if (!text) throw std::runtime_error("The service did not say how much storage is in use.");
    if (a.Has("--json")) {
        const nlohmann::json j{{"text", *text}};
        io.out << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    io.out << VisibleText(*text) << "\n";
    return 0;
}

}  // namespace tallowdesk::cli
