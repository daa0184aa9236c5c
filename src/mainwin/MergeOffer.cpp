#include "mainwin/MergeOffer.h"

#include "state/Variables.h"

#include <QApplication>
#include <QMessageBox>
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

void OfferResultsMerges(QWidget* parent) {
    for (const std::string& name : OtherResultsFiles(".")) {
        QMessageBox box(QMessageBox::Question, QApplication::applicationName(), MergeQuestion(name),
                        QMessageBox::Yes | QMessageBox::No, parent);
        // A file name is the stranger's text: never read as markup.
        box.setTextFormat(Qt::PlainText);
        box.setObjectName("MergeQuestion");
        if (box.exec() != QMessageBox::Yes)
            continue;
        ResultsFileLock lock;
        LoadResults(name);
        SaveResults();
    }
}
