#include "cli/Messages.h"

#include <cstdio>

namespace {

QString SystemText(int error) {
    return QString::fromStdString(SystemErrorText(error));
}

} // namespace

QString FileFailure(const TFileError& error, const QString& fileName) {
    const QString system = error.Errno != 0 ? SystemText(error.Errno) : QStringLiteral("failed");
    switch (error.Step) {
    case TFileStep::None:
        break;
    case TFileStep::NotAFile:
        return QStringLiteral("%1 is not a regular file").arg(fileName);
    case TFileStep::LinkToNothing:
        return QStringLiteral("%1 is a symbolic link to a file that does not exist").arg(fileName);
    case TFileStep::WriteProtected:
        return QStringLiteral("%1 is write-protected").arg(fileName);
    case TFileStep::Create:
        return QStringLiteral("cannot create a file beside %1: %2").arg(fileName, system);
    case TFileStep::Write:
    case TFileStep::Sync:
        return QStringLiteral("writing %1 failed: %2").arg(fileName, system);
    case TFileStep::Keep:
        return QStringLiteral("cannot keep a copy of the old %1: %2").arg(fileName, system);
    case TFileStep::Rename:
        return QStringLiteral("cannot put the new %1 in place: %2").arg(fileName, system);
    }
    return QStringLiteral("writing %1 failed").arg(fileName);
}

void Say(const QString& line) {
    const QByteArray bytes = QByteArrayLiteral("stendograph: ") + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

QString SaveFailureMessage(const TSaveOutcome& outcome) {
    const QString file = QString::fromLatin1(ResultsFileName);
    if (outcome.Locked)
        return QStringLiteral("%1 is held by another copy of the program").arg(file);
    if (outcome.TooLarge)
        return QStringLiteral("the results are too many for one %1").arg(file);
    return FileFailure(outcome.File, file);
}

QString KeptFileMessage(const std::string& keptAs) {
    return QStringLiteral("the old %1 could not be read whole (it is damaged or of another "
                          "version): it was kept as %2, and a new %1 was written")
        .arg(QString::fromLatin1(ResultsFileName), QString::fromStdString(keptAs));
}

QString PictureFailureMessage(const TPictureFailure& failure, const QString& fileName, int height) {
    if (failure.TooTallForBmp)
        return QStringLiteral("the picture is %1 pixels high, too high for BMP; write it as "
                              "PNG (a file name ending in .png)")
            .arg(height);
    return FileFailure(failure.File, fileName);
}
