#include "results/ResultSelection.h"

TSelectionDisplay ResultSelectionChange(const TChartSelection& controls,
                                        const TChartSelection& shown, int currentComputer) {
    TSelectionDisplay display{false, controls.ComputerView != 0, controls.ComputerView == 0,
                              controls.ComputerView == 2, controls.ComputerIndex};
    if (controls.ComputerIndex == -1 || controls == shown)
        return display;
    display.Redraw = true;
    if (controls.ComputerView == 1)
        display.ComboIndex = currentComputer;
    return display;
}
