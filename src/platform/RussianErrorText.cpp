#include "platform/RussianErrorText.h"

#include "platform/FileReplacement.h"

#include <cerrno>

std::string RussianErrorText(int errorNumber) {
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return "доступ запрещён";
    case EROFS:
        return "диск доступен только для чтения";
    case ENOSPC:
    case EDQUOT:
        return "на диске нет места";
    case EFBIG:
        return "файл превысил наибольший допустимый размер";
    case ENOENT:
        return "нет такого файла или папки";
    case ENOTDIR:
        return "часть пути — не папка";
    case EEXIST:
        return "имя уже занято";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case ELOOP:
        return "слишком много символических ссылок";
    case EIO:
        return "ошибка ввода-вывода";
    case ENOMEM:
        return "не хватило памяти";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    default:
        return SystemErrorText(errorNumber);
    }
}
