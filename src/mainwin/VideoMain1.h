#pragma once

#include <QWidget>

// The main window: system identification at start, mode and acceleration choice, launching
// test and presentation series.
class TVideoMain : public QWidget {
    Q_OBJECT
public:
    explicit TVideoMain(QWidget* parent = nullptr);

    // Start-up of the whole program run; called once while the main block creates the window.
    void FormCreate();
    void FormPaint();

protected:
    void paintEvent(QPaintEvent* event) override;
};

extern TVideoMain* VideoMain;
