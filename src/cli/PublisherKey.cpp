#include "cli/PublisherKey.h"

#include "state/Publishing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool IsKey(const QByteArray& text) {
    if (text.size() != 2 * PublisherKeyBytes)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// The key in an existing file; errno ENOENT in *missing when there is no file.
TPublisherKey ReadKey(const QString& keyFile, bool* missing) {
    *missing = false;
    const int fd = ::open(Native(keyFile).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *missing = errno == ENOENT;
        return {{}, QStringLiteral("%1 cannot be read: %2").arg(keyFile, SystemError(errno))};
    }
    struct stat status {};
    TPublisherKey key;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        key.Error = QStringLiteral("%1 is not a file of this user; move it away, and a new key "
                                   "is made")
                        .arg(keyFile);
    } else if ((status.st_mode & 077) != 0) {
        key.Error = QStringLiteral("%1 may be read by others, and whoever reads it may publish "
                                   "as you; make it yours alone with chmod 600 %1")
                        .arg(keyFile);
    } else {
        char bytes[4 * PublisherKeyBytes];
        const ssize_t got = ::read(fd, bytes, sizeof bytes);
        const QByteArray text =
            QByteArray(bytes, got > 0 ? static_cast<qsizetype>(got) : 0).trimmed();
        if (IsKey(text))
            key.Hex = text.toLower();
        else
            key.Error = QStringLiteral("%1 holds no publisher key (%2 hexadecimal digits)")
                            .arg(keyFile)
                            .arg(2 * PublisherKeyBytes);
    }
    ::close(fd);
    return key;
}

// Writes a new key beside keyFile and links it to that name, which fails when another copy
// was first; the temporary file goes either way. An error text, or empty.
QString MakeKey(const QString& keyFile) {
    const QString folder = QFileInfo(keyFile).absolutePath();
    if (!QDir().mkpath(QFileInfo(folder).absolutePath()) ||
        (::mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST))
        return QStringLiteral("the folder %1 cannot be made: %2").arg(folder, SystemError(errno));
    QByteArray key(PublisherKeyBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(key.data()),
                                          PublisherKeyBytes / sizeof(quint32));
    const QByteArray line = key.toHex() + '\n';

    QByteArray temporary = Native(folder + QStringLiteral("/.publisher-key.XXXXXX"));
    const int fd = mkstemp(temporary.data()); // mode 0600
    if (fd < 0)
        return QStringLiteral("a key cannot be written in %1: %2").arg(folder, SystemError(errno));
    const bool written =
        ::write(fd, line.constData(), static_cast<std::size_t>(line.size())) == line.size() &&
        fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    QString error;
    if (!written)
        error = QStringLiteral("a key cannot be written in %1: %2")
                    .arg(folder, SystemError(writeError));
    else if (::link(temporary.constData(), Native(keyFile).constData()) != 0 && errno != EEXIST)
        error = QStringLiteral("%1 cannot be made: %2").arg(keyFile, SystemError(errno));
    ::unlink(temporary.constData());
    return error;
}

} // namespace

QString PublisherKeyFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Стендограф/publisher-key");
}

TPublisherKey ReadOrMakePublisherKey(const QString& keyFile) {
    bool missing = false;
    TPublisherKey key = ReadKey(keyFile, &missing);
    if (!missing)
        return key;
    if (const QString error = MakeKey(keyFile); !error.isEmpty())
        return {{}, error};
    // This copy's key, or the one another copy linked there a moment before.
    return ReadKey(keyFile, &missing);
}
