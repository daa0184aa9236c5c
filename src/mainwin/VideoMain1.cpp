#include "mainwin/VideoMain1.h"

#include "state/Variables.h"

TVideoMain* VideoMain = nullptr;

TVideoMain::TVideoMain(QWidget* parent) : QWidget(parent) {
    setObjectName("VideoMain");
    setFixedSize(442, 337);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    FormCreate();
}

void TVideoMain::FormCreate() {
    setWindowTitle(QString("Стендограф %1.%2").arg(VersionMajor).arg(VersionMinor));
}
