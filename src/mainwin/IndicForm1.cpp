#include "mainwin/IndicForm1.h"

#include "state/Variables.h"

#include <QPainter>

TIndicForm* IndicForm = nullptr;

TIndicForm::TIndicForm(QWidget* parent) : QDialog(parent) {
    setObjectName("IndicForm");
    setWindowTitle("Подождите, пожалуйста");
    setFixedSize(266, 75);
    // A dialog frame without any border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

void TIndicForm::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

void TIndicForm::paintEvent(QPaintEvent*) {
    FormPaint();
}
