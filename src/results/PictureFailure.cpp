#include "results/PictureFailure.h"

QString PictureFailureText(const TPictureFailure& failure, const QString& fileName, int height) {
    if (failure.TooTallForBmp)
        return QString("Рисунок высотой %1 пикселей слишком велик для BMP. "
                       "Сохраните его в формате PNG.")
            .arg(height);
    if (failure.Cancelled)
        return QString("Сохранение рисунка прервано: файл %1 не записан.").arg(fileName);
    switch (failure.File.Step) {
    case TFileStep::Create:
    case TFileStep::NotAFile:
    case TFileStep::LinkToNothing:
    case TFileStep::WriteProtected:
        return QString("Файл %1 не доступен для записи.").arg(fileName);
    default:
        return QString("Рисунок не удалось записать в файл %1.").arg(fileName);
    }
}

QString PictureSavedText(const QString& fileName) {
    return QString("Рисунок сохранён в файле %1.").arg(fileName);
}
