#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace tallowdesk::shell {

// One running program per user session: a lock file in the runtime folder
// says who runs, and a local socket next to it (or, when the folder is too
// deep for a socket path, a short abstract-namespace socket) lets a second
// start ask the first one to come forward. UI thread.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name distinguishes programs (and tests) sharing the runtime folder.
    explicit SingleInstance(const QString& name = QStringLiteral("tallowdesk"),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first and listens for later ones. False
    // when another process holds the lock, or when listening failed (then
    // Error() says why and the lock is released again).
    bool Claim();
    QString Error() const { return m_error; }
    // A later process: asks the first one to come forward.
    bool AskFirstToComeForward() const;

signals:
    void ComeForwardRequested();

private:
    QString m_lockPath;
    QString m_socketPath;
    bool m_abstract = false;  // m_socketPath names an abstract-namespace socket
    QString m_error;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};

}  // namespace tallowdesk::shell
