// What a start of the window says when the single-copy rule meets a running copy or cannot be
// set up.
#pragma once

#include "platform/SingleCopy.h"

#include <QString>

// A window started while a copy runs a series from the command line.
QString SeriesRunsText();
// A window whose single-copy rule could not be set up, the reason in the windows' Russian.
QString SingleCopyNotSetUpText(const TSingleCopyFailure& failure);
// The line on standard error of a start while the running copy's window runs a series: no
// window of this copy may cover the series' test screen.
QString WindowInSeriesLine();
