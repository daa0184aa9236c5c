#include "platform/Cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace {

int Hidden = 0;

} // namespace

void ShowCursor(bool show) {
    if (!show) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
        ++Hidden;
    } else if (Hidden > 0) {
        QGuiApplication::restoreOverrideCursor();
        --Hidden;
    }
}
