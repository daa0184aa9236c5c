#include "results/VideoResults1.h"

#include "state/Variables.h"

#include <QPainter>

TVideoResults* VideoResults = nullptr;

TVideoResults::TVideoResults(QWidget* parent) : QDialog(parent) {
    setObjectName("VideoResults");
    setWindowTitle("Результаты тестирований");
    setFixedSize(648, 537);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

void TVideoResults::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

void TVideoResults::paintEvent(QPaintEvent*) {
    FormPaint();
}
