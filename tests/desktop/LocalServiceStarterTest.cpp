// The start of the local document service before the sign-in dialog, with
// the port probe, the commands and the clock scripted.
#include <QTemporaryDir>
#include <QtTest>

#include "LocalServiceStarter.h"

using tallowdesk::ServiceHosts;
using tallowdesk::shell::LocalServiceStarter;
using Outcome = LocalServiceStarter::Outcome;

Q_DECLARE_METATYPE(Outcome)

namespace {

// A scripted machine: the port answers after a number of probes (counted from
// the first start), systemctl ends with a given status, the program exists or
// not, and the started process lives or dies.
struct FakeMachine {
    bool runningAtFirst = false;
    int systemctlExit = 1;
    QString systemctlOutput = QStringLiteral("Failed to connect to bus: No medium found");
    int unitAnswersAfter = -1;  // probes after systemctl; -1: never
    bool programExists = true;
    bool launchFails = false;
    int programAnswersAfter = -1;  // probes after the launch; -1: never
    bool programDies = false;
    QString log = QStringLiteral("Cannot listen on 127.0.0.1:48443: Address already in use");

    // What happened.
    QStringList commands;
    QStringList launchArgs;
    QString launchLog;
    int sleptMs = 0;
    int probes = 0;

    int probesSinceUnit = -1;
    int probesSinceLaunch = -1;

    LocalServiceStarter::Dependencies Dependencies() {
        LocalServiceStarter::Dependencies deps;
        deps.probe = [this](const QString&, int) {
            ++probes;
            if (runningAtFirst) return true;
            if (probesSinceUnit >= 0 && unitAnswersAfter >= 0 &&
                ++probesSinceUnit > unitAnswersAfter)
                return true;
            if (probesSinceLaunch >= 0 && programAnswersAfter >= 0 &&
                ++probesSinceLaunch > programAnswersAfter)
                return true;
            return false;
        };
        deps.run = [this](const QString& program, const QStringList& args) {
            commands << (program + QLatin1Char(' ') + args.join(QLatin1Char(' ')));
            if (systemctlExit == 0) probesSinceUnit = 0;
            return LocalServiceStarter::CommandResult{systemctlExit, systemctlOutput};
        };
        deps.startDetached = [this](const QString& program, const QStringList& args,
                                    const QString& logFile) {
            commands << program;
            launchArgs = args;
            launchLog = logFile;
            LocalServiceStarter::Launch launch;
            if (launchFails) {
                launch.error = QStringLiteral("Permission denied");
            } else {
                launch.pid = 4242;
                probesSinceLaunch = 0;
            }
            return launch;
        };
        deps.isAlive = [this](qint64 pid) { return pid == 4242 && !programDies; };
        deps.readLogTail = [this](const QString&) { return log; };
        deps.isExecutable = [this](const QString&) { return programExists; };
        deps.sleep = [this](int ms) { sleptMs += ms; };
        deps.programDir = QStringLiteral("/opt/td/bin");
        deps.dataDir = QStringLiteral("/home/u/.local/share/Tallowdesk/server");
        return deps;
    }
};

ServiceHosts HostsFor(const std::string& docsHost) {
    ServiceHosts hosts = ServiceHosts::Defaults();
    hosts.docsHost = docsHost;
    hosts.accountsHost = docsHost;
    return hosts;
}

const QString kSystemctl = QStringLiteral("systemctl --user start tallowdesk-server.service");
const QString kProgram = QStringLiteral("/opt/td/bin/tallowdesk-server");

}  // namespace

class LocalServiceStarterTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toLocal8Bit());
    }

    void localEndpoint_data() {
        QTest::addColumn<QString>("hostPort");
        QTest::addColumn<QString>("host");  // empty: not this machine
        QTest::addColumn<int>("port");
        QTest::newRow("default") << "localhost:48443"
                                 << "localhost" << 48443;
        QTest::newRow("upper case") << "LocalHost:5000"
                                    << "localhost" << 5000;
        QTest::newRow("IPv4 loopback") << "127.0.0.1:8080"
                                       << "127.0.0.1" << 8080;
        QTest::newRow("IPv6 loopback") << "[::1]:443"
                                       << "::1" << 443;
        QTest::newRow("other machine") << "docs.example.org:443"
                                       << "" << 0;
        QTest::newRow("no port") << "localhost"
                                 << "" << 0;
        QTest::newRow("port zero") << "localhost:0"
                                   << "" << 0;
        QTest::newRow("port too big") << "localhost:65536"
                                      << "" << 0;
        QTest::newRow("port not a number") << "localhost:https"
                                           << "" << 0;
        QTest::newRow("loopback look-alike") << "localhost.example.org:80"
                                             << "" << 0;
    }
    void localEndpoint() {
        QFETCH(QString, hostPort);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto endpoint = LocalServiceStarter::LocalEndpoint(hostPort.toStdString());
        if (host.isEmpty()) {
            QVERIFY(!endpoint);
        } else {
            QVERIFY(endpoint);
            QCOMPARE(endpoint->first, host);
            QCOMPARE(endpoint->second, port);
        }
    }

    void paths_data() {
        QTest::addColumn<QString>("docsHost");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("systemctlExit");
        QTest::addColumn<int>("unitAnswersAfter");
        QTest::addColumn<int>("programAnswersAfter");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QStringList>("commands");

        QTest::newRow("another machine: nothing started")
            << "docs.example.org:443" << false << 0 << 0 << 0 << Outcome::NotLocal << QStringList{};
        QTest::newRow("already running: nothing started")
            << "localhost:48443" << true << 0 << 0 << 0 << Outcome::AlreadyRunning << QStringList{};
        QTest::newRow("the user unit starts it")
            << "localhost:48443" << false << 0 << 3 << -1 << Outcome::StartedByUnit
            << QStringList{kSystemctl};
        QTest::newRow("no user manager: the program beside the window")
            << "localhost:48443" << false << 1 << -1 << 2 << Outcome::StartedProgram
            << QStringList{kSystemctl, kProgram};
        QTest::newRow("the unit starts but never answers: the program")
            << "localhost:48443" << false << 0 << -1 << 1 << Outcome::StartedProgram
            << QStringList{kSystemctl, kProgram};
        QTest::newRow("a port of the user's choosing: no unit")
            << "127.0.0.1:5000" << false << 0 << 0 << 0 << Outcome::StartedProgram
            << QStringList{kProgram};
    }
    void paths() {
        QFETCH(QString, docsHost);
        QFETCH(bool, running);
        QFETCH(int, systemctlExit);
        QFETCH(int, unitAnswersAfter);
        QFETCH(int, programAnswersAfter);
        QFETCH(Outcome, outcome);
        QFETCH(QStringList, commands);

        FakeMachine machine;
        machine.runningAtFirst = running;
        machine.systemctlExit = systemctlExit;
        machine.unitAnswersAfter = unitAnswersAfter;
        machine.programAnswersAfter = programAnswersAfter;
        const auto result = LocalServiceStarter(machine.Dependencies())
                                .EnsureRunning(HostsFor(docsHost.toStdString()));
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(machine.commands, commands);
        QVERIFY2(result.message.isEmpty(), qPrintable(result.message));
        if (outcome == Outcome::NotLocal) QCOMPARE(machine.probes, 0);
        if (outcome == Outcome::StartedProgram) {
            QCOMPARE(result.pid, std::optional<qint64>(4242));
            const QString port = docsHost.section(QLatin1Char(':'), -1);
            // Never the demo account: only the port and the data folder.
            QCOMPARE(machine.launchArgs,
                     (QStringList{QStringLiteral("--port"), port, QStringLiteral("--data-dir"),
                                  QStringLiteral("/home/u/.local/share/Tallowdesk/server")}));
            QCOMPARE(machine.launchLog,
                     QStringLiteral("/home/u/.local/share/Tallowdesk/server/server.log"));
        }
    }

    void failures_data() {
        QTest::addColumn<bool>("programExists");
        QTest::addColumn<bool>("launchFails");
        QTest::addColumn<bool>("programDies");
        QTest::addColumn<QStringList>("messageParts");
        QTest::addColumn<int>("maxSleptMs");

        const QString head = QStringLiteral(
            "The local document service on localhost:48443 is not running and could not be "
            "started.");
        const QString bus = QStringLiteral(
            "Starting it through systemd failed too: Failed to connect to bus: No medium found");
        QTest::newRow("program missing")
            << false << false << false
            << QStringList{head,
                           QStringLiteral("The program /opt/td/bin/tallowdesk-server is missing."),
                           bus}
            << 0;
        QTest::newRow("program cannot be started")
            << true << true << false
            << QStringList{head,
                           QStringLiteral("/opt/td/bin/tallowdesk-server could not be started: "
                                          "Permission denied"),
                           bus}
            << 0;
        // Regression: a service that dies at once must not keep the window
        // waiting for the whole port timeout.
        QTest::newRow("program stops at once")
            << true << false << true
            << QStringList{head, QStringLiteral("/opt/td/bin/tallowdesk-server stopped at once."),
                           QStringLiteral("Address already in use"), bus}
            << 0;
        QTest::newRow("program runs but never answers")
            << true << false << false
            << QStringList{head,
                           QStringLiteral("nothing answered on localhost:48443 within 20 seconds."),
                           bus}
            << LocalServiceStarter::kWaitMs;
    }
    void failures() {
        QFETCH(bool, programExists);
        QFETCH(bool, launchFails);
        QFETCH(bool, programDies);
        QFETCH(QStringList, messageParts);
        QFETCH(int, maxSleptMs);

        FakeMachine machine;
        machine.programExists = programExists;
        machine.launchFails = launchFails;
        machine.programDies = programDies;
        const auto result =
            LocalServiceStarter(machine.Dependencies()).EnsureRunning(HostsFor("localhost:48443"));
        QCOMPARE(result.outcome, Outcome::Failed);
        for (const QString& part : messageParts)
            QVERIFY2(result.message.contains(part), qPrintable(result.message));
        QVERIFY(machine.sleptMs <= maxSleptMs);
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(LocalServiceStarterTest)
#include "LocalServiceStarterTest.moc"
