#include "cli/Messages.h"

#include "platform/Clock.h"
#include "state/RecordColumns.h"

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
    if (outcome.UnreadErrno != 0)
        return QStringLiteral("%1 could not be read (%2), so it was not replaced")
            .arg(file, SystemText(outcome.UnreadErrno));
    return FileFailure(outcome.File, file);
}

QString KeptFileMessage(const TSaveOutcome& save) {
    const QString why = save.KeptRead != nullptr
                            ? SummariseMergeReport(*save.KeptRead)
                            : QStringLiteral("it changed after this copy read it");
    return QStringLiteral("the old %1 could not be read whole (%2): it was kept as %3, and a new "
                          "%1 was written")
        .arg(QString::fromLatin1(ResultsFileName), why, QString::fromStdString(save.KeptAs));
}

QString PictureFailureMessage(const TPictureFailure& failure, const QString& fileName, int height) {
    if (failure.TooTallForBmp)
        return QStringLiteral("the picture is %1 pixels high, too high for BMP; write it as "
                              "PNG (a file name ending in .png)")
            .arg(height);
    return FileFailure(failure.File, fileName);
}

WindowlessFileAnswers::WindowlessFileAnswers()
    : asker_(SetRetryAsker([](const std::string&) { return false; })),
      waiter_(SetBusyWaiter([](const std::string& fileName,
                               const std::function<bool()>& attemptNow) {
          Say(QStringLiteral("%1 is held by another copy of the program; waiting for it (at most "
                             "%2 s)")
                  .arg(QString::fromStdString(fileName))
                  .arg(CopyWaitSeconds));
          const std::uint32_t start = GetTickCount();
          for (;;) {
              if (attemptNow())
                  return true;
              if (GetTickCount() - start > CopyWaitSeconds * 1000u)
                  return false;
              Sleep(100);
          }
      })) {}

WindowlessFileAnswers::~WindowlessFileAnswers() {
    SetBusyWaiter(std::move(waiter_));
    SetRetryAsker(std::move(asker_));
}
