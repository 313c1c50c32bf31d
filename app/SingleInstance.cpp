#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray showRequest = QByteArrayLiteral("show\n");
const QByteArray quietRequest = QByteArrayLiteral("hidden\n");

} // namespace

SingleInstance::SingleInstance(const QString& configDir, QObject* parent) : QObject(parent)
{
    // Windows' pipes are one name space for all users: the user is part of the name there.
    const QString user = qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER"));
    const QByteArray key =
        QCryptographicHash::hash((user + QLatin1Char('\n') + QDir(configDir).absolutePath()).toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    name = QStringLiteral("quelvane-monitor-") + QString::fromLatin1(key);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(bool showWindow)
{
    // The user's own folder (XDG_RUNTIME_DIR, mode 0700; the user's temporary folder on Windows): nobody
    // else can take the lock or the socket.
#ifdef Q_OS_WIN
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return true;
#ifdef Q_OS_WIN
    address = name;
#else
    address = folder + QLatin1Char('/') + name + QStringLiteral(".socket");
#endif
    lock = std::make_unique<QLockFile>(folder + QLatin1Char('/') + name + QStringLiteral(".lock"));
    // Stale only when its program is gone, however long the running one has been up.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError)
            return true; // nothing tells whether another runs: better two than none
        if (!askRunning(showWindow))
            qWarning("Quelvane Monitor is already running but did not answer.");
        return false;
    }
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket there is one a program that died left behind.
    QLocalServer::removeServer(address);
    if (!server->listen(address))
        qWarning("Later starts cannot reach this one: %s", qPrintable(server->errorString()));
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    return true;
}

bool SingleInstance::askRunning(bool showWindow) const
{
    // The running program may be starting itself and not listen yet.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(address);
        if (socket.waitForConnected(500)) {
            socket.write(showWindow ? showRequest : quietRequest);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    return false;
}

void SingleInstance::onConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine(64) == showRequest)
                emit showRequested();
            socket->disconnectFromServer();
        });
    }
}
