// What the windows tell the user of a save that failed or kept a file aside, in their Russian.
#include "platform/RussianErrorText.h"
#include "state/Variables.h"

#include <cerrno>

namespace {

bool DiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

bool NotAllowed(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// The error after a phrase of ours, for the rarer errors: in Russian where there are words for
// it, in the system's own otherwise.
std::string WithSystemText(const std::string& phrase, int error) {
    return error == 0 ? phrase : phrase + " (" + RussianErrorText(error) + ")";
}

std::string WriteFailureText(int error) {
    if (DiskFull(error))
        return "на диске не хватило места";
    if (error == EFBIG)
        return "файл превысил наибольший допустимый размер";
    if (error == EIO)
        return "ошибка записи на диск";
    return WithSystemText("ошибка записи", error);
}

} // namespace

std::string SaveFailureText(const TSaveOutcome& outcome) {
    if (outcome.Locked)
        return "файл занят другой копией программы";
    if (outcome.TooLarge)
        return "результатов больше, чем может вместить файл";
    const int error = outcome.File.Errno;
    switch (outcome.File.Step) {
    case TFileStep::None:
        break;
    case TFileStep::NotAFile:
        return "под именем Results.bin в папке программы находится не файл";
    case TFileStep::LinkToNothing:
        return "Results.bin — ссылка на файл, которого нет";
    case TFileStep::WriteProtected:
        return "файл Results.bin защищён от записи";
    case TFileStep::Create:
        if (NotAllowed(error))
            return "папка программы защищена от записи";
        if (DiskFull(error))
            return "на диске не хватило места";
        return WithSystemText("не удалось создать файл в папке программы", error);
    case TFileStep::Write:
    case TFileStep::Sync:
        return WriteFailureText(error);
    case TFileStep::Keep:
        return WithSystemText("не удалось сохранить копию прежнего файла Results.bin", error);
    case TFileStep::Rename:
        return WithSystemText("не удалось заменить файл Results.bin", error);
    }
    return "причина неизвестна";
}

std::string KeptFileText(const std::string& keptAs) {
    return "Прежний файл Results.bin программа не смогла прочитать целиком: он повреждён или "
           "записан другой версией программы. Он сохранён под именем «" +
           keptAs + "», а результаты записаны в новый файл Results.bin.";
}
