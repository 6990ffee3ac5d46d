#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "settings/ServiceHosts.h"

class QWidget;

namespace tallowdesk::shell {

// Makes sure the local document service answers before the window asks for
// an account, when the settings point at this machine. Tries, in order: the
// service already listening; the packaged systemd user unit
// ("systemctl --user start tallowdesk-server.service"); the tallowdesk-server
// beside the program, started in the background with its data in the user's
// data folder. Waits for the port after each start. Never creates an account.
//
// A plain class: the port probe, the commands and the clock are injected, so
// tests drive every path without a window or a process. Used on the UI
// thread once, before any window shows.
class LocalServiceStarter {
public:
    struct CommandResult {
        int exitCode = -1;  // -1: did not start or did not finish in time
        QString output;     // standard output and error together
    };
    struct Launch {
        std::optional<qint64> pid;  // empty when the program could not be started
        QString error;
    };
    struct Dependencies {
        // True when something accepts connections on host:port.
        std::function<bool(const QString& host, int port)> probe;
        // Runs a program to its end.
        std::function<CommandResult(const QString& program, const QStringList& args)> run;
        // Starts a program in the background, its output appended to logFile.
        std::function<Launch(const QString& program, const QStringList& args,
                             const QString& logFile)>
            startDetached;
        // False once the started process has ended.
        std::function<bool(qint64 pid)> isAlive;
        std::function<QString(const QString& path)> readLogTail;
        std::function<bool(const QString& path)> isExecutable;
        std::function<void(int ms)> sleep;
        QString programDir;  // where tallowdesk-server is looked for
        QString dataDir;     // the service's data folder for the fallback start
    };

    enum class Outcome {
        NotLocal,        // the settings name another machine: nothing to do
        AlreadyRunning,  // the port answered at once
        StartedByUnit,   // systemctl --user started the packaged unit
        StartedProgram,  // tallowdesk-server was started in the background
        Failed,          // see message
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString message;            // for Failed: what failed, in words a user reads
        std::optional<qint64> pid;  // for StartedProgram
    };

    static constexpr int kWaitMs = 20000;  // for the port after a start
    static constexpr int kStepMs = 100;
    static inline const QString kUnitName = QStringLiteral("tallowdesk-server.service");

    explicit LocalServiceStarter(Dependencies deps);

    // The real probe, processes and clock; the program's own folder and the
    // default data folder of the service.
    static Dependencies SystemDependencies();

    Result EnsureRunning(const ServiceHosts& hosts) const;

    // "localhost:48443" -> localhost, 48443 when the host names this machine;
    // empty for any other host or a malformed port.
    static std::optional<std::pair<QString, int>> LocalEndpoint(const std::string& hostPort);

private:
    bool WaitForPort(const QString& host, int port, std::optional<qint64> pid) const;
    Result StartProgram(const QString& host, int port, const QString& unitFailure) const;

    Dependencies m_deps;
};

// The hook at start-up: reads the settings, starts the local service when
// needed and tells the user plainly when it could not. Blocks until the port
// answers or the wait ends.
void EnsureLocalService(QWidget* parent);

}  // namespace tallowdesk::shell
