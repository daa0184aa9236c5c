#pragma once

#include "chart/StoreChart.h"

#include <QDialog>
#include <cstdint>
#include <memory>

namespace Ui {
class VideoResults;
}
class QButtonGroup;
class TChartBox;
class TComputerCombo;

// The selection of the last chart drawn, as item indices of the three selection controls.
extern std::int32_t ShownComputerView;
extern std::int32_t ShownComputerIndex;
extern std::int32_t ShownAcceleration;

// The results window: compares the stored computers as a bar chart, ranked or mode by mode for
// one computer. Created once at start; closing hides it, so the selection survives.
class TVideoResults : public QDialog {
    Q_OBJECT
public:
    explicit TVideoResults(QWidget* parent = nullptr);
    ~TVideoResults() override;

    void FormCreate();
    void FormShow();
    void FormPaint();
    // One handler for a click on either radio group and a change of the computer list.
    void resbitChange();
    void BitBtn2Click();
    // "Сохранить рисунок…" of the chart's menu: asks for a file and saves the whole picture of
    // the selection shown.
    void SavePictureClick();
    // Draws the chart of the selection the controls hold and remembers it as shown.
    void PrintResult();

    // The controls' item indices (ComputerIndex -1 when the list has no selected item).
    TChartSelection ControlSelection() const;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::VideoResults> ui_;
    QButtonGroup* computerGroup_;
    QButtonGroup* accelerationGroup_;
};

extern TVideoResults* VideoResults;
