#include "results/ChartBox.h"

#include "chart/ChartPainter.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

TChartBox::TChartBox(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(14);
    viewport()->setObjectName("Result1");
    viewport()->setAutoFillBackground(false);
    layout_.Height = 0;
}

void TChartBox::SetLayout(TChartLayout layout) {
    layout_ = std::move(layout);
    UpdateRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

int TChartBox::FirstRow() const {
    return verticalScrollBar()->value();
}

void TChartBox::UpdateRange() {
    const int page = viewport()->height();
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, layout_.Height - page));
}

void TChartBox::paintEvent(QPaintEvent*) {
    const QSize size = viewport()->size();
    if (band_.size() != size)
        band_ = QImage(size, QImage::Format_RGB32);
    PaintChartRows(band_, layout_, FirstRow(), QLocale().decimalPoint());
    QPainter painter(viewport());
    painter.drawImage(0, 0, band_);
}

void TChartBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateRange();
}

void TChartBox::keyPressEvent(QKeyEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Home:
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        break;
    case Qt::Key_End:
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TChartBox::scrollContentsBy(int, int) {
    viewport()->update();
}

void TChartBox::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    emit ContextMenuRequested(event->globalPos());
}
