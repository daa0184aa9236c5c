#include "cli/UserFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

QByteArray FileBytes(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString UserDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString EnterUserFolder(const QString& userFolder, const QString& dataFolder,
                        TCommandLineOptions& options) {
    const QDir started = QDir::current();
    if (options.ResultsFileGiven)
        options.ResultsFile = started.absoluteFilePath(options.ResultsFile);
    if (!options.ChartFile.isEmpty())
        options.ChartFile = started.absoluteFilePath(options.ChartFile);

    if (userFolder.isEmpty() || !QDir().mkpath(userFolder) || !QDir::setCurrent(userFolder))
        return QStringLiteral("cannot use the folder \"%1\" for the results").arg(userFolder);

    // The installed help wins over an older copy; the user's copy is not theirs to edit.
    const QString help = QStringLiteral("Help.html");
    const QString installed = QDir(dataFolder).filePath(help);
    if (QFile::exists(installed) && FileBytes(installed) != FileBytes(help)) {
        QFile::remove(help);
        if (!QFile::copy(installed, help))
            return QStringLiteral("cannot copy \"%1\" into \"%2\"").arg(installed, userFolder);
    }
    return {};
}
