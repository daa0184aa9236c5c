// How the results window answers a change of its three selection controls: whether to redraw,
// and which controls to show, enable and select.
#pragma once

#include "chart/StoreChart.h"

struct TSelectionDisplay {
    bool Redraw; // false: no computer in the list, or the chart already shows this selection
    bool ShowBoxForComputer;
    bool ShowAcceleration;
    bool ComboEnabled;
    int ComboIndex; // the item the computer list is to show
};

// controls: the item indices the controls hold now (ComputerIndex -1 when the list has no
// selected item); shown: those of the last chart drawn.
TSelectionDisplay ResultSelectionChange(const TChartSelection& controls,
                                        const TChartSelection& shown, int currentComputer);
