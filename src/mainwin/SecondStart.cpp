#include "mainwin/SecondStart.h"

#include "platform/RussianErrorText.h"

namespace {

QString SingleCopyReason(const TSingleCopyFailure& failure) {
    using TStep = TSingleCopyFailure::TStep;
    using TFault = TSingleCopyFailure::TFault;
    const QString system = QString::fromStdString(RussianErrorText(failure.Errno));
    switch (failure.Step) {
    case TStep::None:
        break;
    case TStep::MakeFolder:
        return QString("не удалось создать папку %1: %2").arg(failure.Path, system);
    case TStep::CheckFolder:
        switch (failure.Fault) {
        case TFault::NotAFolder:
            return QString("%1 — не папка").arg(failure.Path);
        case TFault::OtherUser:
            return QString("папка %1 принадлежит другому пользователю").arg(failure.Path);
        case TFault::OthersMayEnter:
            return QString("в папку %1 могут входить другие пользователи").arg(failure.Path);
        case TFault::None:
            break;
        }
        return QString("папку %1 не удалось проверить: %2").arg(failure.Path, system);
    case TStep::Lock:
        return QString("файл блокировки %1 так и не освободился").arg(failure.Path);
    case TStep::Listen:
        // The toolkit's own words, in Russian where its translation has them.
        return QString("не удалось открыть сокет %1: %2").arg(failure.Path, failure.Detail);
    }
    return QString("причина неизвестна");
}

} // namespace

QString SeriesRunsText() {
    return QStringLiteral("Сейчас идёт серия тестов, запущенная из командной строки "
                          "(stendograph --run). Дождитесь её окончания, затем запустите "
                          "программу снова.");
}

QString SingleCopyNotSetUpText(const TSingleCopyFailure& failure) {
    return QStringLiteral("Не удалось проверить, не запущена ли уже другая копия программы: ") +
           SingleCopyReason(failure) +
           QStringLiteral(".\r\nПрограмма продолжит работу, но второй её запуск не будет "
                          "замечен.");
}

QString WindowInSeriesLine() {
    return QStringLiteral("stendograph: the program is already running a test series in its "
                          "window; the window comes to the front when the series ends\n");
}
