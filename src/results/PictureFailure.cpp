#include "results/PictureFailure.h"

QString PictureFailureText(const TPictureFailure& failure, const QString& fileName, int height) {
    if (failure.TooTallForPng)
        return QString("Рисунок высотой %1 пикселей слишком велик для PNG. "
                       "Сохраните его в формате BMP.")
            .arg(height);
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
