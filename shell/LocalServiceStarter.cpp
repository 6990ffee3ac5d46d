#include "LocalServiceStarter.h"

#include <signal.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include "settings/ConfigFile.h"

namespace tallowdesk::shell {

namespace {

QString Endpoint(const QString& host, int port) {
    return host + QLatin1Char(':') + QString::number(port);
}

QString NotRunning(const QString& host, int port) {
    return QCoreApplication::translate(
               "LocalServiceStarter",
               "The local document service on %1 is not running and could not be started.")
        .arg(Endpoint(host, port));
}

// What systemd said, as one more paragraph of a failure message.
QString UnitNote(const QString& unitFailure) {
    if (unitFailure.isEmpty()) return {};
    return QCoreApplication::translate("LocalServiceStarter",
                                       "\n\nStarting it through systemd failed too: ") +
           unitFailure;
}

bool ProcessAlive(qint64 pid) {
    // A process that ended but is not reaped yet still answers kill(0); its
    // state in /proc tells.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const auto close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size()) return ::kill(static_cast<pid_t>(pid), 0) == 0;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

QString LogTail(const QString& path) {
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly)) return {};
    constexpr qint64 kTail = 4096;
    if (log.size() > kTail) log.seek(log.size() - kTail);
    QStringList lines =
        QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    while (lines.size() > 6) lines.removeFirst();
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

LocalServiceStarter::LocalServiceStarter(Dependencies deps) : m_deps(std::move(deps)) {}

std::optional<std::pair<QString, int>> LocalServiceStarter::LocalEndpoint(
    const std::string& hostPort) {
    const QString text = QString::fromStdString(hostPort).trimmed();
    const auto colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) return std::nullopt;
    QString host = text.left(colon).toLower();
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (!ok || port <= 0 || port > 65535) return std::nullopt;
    if (host == QLatin1String("[::1]")) host = QStringLiteral("::1");
    if (host != QLatin1String("localhost") && host != QLatin1String("127.0.0.1") &&
        host != QLatin1String("::1"))
        return std::nullopt;
    return std::make_pair(host, port);
}

LocalServiceStarter::Result LocalServiceStarter::EnsureRunning(const ServiceHosts& hosts) const {
    const auto endpoint = LocalEndpoint(hosts.docsHost);
    if (!endpoint) return {Outcome::NotLocal, {}, std::nullopt};
    const auto& [host, port] = *endpoint;
    if (m_deps.probe(host, port)) return {Outcome::AlreadyRunning, {}, std::nullopt};

    // The packaged unit serves the default port only; a port of the user's
    // own choosing gets the program started with that port.
    QString unitFailure;
    if (port == kDefaultLocalPort) {
        const CommandResult started =
            m_deps.run(QStringLiteral("systemctl"),
                       {QStringLiteral("--user"), QStringLiteral("start"), kUnitName});
        if (started.exitCode == 0) {
            if (WaitForPort(host, port, std::nullopt))
                return {Outcome::StartedByUnit, {}, std::nullopt};
            unitFailure =
                QCoreApplication::translate("LocalServiceStarter",
                                            "the unit %1 started, but nothing answered on %2.")
                    .arg(kUnitName, Endpoint(host, port));
        } else {
            unitFailure = started.output.trimmed();
            if (unitFailure.isEmpty())
                unitFailure =
                    QCoreApplication::translate("LocalServiceStarter",
                                                "systemctl --user start %1 did not succeed.")
                        .arg(kUnitName);
        }
    }
    return StartProgram(host, port, unitFailure);
}

LocalServiceStarter::Result LocalServiceStarter::StartProgram(const QString& host, int port,
                                                              const QString& unitFailure) const {
    const QString program = m_deps.programDir + QStringLiteral("/tallowdesk-server");
    if (!m_deps.isExecutable(program)) {
        return {
            Outcome::Failed,
            NotRunning(host, port) +
                QCoreApplication::translate("LocalServiceStarter", "\n\nThe program %1 is missing.")
                    .arg(program) +
                UnitNote(unitFailure),
            std::nullopt};
    }
    const QString log = m_deps.dataDir + QStringLiteral("/server.log");
    const QStringList args{QStringLiteral("--port"), QString::number(port),
                           QStringLiteral("--data-dir"), m_deps.dataDir};
    const Launch launch = m_deps.startDetached(program, args, log);
    if (!launch.pid) {
        return {Outcome::Failed,
                NotRunning(host, port) +
                    QCoreApplication::translate("LocalServiceStarter",
                                                "\n\n%1 could not be started: %2")
                        .arg(program, launch.error) +
                    UnitNote(unitFailure),
                std::nullopt};
    }
    if (WaitForPort(host, port, launch.pid)) return {Outcome::StartedProgram, {}, launch.pid};

    QString detail;
    if (m_deps.isAlive(*launch.pid)) {
        detail =
            QCoreApplication::translate("LocalServiceStarter",
                                        "%1 runs, but nothing answered on %2 within %3 seconds.")
                .arg(program, Endpoint(host, port))
                .arg(kWaitMs / 1000);
    } else {
        detail =
            QCoreApplication::translate("LocalServiceStarter", "%1 stopped at once.").arg(program);
    }
    const QString tail = m_deps.readLogTail(log);
    if (!tail.isEmpty())
        detail += QCoreApplication::translate("LocalServiceStarter", " Its last words (%1):\n%2")
                      .arg(log, tail);
    return {Outcome::Failed,
            NotRunning(host, port) + QStringLiteral("\n\n") + detail + UnitNote(unitFailure),
            launch.pid};
}

bool LocalServiceStarter::WaitForPort(const QString& host, int port,
                                      std::optional<qint64> pid) const {
    for (int waited = 0; waited < kWaitMs; waited += kStepMs) {
        if (m_deps.probe(host, port)) return true;
        if (pid && !m_deps.isAlive(*pid)) return m_deps.probe(host, port);
        m_deps.sleep(kStepMs);
    }
    return m_deps.probe(host, port);
}

LocalServiceStarter::Dependencies LocalServiceStarter::SystemDependencies() {
    Dependencies deps;
    deps.probe = [](const QString& host, int port) {
        QTcpSocket socket;
        socket.connectToHost(host, static_cast<quint16>(port));
        return socket.waitForConnected(500);
    };
    deps.run = [](const QString& program, const QStringList& args) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
        if (!process.waitForStarted(5000)) return CommandResult{-1, process.errorString()};
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(1000);
            return CommandResult{
                -1, QCoreApplication::translate("LocalServiceStarter", "%1 did not finish in time.")
                        .arg(program)};
        }
        const QString output = QString::fromLocal8Bit(process.readAll());
        return CommandResult{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                             output};
    };
    deps.startDetached = [](const QString& program, const QStringList& args,
                            const QString& logFile) {
        Launch launch;
        if (!QDir().mkpath(QFileInfo(logFile).absolutePath())) {
            launch.error = QCoreApplication::translate("LocalServiceStarter",
                                                       "the folder of %1 cannot be created.")
                               .arg(logFile);
            return launch;
        }
        QProcess process;
        process.setProgram(program);
        process.setArguments(args);
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(logFile, QIODevice::Append);
        process.setStandardErrorFile(logFile, QIODevice::Append);
        qint64 pid = 0;
        if (process.startDetached(&pid) && pid > 0) {
            launch.pid = pid;
        } else {
            launch.error = process.errorString();
        }
        return launch;
    };
    deps.isAlive = ProcessAlive;
    deps.readLogTail = LogTail;
    deps.isExecutable = [](const QString& path) {
        const QFileInfo info(path);
        return info.isFile() && info.isExecutable();
    };
    deps.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    deps.programDir = QCoreApplication::applicationDirPath();
    deps.dataDir = QString::fromStdString(DefaultServerDataDir());
    return deps;
}

void EnsureLocalService(QWidget* parent) {
    const ServiceHosts hosts = ConfigFile().GetServiceHosts();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const LocalServiceStarter::Result result =
        LocalServiceStarter(LocalServiceStarter::SystemDependencies()).EnsureRunning(hosts);
    QApplication::restoreOverrideCursor();
    if (result.outcome == LocalServiceStarter::Outcome::Failed)
        QMessageBox::warning(parent, QStringLiteral("Tallowdesk"), result.message);
}

}  // namespace tallowdesk::shell
