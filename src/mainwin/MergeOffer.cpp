#include "mainwin/MergeOffer.h"

#include "platform/MessageBox.h"
#include "state/ResultsFile.h"

#include <QStringList>

#include <algorithm>

QString StartUpReadText(const TMergeReport& report) {
    if (report.TookEverything())
        return {};
    const std::string told = ReadReportText(ResultsFileName, report);
    if (told.empty())
        return {};
    return QString::fromStdString(told) +
           (report.KeptBeforeReplacing()
                ? QStringLiteral("\r\n\r\nПрежде чем записать в Results.bin новые результаты, "
                                 "программа сохранит прежний файл под другим именем, так что "
                                 "непрочитанное не пропадёт.")
                : QString());
}

void LoadResultsAtStart(QWidget* parent) {
    TMergeReport report;
    LoadResults(ResultsFileName, &report);
    const QString text = StartUpReadText(report);
    if (!text.isEmpty())
        ShowMessage(QMessageBox::Warning, text, parent);
}

std::vector<std::string> OtherResultsFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code typeError;
        if (entry.is_directory(typeError))
            continue;
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || name == ResultsFileName)
            continue;
        std::string extension = name.substr(name.size() - 4);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".bin")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QString MergeQuestion(const std::string& fileName) {
    return QStringLiteral("Найден файл '") + QString::fromUtf8(fileName) +
           QStringLiteral("'.\r\nВозможно в нём содержатся результаты других тестирований"
                          "\r\nОбъединить их с текущими результатами?");
}

QString MergeNotSavedText(const std::string& fileName, const TSaveOutcome& save) {
    return QStringLiteral("Результаты из файла '") + QString::fromUtf8(fileName) +
           QStringLiteral("' объединены с текущими, но не сохранены в файле Results.bin: ") +
           QString::fromStdString(SaveFailureText(save)) + QStringLiteral(".");
}

QString MergeOutcomeText(const std::string& fileName, const TMergeReport& read,
                         const TSaveOutcome& save) {
    QStringList parts;
    if (!read.TookEverything())
        if (const std::string told = ReadReportText(fileName, read); !told.empty())
            parts.append(QString::fromStdString(told));
    if (!save.Saved)
        parts.append(MergeNotSavedText(fileName, save));
    else if (!save.KeptAs.empty())
        parts.append(QString::fromStdString(KeptFileText(save)));
    return parts.join(QStringLiteral("\r\n\r\n"));
}

std::optional<TSaveOutcome> OfferResultsMerges(QWidget* parent) {
    std::optional<TSaveOutcome> last;
    for (const std::string& name : OtherResultsFiles(".")) {
        if (AskUser(parent, QMessageBox::Question, MergeQuestion(name),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
                    QMessageBox::NoButton, QStringLiteral("MergeQuestion")) != QMessageBox::Yes)
            continue;
        ResultsFileLock lock;
        TMergeReport read;
        LoadResults(name, &read);
        last = SaveResults();
        if (const QString text = MergeOutcomeText(name, read, *last); !text.isEmpty())
            ShowMessage(QMessageBox::Warning, text, parent);
    }
    return last;
}
