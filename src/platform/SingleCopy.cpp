#include "platform/SingleCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <unistd.h>

namespace {

constexpr int ConnectTimeoutMs = 1000;
constexpr QByteArrayView ActivateMessage = "activate\n";

// Whether a copy answers on that name; if so and askToComeForward, asks it to come to the
// front.
bool AskRunningCopy(const QString& name, bool askToComeForward) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    if (askToComeForward) {
        socket.write(ActivateMessage.data(), ActivateMessage.size());
        socket.waitForBytesWritten(ConnectTimeoutMs);
    }
    socket.disconnectFromServer();
    return true;
}

} // namespace

SingleCopy::SingleCopy(const QString& title, QObject* parent)
    : QObject(parent), name_(SocketName(title)) {}

SingleCopy::~SingleCopy() = default;

QString SingleCopy::SocketName(const QString& title) {
    // A digest keeps the socket path short and plain ASCII whatever the title holds.
    const QByteArray digest =
        QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("stendograph-%1-%2")
        .arg(QString::fromLatin1(digest))
        .arg(static_cast<qulonglong>(getuid()));
}

bool SingleCopy::Claim(bool askToComeForward) {
    // Two copies started at once must not both find no server and both listen: the check and
    // the listening happen under a lock file, which QLockFile frees itself when its owner died.
    QLockFile startLock(QDir::temp().filePath(name_ + ".lock"));
    startLock.lock();
    if (AskRunningCopy(name_, askToComeForward))
        return false;
    // Nobody answers: any socket file of that name was left by a copy that ended without
    // closing it, and would make listening fail.
    QLocalServer::removeServer(name_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleCopy::AcceptConnections);
    server_->listen(name_);
    return true;
}

void SingleCopy::AcceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The later copy may have written and gone before the connection is taken here.
        const auto read = [this, socket] {
            if (socket->readAll().contains("activate"))
                emit ActivationRequested();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        if (socket->bytesAvailable() > 0)
            read();
    }
}
