#pragma once

#include <QDialog>

// The results window: compares the stored computers as a bar chart.
class TVideoResults : public QDialog {
    Q_OBJECT
public:
    explicit TVideoResults(QWidget* parent = nullptr);
    void FormPaint();

protected:
    void paintEvent(QPaintEvent* event) override;
};

extern TVideoResults* VideoResults;
