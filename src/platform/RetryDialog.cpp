#include "platform/RetryDialog.h"

#include "platform/MessageBox.h"

#include <utility>

namespace {

TRetryAsker& ReplacedAsker() {
    static TRetryAsker asker;
    return asker;
}

TBusyWaiter& ReplacingWaiter() {
    static TBusyWaiter waiter;
    return waiter;
}

constexpr QMessageBox::StandardButtons RetryIgnore = QMessageBox::Retry | QMessageBox::Ignore;

} // namespace

bool AskRetry(const std::string& text) {
    if (const TRetryAsker& asker = ReplacedAsker())
        return asker(text);
    // Ignore is the only way to give up; every other end of the dialog retries.
    return AskUser(nullptr, QMessageBox::Critical, QString::fromStdString(text), RetryIgnore,
                   QMessageBox::Retry, QMessageBox::Ignore) != QMessageBox::Ignore;
}

TRetryAnswer AskRetryWhileBusy(const std::string& text, const std::string& fileName,
                               const std::function<bool()>& attemptNow) {
    if (const TBusyWaiter& waiter = ReplacingWaiter())
        return waiter(fileName, attemptNow) ? TRetryAnswer::Succeeded : TRetryAnswer::Ignore;
    if (const TRetryAsker& asker = ReplacedAsker())
        return asker(text) ? TRetryAnswer::Retry : TRetryAnswer::Ignore;
    bool succeeded = false;
    const QMessageBox::StandardButton answer =
        AskUserUntil(nullptr, QMessageBox::Critical, QString::fromStdString(text), RetryIgnore,
                     QMessageBox::Retry, QMessageBox::Ignore, [&] {
                         succeeded = attemptNow();
                         return succeeded;
                     });
    if (succeeded)
        return TRetryAnswer::Succeeded;
    return answer == QMessageBox::Ignore ? TRetryAnswer::Ignore : TRetryAnswer::Retry;
}

TRetryAsker SetRetryAsker(TRetryAsker asker) {
    return std::exchange(ReplacedAsker(), std::move(asker));
}

TBusyWaiter SetBusyWaiter(TBusyWaiter waiter) {
    return std::exchange(ReplacingWaiter(), std::move(waiter));
}
