// Lists one large folder through the real listing worker into the real entry
// list, in each of its four view styles, and reports per style: when the
// first row came, when the last row was in and laid out, how long the UI
// thread stood still at worst meanwhile, and the process's peak memory.
//
// ui_listing_bench [--entries N] [--page-size N] [--runs N]
//                  [--source both|service|memory] [--data-dir DIR] [--fresh]
//
// Two sources of pages, measured in the same run:
// - service: the local document service in this process, over loopback TLS,
//   as the window gets them;
// - memory: the same pages, fetched once beforehand and served from memory
//   (only their XML parse remains), so the window's own share shows alone.
//
// The stall probe is a 1 ms timer on the UI thread: the largest gap between
// two of its ticks is the longest time the window could not have repainted
// or reacted to input.
//
// Filling the service's store takes long (one transaction per entry), so the
// filled data folder is kept (by default beside this program) and reused.

#include <malloc.h>
#include <tinyxml2.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "AppState.h"
#include "CTallowdeskView.h"
#include "EntryListModel.h"
#include "Resources.h"
#include "Server.h"
#include "Store.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceClient.h"
#include "service/SignIn.h"
#include "settings/ServiceHosts.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

struct Options {
    int entries = 10000;
    int pageSize = 100;
    int runs = 3;
    bool fromService = true;
    bool fromMemory = true;
    std::string dataDir;
    bool fresh = false;
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--fresh") {
            o.fresh = true;
            continue;
        }
        if (i + 1 >= argc) throw std::runtime_error("missing value for " + name);
        const std::string text = argv[++i];
        if (name == "--source") {
            if (text != "both" && text != "service" && text != "memory")
                throw std::runtime_error("--source takes both, service or memory");
            o.fromService = text != "memory";
            o.fromMemory = text != "service";
            continue;
        }
        if (name == "--data-dir") {
            o.dataDir = text;
            continue;
        }
        const int value = std::atoi(text.c_str());
        if (value <= 0) throw std::runtime_error("invalid value for " + name);
        if (name == "--entries")
            o.entries = value;
        else if (name == "--page-size")
            o.pageSize = value;
        else if (name == "--runs")
            o.runs = value;
        else
            throw std::runtime_error("unknown option " + name);
    }
    return o;
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long StatusKib(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    return -1;
}

