#include "SingleInstance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace tallowdesk::shell {
namespace {

// sun_path holds 108 bytes with the terminating zero.
constexpr qsizetype kMaxSocketPath = 107;

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    m_lockPath = dir + QLatin1Char('/') + name + QStringLiteral(".lock");
    m_socketPath = dir + QLatin1Char('/') + name + QStringLiteral(".socket");
    if (QFile::encodeName(m_socketPath).size() > kMaxSocketPath) {
        // A deep runtime folder cannot hold a socket: use a short name in
        // Linux's abstract namespace, derived from the folder so that every
        // start with the same folder meets there.
        const QByteArray digest =
            QCryptographicHash::hash(QFile::encodeName(m_socketPath), QCryptographicHash::Sha256)
                .toHex()
                .left(24);
        m_socketPath = QStringLiteral("%1-%2-%3")
                           .arg(name.left(40))
                           .arg(::getuid())
                           .arg(QString::fromLatin1(digest));
        m_abstract = true;
    }
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Claim() {
    m_error.clear();
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // A lock left by a crashed process is taken over (its process is gone).
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    if (!m_abstract) QLocalServer::removeServer(m_socketPath);
    auto server = std::make_unique<QLocalServer>(this);
    server->setSocketOptions(m_abstract ? QLocalServer::AbstractNamespaceOption
                                        : QLocalServer::UserAccessOption);
    if (!server->listen(m_socketPath)) {
        // Without a server a later start could not reach this one: not first.
        m_error = server->errorString();
        m_lock.reset();
        return false;
    }
    m_server = server.release();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit ComeForwardRequested();
        }
    });
    return true;
}

bool SingleInstance::AskFirstToComeForward() const {
    QLocalSocket socket;
    if (m_abstract) socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(2000)) return false;
    socket.write("forward\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

}  // namespace tallowdesk::shell
