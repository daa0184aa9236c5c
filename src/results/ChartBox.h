// The scroll box of the results window: shows the chart of a layout, painting only the rows in
// view, with a vertical range of the chart's whole height.
#pragma once

#include "results/ChartLayout.h"

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateRange();

    TChartLayout layout_;
    QImage band_; // the rows in view, reused from paint to paint
};