// Starts a new peak (VmHWM) from the current resident size.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Largest gap between ticks of a 1 ms timer on the UI thread.
class StallProbe {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void Start() {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double StopMs() {
        m_timer.stop();
        return static_cast<double>(m_longest) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Durations of the worker's page fetches (request, answer and XML parse).
class FetchLog {
public:
    FeedFetcher Wrap(FeedFetcher inner) {
        return
            [this, inner = std::move(inner)](const std::string& url, tinyxml2::XMLDocument& doc) {
                QElapsedTimer clock;
                clock.start();
                inner(url, doc);
                const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                std::lock_guard lock(m_mutex);
                m_ms.push_back(ms);
            };
    }
    std::vector<double> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_ms, {});
    }

private:
    std::mutex m_mutex;
    std::vector<double> m_ms;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct RunResult {
    double firstRowMs = 0;
    double lastRowMs = 0;
    double longestStallMs = 0;
    double fetchMs = 0;       // median per page
    double fetchFirstMs = 0;  // median of the first ten pages
    double fetchLastMs = 0;   // median of the last ten pages
    double insertMs = 0;      // median per insertion into the model and views
    int inserts = 0;
    int rows = 0;
};

// One Refresh of the folder, until the last row is in the list and the
// active view has laid it out (it has a place on the view).
RunResult ListOnce(CTallowdeskView& view, StallProbe& probe, FetchLog& fetches) {
    RunResult r;
    QElapsedTimer clock;
    QElapsedTimer insertClock;
    std::vector<double> inserts;
    bool first = true;
    QAbstractItemModel* model = view.Model();
    const auto before = QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted,
                                         [&] { insertClock.start(); });
    const auto after = QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] {
        inserts.push_back(static_cast<double>(insertClock.nsecsElapsed()) / 1e6);
        if (first) r.firstRowMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        first = false;
    });
    fetches.Take();
    probe.Start();
    clock.start();
    view.RefreshList();
    while (view.Processing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QAbstractItemView* shown = view.ActiveView();
    const int rows = model->rowCount();
    QElapsedTimer layoutWait;
    layoutWait.start();
    while (rows > 0 && !shown->visualRect(model->index(rows - 1, 0)).isValid() &&
           layoutWait.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    r.lastRowMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    r.longestStallMs = probe.StopMs();
    r.rows = rows;
    const std::vector<double> fetched = fetches.Take();
    r.fetchMs = Median(fetched);
    const std::size_t ten = std::min<std::size_t>(10, fetched.size());
    r.fetchFirstMs = Median({fetched.begin(), fetched.begin() + static_cast<std::ptrdiff_t>(ten)});
    r.fetchLastMs = Median({fetched.end() - static_cast<std::ptrdiff_t>(ten), fetched.end()});
    r.insertMs = Median(inserts);
    r.inserts = static_cast<int>(inserts.size());
    QObject::disconnect(before);
    QObject::disconnect(after);
    return r;
}

// The median run of each figure.
struct Figures {
    double firstRowMs = 0;
    double lastRowMs = 0;
    double longestStallMs = 0;
};

Figures Medians(const std::vector<RunResult>& runs) {
    std::vector<double> first, last, stall;
    for (const RunResult& r : runs) {
        first.push_back(r.firstRowMs);
        last.push_back(r.lastRowMs);
        stall.push_back(r.longestStallMs);
    }
    return {Median(first), Median(last), Median(stall)};
}

std::string Duration(double ms) {
    char text[32];
    if (ms < 1000)
        std::snprintf(text, sizeof text, "%.0f ms", ms);
    else
        std::snprintf(text, sizeof text, "%.2f s", ms / 1000);
    return text;
}

std::string Mib(long kib) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(kib) / 1024);
    return text;
}

