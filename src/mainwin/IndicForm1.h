#pragma once

#include <QDialog>
#include <QTimer>

#include <memory>

class QLabel;
class QProgressBar;
namespace Ui {
class IndicForm;
}

// The progress window: shown modally after every pass of a series, it shows the passes done
// out of the passes planned and closes itself after three ticks of its timer.
class TIndicForm : public QDialog {
    Q_OBJECT
public:
    explicit TIndicForm(QWidget* parent = nullptr);
    ~TIndicForm() override;

    void FormShow();
    void FormPaint();
    void Timer1Timer();

    QLabel* StaticText1 = nullptr;
    QProgressBar* IndicBar = nullptr;
    // 1000 ms, enabled by FormShow; Countdown is the number of ticks left.
    QTimer Timer1;
    int Countdown = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::IndicForm> ui_;
};

extern TIndicForm* IndicForm;
