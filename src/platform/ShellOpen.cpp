#include "platform/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <utility>

namespace {

TShellOpener& ReplacedOpener() {
    static TShellOpener opener;
    return opener;
}

} // namespace

void ShellOpen(const std::string& target) {
    if (const TShellOpener& opener = ReplacedOpener()) {
        opener(target);
        return;
    }
    const QString text = QString::fromStdString(target);
    // Two letters or more before the colon: "C:" alone would be a drive, not a scheme.
    static const QRegularExpression scheme("^[A-Za-z][A-Za-z0-9+.-]+:");
    const QUrl url = scheme.match(text).hasMatch()
                         ? QUrl(text)
                         : QUrl::fromLocalFile(QDir::current().absoluteFilePath(text));
    QDesktopServices::openUrl(url);
}

TShellOpener SetShellOpener(TShellOpener opener) {
    return std::exchange(ReplacedOpener(), std::move(opener));
}
