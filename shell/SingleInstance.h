#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace tallowdesk::shell {

// One running program per user session: a lock file in the runtime folder
// says who runs, and a local socket next to it lets a second start ask the
// first one to come forward. UI thread.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name distinguishes programs (and tests) sharing the runtime folder.
    explicit SingleInstance(const QString& name = QStringLiteral("tallowdesk"),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first: it then listens for later ones.
    bool Claim();
    // A later process: asks the first one to come forward.
    bool AskFirstToComeForward() const;

signals:
    void ComeForwardRequested();

private:
    QString m_lockPath;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};

}  // namespace tallowdesk::shell
