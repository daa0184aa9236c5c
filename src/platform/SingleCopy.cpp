#include "platform/SingleCopy.h"

#include "platform/FileReplacement.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ConnectTimeoutMs = 1000;
// A running copy answers at once unless it is busy measuring the clock at its start, which
// takes about three seconds, or setting up a pass.
constexpr int AnswerTimeoutMs = 8000;
// Another copy holds the start lock only while it looks for a running copy itself.
constexpr int StartLockWaitMs = AnswerTimeoutMs + 4000;
constexpr QByteArrayView ActivateMessage = "activate\n";
constexpr QByteArrayView QueryMessage = "query\n";
constexpr QByteArrayView WindowAnswer = "window\n";
constexpr QByteArrayView BusyWindowAnswer = "window-in-series\n";
constexpr QByteArrayView SeriesAnswer = "series\n";

// Whether path is a folder of this user's that no one else may enter; if not, why.
bool IsPrivateFolder(const QByteArray& path, TSingleCopyFailure* why) {
    using TFault = TSingleCopyFailure::TFault;
    *why = {TSingleCopyFailure::TStep::CheckFolder, TFault::None, QFile::decodeName(path), 0, {}};
    struct stat info {};
    if (lstat(path.constData(), &info) != 0) {
        why->Errno = errno;
        return false;
    }
    if (!S_ISDIR(info.st_mode))
        why->Fault = TFault::NotAFolder;
    else if (info.st_uid != getuid())
        why->Fault = TFault::OtherUser;
    else if ((info.st_mode & 077) != 0)
        why->Fault = TFault::OthersMayEnter;
    else
        return true;
    return false;
}

// What a copy listening on path is doing; nothing when no copy answers there. When
// askToComeForward, a copy that shows its windows is asked to come to the front (a copy
// running a series ignores the request).
std::optional<TClaimResult> AskRunningCopy(const QString& path, bool askToComeForward) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return std::nullopt;
    // Asked before the answer is read, so that a copy too busy to answer in time still comes
    // to the front once it can.
    const QByteArrayView request = askToComeForward ? ActivateMessage : QueryMessage;
    socket.write(request.data(), request.size());
    socket.waitForBytesWritten(ConnectTimeoutMs);
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
           socket.waitForReadyRead(AnswerTimeoutMs)) {
    }
    // A copy that says nothing in time shows its windows: only those are ever that slow.
    const QByteArray answer = socket.readLine();
    socket.disconnectFromServer();
    if (answer == SeriesAnswer.toByteArray())
        return TClaimResult::SeriesRuns;
    if (answer == BusyWindowAnswer.toByteArray())
        return TClaimResult::WindowInSeries;
    return TClaimResult::WindowRuns;
}

} // namespace

SingleCopy::SingleCopy(const QString& title, TCopyRole role, QObject* parent)
    : QObject(parent), title_(title), role_(role) {}

SingleCopy::~SingleCopy() = default;

QString SingleCopy::PrivateFolder(TSingleCopyFailure* failure) {
    TSingleCopyFailure why;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime)
        if (IsPrivateFolder(runtime, &why))
            return QString::fromLocal8Bit(runtime);

    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/stendograph-" +
                           QByteArray::number(static_cast<qulonglong>(getuid()));
    if (mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
        *failure = {TSingleCopyFailure::TStep::MakeFolder,
                    TSingleCopyFailure::TFault::None,
                    QFile::decodeName(own),
                    errno,
                    {}};
        return {};
    }
    if (!IsPrivateFolder(own, failure))
        return {};
    *failure = {};
    return QFile::decodeName(own);
}

QString SingleCopy::SocketPath(const QString& folder, const QString& title) {
    // A digest keeps the socket path short and plain ASCII whatever the title holds.
    const QByteArray digest =
        QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return folder + QStringLiteral("/stendograph-") + QString::fromLatin1(digest);
}

TClaimResult SingleCopy::Claim(bool askToComeForward) {
    failure_ = {};
    const QString folder = PrivateFolder(&failure_);
    if (folder.isEmpty())
        return TClaimResult::NotSetUp;
    const QString path = SocketPath(folder, title_);

    // Two copies started at once must not both find no server and both listen: the check and
    // the listening happen under a lock file, which QLockFile frees itself when its owner died.
    QLockFile startLock(path + QStringLiteral(".lock"));
    if (!startLock.tryLock(StartLockWaitMs)) {
        failure_ = {TSingleCopyFailure::TStep::Lock,
                    TSingleCopyFailure::TFault::None,
                    startLock.fileName(),
                    0,
                    {}};
        return TClaimResult::NotSetUp;
    }
    if (const std::optional<TClaimResult> running = AskRunningCopy(path, askToComeForward))
        return *running;

    // Nobody answers: any socket file of that name was left by a copy that ended without
    // closing it, and would make listening fail.
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleCopy::AcceptConnections);
    if (!server_->listen(path)) {
        failure_ = {TSingleCopyFailure::TStep::Listen, TSingleCopyFailure::TFault::None, path, 0,
                    server_->errorString()};
        server_.reset();
        return TClaimResult::NotSetUp;
    }
    return TClaimResult::First;
}

QString SingleCopyFailureText(const TSingleCopyFailure& failure) {
    using TStep = TSingleCopyFailure::TStep;
    using TFault = TSingleCopyFailure::TFault;
    const QString system = QString::fromStdString(SystemErrorText(failure.Errno));
    switch (failure.Step) {
    case TStep::None:
        break;
    case TStep::MakeFolder:
        return QStringLiteral("cannot make the folder %1: %2").arg(failure.Path, system);
    case TStep::CheckFolder: {
        const QString why = failure.Fault == TFault::NotAFolder       ? "it is not a folder"
                            : failure.Fault == TFault::OtherUser      ? "it belongs to another user"
                            : failure.Fault == TFault::OthersMayEnter ? "other users may enter it"
                                                                      : system;
        return QStringLiteral("the folder %1 cannot be used: %2").arg(failure.Path, why);
    }
    case TStep::Lock:
        return QStringLiteral("the lock %1 stayed taken").arg(failure.Path);
    case TStep::Listen:
        return QStringLiteral("cannot listen on %1: %2").arg(failure.Path, failure.Detail);
    }
    return {};
}

void SingleCopy::AcceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const QByteArrayView answer = role_ == TCopyRole::Series ? SeriesAnswer
                                      : busy_                    ? BusyWindowAnswer
                                                                 : WindowAnswer;
        socket->write(answer.data(), answer.size());
        // The later copy may have written and gone before the connection is taken here.
        const auto read = [this, socket] {
            if (socket->readAll().contains("activate") && role_ == TCopyRole::Window)
                emit ActivationRequested();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        if (socket->bytesAvailable() > 0)
            read();
    }
}
