#include "platform/RetryDialog.h"

#include "platform/MessageBox.h"

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
    // Ignore is the only way to give up; every other end of the dialog retries.
    return AskUser(nullptr, QMessageBox::Critical, QString::fromStdString(text),
                   QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Retry,
                   QMessageBox::Ignore) != QMessageBox::Ignore;
}

TRetryAsker SetRetryAsker(TRetryAsker asker) {
    return std::exchange(ReplacedAsker(), std::move(asker));
}
