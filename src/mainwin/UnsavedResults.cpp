#include "mainwin/UnsavedResults.h"

#include "platform/MessageBox.h"

QString SaveAgainQuestion(const TSaveOutcome& lastSave) {
    return QStringLiteral("Результаты тестирований не сохранены в файле Results.bin: ") +
           QString::fromStdString(SaveFailureText(lastSave)) +
           QStringLiteral(".\r\nПовторить сохранение? Если закрыть программу без сохранения, "
                          "эти результаты будут потеряны.");
}

QString SaveAgainFailedText(const TSaveOutcome& save) {
    return QStringLiteral("Результаты снова не удалось сохранить: ") +
           QString::fromStdString(SaveFailureText(save)) +
           QStringLiteral(".\r\nПрограмма остаётся открытой, результаты — в её памяти.");
}

bool OfferToSaveAgain(QWidget* parent, TSaveOutcome& lastSave) {
    const auto answer =
        AskUser(parent, QMessageBox::Warning, SaveAgainQuestion(lastSave),
                QMessageBox::Retry | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Retry,
                QMessageBox::Cancel, QStringLiteral("SaveAgainQuestion"),
                // The toolkit's own caption of Discard ("Отклонить") is not the answer the
                // question and the end-of-series message name.
                {{QMessageBox::Discard, QStringLiteral("Не сохранять")}});
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Retry)
        return false;
    lastSave = MergeAndSaveResults();
    if (!lastSave.Saved) {
        ShowMessage(QMessageBox::Warning, SaveAgainFailedText(lastSave), parent);
        return false;
    }
    if (!lastSave.KeptAs.empty())
        ShowMessage(QMessageBox::Warning, QString::fromStdString(KeptFileText(lastSave)), parent);
    return true;
}