std::string Ratio(double figure, double anchor) {
    if (anchor <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", figure / anchor);
    return text;
}

std::string WithThousands(int n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

void BenchLine(const std::string& what, const std::string& figure, const std::string& anchor,
               const std::string& ratio, const char* goal) {
    std::printf("BENCH | %s | %s | %s | %s | %s\n", what.c_str(), figure.c_str(), anchor.c_str(),
                ratio.c_str(), goal);
}

// The folder "Many files" with options.entries entries in the data folder,
// made once and reused while its stamp matches. Returns the folder's id.
std::string PrepareStore(server::Server& service, const std::string& email,
                         const std::string& stampPath, int entries) {
    {
        std::ifstream stamp(stampPath);
        int stamped = 0;
        std::string folderId;
        if (stamp >> stamped >> folderId && stamped == entries) return folderId;
    }
    QElapsedTimer setup;
    setup.start();
    server::NewEntry folder;
    folder.kind = "folder";
    folder.title = "Many files";
    const std::string folderId = service.GetStore().Create(email, folder).id;
    static const char* const kKinds[] = {"document", "spreadsheet", "presentation", "file"};
    for (int i = 0; i < entries; ++i) {
        server::NewEntry e;
        e.kind = kKinds[i % 4];
        e.title = "entry-" + std::to_string(i);
        e.mime = e.kind == "file" ? "text/plain" : "";
        e.parents = {folderId};
        if (e.kind == "file") e.content = "line " + std::to_string(i) + "\n";
        service.GetStore().Create(email, e);
    }
    std::ofstream(stampPath) << entries << ' ' << folderId << '\n';
    std::printf("  store filled in %.0f ms (kept for later runs)\n",
                static_cast<double>(setup.elapsed()));
    return folderId;
}

// Every page of the folder as the service sends it, by URL.
using PageMap = std::map<std::string, std::string>;

std::shared_ptr<const PageMap> CapturePages(const FeedFetcher& fetch, const std::string& url) {
    auto pages = std::make_shared<PageMap>();
    std::string next = url;
    for (;;) {
        tinyxml2::XMLDocument doc;
        fetch(next, doc);
        tinyxml2::XMLPrinter printer(nullptr, true);
        doc.Print(&printer);
        (*pages)[next] = printer.CStr();
        const tinyxml2::XMLElement* feed = doc.FirstChildElement("feed");
        int n = 0;
        for (auto* e = feed ? feed->FirstChildElement("entry") : nullptr; e;
             e = e->NextSiblingElement("entry"))
            ++n;
        std::optional<std::string> link = NextLinkHref(doc);
        if (n < kFullPageEntries || !link) break;
        next = std::move(*link);
    }
    return pages;
}

FeedFetcher MemoryFetcher(std::shared_ptr<const PageMap> pages) {
    return [pages](const std::string& url, tinyxml2::XMLDocument& doc) {
        const auto it = pages->find(url);
        if (it == pages->end()) throw std::runtime_error("no page for " + url);
        doc.Parse(it->second.data(), it->second.size());
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitShellResources();
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ui_listing_bench: %s\n", e.what());
        return 2;
    }

    const QString dataDir = options.dataDir.empty() ? QCoreApplication::applicationDirPath() +
                                                          QStringLiteral("/ui_listing_bench-data")
                                                    : QString::fromStdString(options.dataDir);
    if (options.fresh) QDir(dataDir).removeRecursively();
    QDir().mkpath(dataDir);
    const std::string stampPath = (dataDir + QStringLiteral("/listing.stamp")).toStdString();

    std::printf("ui_listing_bench: %d entries, page size %d (%d pages), %d runs per style\n",
                options.entries, options.pageSize,
                (options.entries + options.pageSize - 1) / options.pageSize, options.runs);
    server::ServerOptions serverOptions;
    serverOptions.dataDir = (dataDir + QStringLiteral("/server")).toStdString();
    serverOptions.port = 0;
    serverOptions.passwordIterations = 1000;
    serverOptions.pageSize = static_cast<std::size_t>(options.pageSize);
    server::Server service(serverOptions);
    const std::string email = "bench@example.test";
    const std::string password = "bench-pass";
    std::string folderId;
    try {
        service.AddUser(email, password);
        folderId = PrepareStore(service, email, stampPath, options.entries);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ui_listing_bench: cannot fill the store (try --fresh): %s\n",
                     e.what());
        return 1;
    }
    const unsigned short port = service.Start();

    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.docsHost = hosts.accountsHost = "localhost:" + std::to_string(port);
    hosts.caFile = service.CertPath();
    SetServiceHosts(hosts);
    ResetCategoryTable();

    auto state = std::make_shared<AppState>();
    state->client = std::make_shared<ServiceClient>(email, password);
    try {
        ClientLogin(*state->client, "writely", std::nullopt, std::nullopt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ui_listing_bench: sign-in failed: %s\n", e.what());
        return 1;
    }
    state->calls = ServiceCallsFor(state->client);
    const std::string folderUrl = DocumentListUrl() + "/folder%3A" + folderId + "/contents";
    state->navigation.Open(CurrentLocation{folderUrl, "Many files", false, true});

    FetchLog fetches;
    FeedFetcher fromService;
    if (options.fromService) fromService = fetches.Wrap(state->calls.getFeed);
    FeedFetcher fromMemory;
    if (options.fromMemory) {
        try {
            fromMemory = fetches.Wrap(MemoryFetcher(CapturePages(state->calls.getFeed, folderUrl)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ui_listing_bench: cannot read the pages: %s\n", e.what());
            return 1;
        }
    }

    CTallowdeskView view(state);
    view.resize(900, 600);
    view.show();
    StallProbe probe;

    struct Style {
        const char* name;
        ListStyle style;
    };
    const Style styles[] = {{"large icons", ListStyle::LargeIcons},
                            {"small icons", ListStyle::SmallIcons},
                            {"list", ListStyle::List},
                            {"details", ListStyle::Details}};
    const std::string what = "Listing " + WithThousands(options.entries) + " entries, ";
    int status = 0;
    for (const Style& style : styles) {
        view.SetStyle(style.style);
        // The window as it is before a listing: no rows, memory given back.
        view.Model()->Clear();
        state->entries.Clear();
        QCoreApplication::processEvents();
        malloc_trim(0);
        const long rssBefore = StatusKib("VmRSS");
        ResetPeakMemory();

        std::map<std::string, Figures> figures;
        for (const auto& [source, fetch] :
             {std::pair<std::string, FeedFetcher>{"memory", fromMemory},
              {"service", fromService}}) {
            if (!fetch) continue;
            state->calls.getFeed = fetch;
            std::vector<RunResult> runs;
            for (int run = 0; run < options.runs; ++run) {
                const RunResult r = ListOnce(view, probe, fetches);
                if (r.rows != options.entries) {
                    std::fprintf(stderr, "ui_listing_bench: %s, %s, run %d listed %d of %d rows\n",
                                 style.name, source.c_str(), run + 1, r.rows, options.entries);
                    status = 1;
                }
                std::printf(
                    "  %-11s %-7s run %d: first row %7.1f ms, last row %7.1f ms, longest stall "
                    "%6.1f ms; per page: fetch %5.1f ms (first ten %5.1f, last ten %5.1f), "
                    "insert %5.2f ms (%d inserts)\n",
                    style.name, source.c_str(), run + 1, r.firstRowMs, r.lastRowMs,
                    r.longestStallMs, r.fetchMs, r.fetchFirstMs, r.fetchLastMs, r.insertMs,
                    r.inserts);
                runs.push_back(r);
            }
            figures[source] = Medians(runs);
        }
        const long peak = StatusKib("VmHWM");
        std::printf("  %-11s memory: %ld KiB before the listing, peak %ld KiB (+%ld KiB)\n",
                    style.name, rssBefore, peak, peak - rssBefore);

        // The service's figures, anchored to the same listing from memory
        // (the window alone); with one source only, its figures unanchored.
        const bool both = options.fromService && options.fromMemory;
        const Figures& main = figures.count("service") ? figures["service"] : figures["memory"];
        const std::string prefix = what + style.name + " view: ";
        const std::string source = options.fromService ? "" : " (pages from memory)";
        auto anchor = [&](double ms) {
            return both ? Duration(ms) + " (pages from memory)" : std::string("-");
        };
        const Figures mem = both ? figures["memory"] : Figures{};
        BenchLine(prefix + "first row" + source, Duration(main.firstRowMs), anchor(mem.firstRowMs),
                  both ? Ratio(main.firstRowMs, mem.firstRowMs) : "-", "<= 0.3 s");
        BenchLine(prefix + "last row" + source, Duration(main.lastRowMs), anchor(mem.lastRowMs),
                  both ? Ratio(main.lastRowMs, mem.lastRowMs) : "-", "<= 3 s");
        BenchLine(prefix + "longest stall" + source, Duration(main.longestStallMs),
                  anchor(mem.longestStallMs),
                  both ? Ratio(main.longestStallMs, mem.longestStallMs) : "-", "<= 30 ms");
        BenchLine(prefix + "peak RSS", Mib(peak), Mib(rssBefore) + " (before the listing)",
                  Ratio(static_cast<double>(peak), static_cast<double>(rssBefore)), "reported");
        std::fflush(stdout);
    }
    return status;
}
