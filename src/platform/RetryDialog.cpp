#include "platform/RetryDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace {

TRetryAsker& ReplacedAsker() {
    static TRetryAsker asker;
    return asker;
}

} // namespace

bool AskRetry(const std::string& text) {
    if (const TRetryAsker& asker = ReplacedAsker())
        return asker(text);
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(text), QMessageBox::Retry | QMessageBox::Ignore,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Ignore);
    // Ignore is the only way to give up; every other end of the dialog retries.
    return box.exec() != QMessageBox::Ignore;
}

TRetryAsker SetRetryAsker(TRetryAsker asker) {
    return std::exchange(ReplacedAsker(), std::move(asker));
}
