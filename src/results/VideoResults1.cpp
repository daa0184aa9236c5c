#include "results/VideoResults1.h"

TVideoResults* VideoResults = nullptr;

TVideoResults::TVideoResults(QWidget* parent) : QDialog(parent) {
    setObjectName("VideoResults");
    setWindowTitle("Результаты тестирований");
    setFixedSize(648, 537);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}
