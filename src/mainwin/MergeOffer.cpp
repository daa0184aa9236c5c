#include "mainwin/MergeOffer.h"

#include "platform/MessageBox.h"

#include <algorithm>

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

std::optional<TSaveOutcome> OfferResultsMerges(QWidget* parent) {
    std::optional<TSaveOutcome> last;
    for (const std::string& name : OtherResultsFiles(".")) {
        if (AskUser(parent, QMessageBox::Question, MergeQuestion(name),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
                    QMessageBox::NoButton, QStringLiteral("MergeQuestion")) != QMessageBox::Yes)
            continue;
        ResultsFileLock lock;
        LoadResults(name);
        last = SaveResults();
        if (!last->Saved)
            ShowMessage(QMessageBox::Warning, MergeNotSavedText(name, *last), parent);
        else if (!last->KeptAs.empty())
            ShowMessage(QMessageBox::Warning, QString::fromStdString(KeptFileText(last->KeptAs)),
                        parent);
    }
    return last;
}
