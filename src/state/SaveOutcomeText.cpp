// What the windows tell the user of a results file read or saved, in their Russian: a save that
// failed or kept a file aside, and what a file that was not taken whole lost.
#include "platform/RussianErrorText.h"
#include "state/ResultsFile.h"
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

std::string Number(std::int64_t n) {
    return std::to_string(n);
}

// Why nothing of a file was taken, as a sentence without its full stop.
std::string IgnoredText(const std::string& file, const TMergeReport& report) {
    switch (report.IgnoredBecause) {
    case TIgnoredBecause::NotAFile:
        return "«" + file + "» — не файл";
    case TIgnoredBecause::TooShort:
        return "Файл «" + file + "» слишком короткий для файла результатов";
    case TIgnoredBecause::OtherVersion:
        return "Файл «" + file + "» записан версией " + Number(report.FileVersionMajor) + "." +
               Number(report.FileVersionMinor) + " программы, а не " + Number(VersionMajor) + "." +
               Number(VersionMinor);
    case TIgnoredBecause::SizeMismatch:
        return "Размер, указанный в файле «" + file +
               "», не совпадает с его настоящим размером: файл обрезан или дополнен";
    case TIgnoredBecause::ReadFailed:
    case TIgnoredBecause::Nothing:
        break;
    }
    return "Файл «" + file + "» не удалось прочитать";
}

// Where the reader stopped and what it read before, as sentences.
std::string StoppedText(const std::string& file, const TMergeReport& report) {
    std::string text = "Файл «" + file + "» повреждён: ";
    if (report.StoppedBecause != TStoppedBecause::ReadFailed)
        text += "блок " + Number(report.StopBlock + 1) + "-го компьютера (с байта " +
                Number(static_cast<std::int64_t>(report.StopOffset)) + ") выходит за конец файла.";
    else
        text += "его не удалось прочитать дальше байта " +
                Number(static_cast<std::int64_t>(report.StopOffset)) + ".";
    return text +
           " Прочитано компьютеров: " + Number(report.BlocksMerged + report.ComputersLeftOut) +
           " из " + Number(report.BlocksDeclared) +
           ", результатов: " + Number(report.ResultsRead() + report.ResultsLeftOut) +
           "; остальные компьютеры (" + Number(report.ComputersNotReached()) +
           ") и их результаты не прочитаны.";
}

} // namespace

std::string ReadReportText(const std::string& file, const TMergeReport& report) {
    std::string text;
    const auto add = [&text](const std::string& sentence) {
        text += (text.empty() ? "" : " ") + sentence;
    };
    switch (report.Outcome) {
    case TMergeOutcome::Missing:
    case TMergeOutcome::NotOpened:
        return {};
    case TMergeOutcome::Ignored:
        return IgnoredText(file, report) + ", из него не взято ничего.";
    case TMergeOutcome::Stopped:
        add(StoppedText(file, report));
        break;
    case TMergeOutcome::Merged:
        if (report.ComputersNotReached() > 0)
            add("В файле «" + file + "» указано компьютеров: " + Number(report.BlocksDeclared) +
                ", а найдено: " + Number(report.BlocksMerged + report.ComputersLeftOut) + ".");
        if (report.BytesLeftUnread > 0)
            add("После последнего компьютера в файле «" + file + "» остались байты: " +
                Number(static_cast<std::int64_t>(report.BytesLeftUnread)) + ", они не прочитаны.");
        break;
    }
    if (report.ComputersLeftOut > 0 || report.ResultsLeftOut > 0) {
        std::string reasons;
        for (const auto& [why, count] : report.LeftOutReasons)
            reasons += (reasons.empty() ? "" : "; ") + std::string(ImplausibleTextRussian(why)) +
                       " (" + Number(count) + ")";
        std::string counts;
        if (report.ComputersLeftOut > 0)
            counts = "компьютеров: " + Number(report.ComputersLeftOut);
        if (report.ResultsLeftOut > 0)
            counts += (counts.empty() ? "" : " и ") + std::string("результатов: ") +
                      Number(report.ResultsLeftOut);
        add("Из файла «" + file + "» не взято " + counts +
            " — это не могут быть измерения: " + reasons + ".");
    }
    return text;
}

std::string SaveFailureText(const TSaveOutcome& outcome) {
    if (outcome.Locked)
        return "файл занят другой копией программы";
    if (outcome.UnreadErrno != 0)
        return WithSystemText("файл Results.bin не удалось прочитать", outcome.UnreadErrno);
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

std::string KeptFileText(const TSaveOutcome& save) {
    const std::string why =
        save.KeptRead != nullptr
            ? ReadReportText(ResultsFileName, *save.KeptRead)
            : "Файл Results.bin изменился после того, как программа его прочитала.";
    return "Прежний файл Results.bin программа не смогла прочитать целиком. " + why +
           "\r\nОн сохранён под именем «" + save.KeptAs +
           "», а результаты записаны в новый файл Results.bin.";
}
