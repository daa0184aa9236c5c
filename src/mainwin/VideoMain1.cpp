#include "mainwin/VideoMain1.h"

#include "state/Variables.h"

#include <QPainter>

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

void TVideoMain::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

void TVideoMain::paintEvent(QPaintEvent*) {
    FormPaint();
}
