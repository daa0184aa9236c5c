// "Сохранить рисунок…" of the chart's menu: the file dialog, the progress of the save with its
// cancel button, and the message that says how the save ended.
#pragma once

#include "chart/ChartModel.h"

class QWidget;

// Asks over parent for a PNG or BMP file and saves the whole picture of layout into it.
void SavePictureWithProgress(QWidget* parent, const TChartLayout& layout);
