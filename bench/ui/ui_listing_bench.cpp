// Lists one large folder of the local document service through the real
// listing worker into the real entry list and reports how long the last row
// took and how long the UI thread stood still at worst meanwhile.
//
// ui_listing_bench [--entries N] [--page-size N] [--runs N]
//
// The stall probe is a 1 ms timer on the UI thread: the largest gap between
// two of its ticks is the longest time the window could not have repainted
// or reacted to input.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
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
    int entries = 5000;
    int pageSize = 100;
    int runs = 3;
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
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

struct RunResult {
    double firstRowMs = 0;
    double lastRowMs = 0;
    double longestStallMs = 0;
    int rows = 0;
};

RunResult ListOnce(CTallowdeskView& view, StallProbe& probe) {
    RunResult r;
    QElapsedTimer clock;
    bool first = true;
    const auto rowsAdded = QObject::connect(view.Model(), &QAbstractItemModel::rowsInserted, [&] {
        if (first) r.firstRowMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        first = false;
    });
    probe.Start();
    clock.start();
    view.RefreshList();
    while (view.Processing()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // ListingFinished is posted after the last "Entry Items Added".
    r.lastRowMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    r.longestStallMs = probe.StopMs();
    r.rows = view.Model()->rowCount();
    QObject::disconnect(rowsAdded);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

    QTemporaryDir dir;
    server::ServerOptions serverOptions;
    serverOptions.dataDir = dir.filePath(QStringLiteral("server")).toStdString();
    serverOptions.port = 0;
    serverOptions.passwordIterations = 1000;
    serverOptions.pageSize = static_cast<std::size_t>(options.pageSize);
    server::Server service(serverOptions);
    const std::string email = "bench@example.test";
    const std::string password = "bench-pass";
    service.AddUser(email, password);

    QElapsedTimer setup;
    setup.start();
    server::NewEntry folder;
    folder.kind = "folder";
    folder.title = "Many files";
    const std::string folderId = service.GetStore().Create(email, folder).id;
    static const char* const kKinds[] = {"document", "spreadsheet", "presentation", "file"};
    for (int i = 0; i < options.entries; ++i) {
        server::NewEntry e;
        e.kind = kKinds[i % 4];
        e.title = "entry-" + std::to_string(i);
        e.mime = e.kind == "file" ? "text/plain" : "";
        e.parents = {folderId};
        if (e.kind == "file") e.content = "line " + std::to_string(i) + "\n";
        service.GetStore().Create(email, e);
    }
    const double setupMs = static_cast<double>(setup.elapsed());
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
    state->navigation.Open(CurrentLocation{
        DocumentListUrl() + "/folder%3A" + folderId + "/contents", "Many files", false, true});

    CTallowdeskView view(state);
    view.resize(900, 600);
    view.show();
    StallProbe probe;

    std::printf("ui_listing_bench: %d entries, page size %d (%d pages), %d runs per style\n",
                options.entries, options.pageSize,
                (options.entries + options.pageSize - 1) / options.pageSize, options.runs);
    std::printf("  store filled in %.0f ms\n", setupMs);
    const std::pair<const char*, ListStyle> styles[] = {{"details", ListStyle::Details},
                                                        {"large icons", ListStyle::LargeIcons}};
    int status = 0;
    for (const auto& [name, style] : styles) {
        view.SetStyle(style);
        std::vector<double> first, last, stall;
        for (int run = 0; run < options.runs; ++run) {
            const RunResult r = ListOnce(view, probe);
            if (r.rows != options.entries) {
                std::fprintf(stderr, "ui_listing_bench: %s run %d listed %d of %d rows\n", name,
                             run + 1, r.rows, options.entries);
                status = 1;
            }
            std::printf(
                "  %-11s run %d: first row %7.1f ms, last row %7.1f ms, longest stall %6.1f ms\n",
                name, run + 1, r.firstRowMs, r.lastRowMs, r.longestStallMs);
            first.push_back(r.firstRowMs);
            last.push_back(r.lastRowMs);
            stall.push_back(r.longestStallMs);
        }
        std::printf(
            "  %-11s median: first row %7.1f ms, last row %7.1f ms, longest stall %6.1f ms\n", name,
            Median(first), Median(last), Median(stall));
    }
    return status;
}
