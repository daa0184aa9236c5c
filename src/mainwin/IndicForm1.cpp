#include "mainwin/IndicForm1.h"

TIndicForm* IndicForm = nullptr;

TIndicForm::TIndicForm(QWidget* parent) : QDialog(parent) {
    setObjectName("IndicForm");
    setWindowTitle("Подождите, пожалуйста");
    setFixedSize(266, 75);
    // A dialog frame without any border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}
