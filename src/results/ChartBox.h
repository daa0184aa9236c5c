// The scroll box of the results window: shows the chart of a layout, painting only the rows in
// view, with a vertical range of the chart's whole height.
#pragma once

#include "chart/StoreChart.h"

#include <QAbstractScrollArea>
#include <QImage>

class TChartBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TChartBox(QWidget* parent = nullptr);

    // Shows the chart of layout from its top.
    void SetLayout(TChartLayout layout);
    const TChartLayout& Layout() const { return layout_; }
    // The chart row at the top of the view.
    int FirstRow() const;

signals:
    // The user asked for the chart's context menu (right button or the menu key), at that
    // point of the screen.
    void ContextMenuRequested(const QPoint& globalPosition);

protected:
    // The scroll area takes its viewport's context-menu events itself: the menu is asked for
    // here, never on the viewport.
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateRange();

    TChartLayout layout_;
    QImage band_; // the rows in view, reused from paint to paint
};
