// --chart FILE.png: the results chart as the results window draws it, by the same code, for
// reports; --rows FIRST:COUNT takes some entries of a tall ranking.
#pragma once

#include "chart/StoreChart.h"
#include "cli/CommandLine.h"

#include <QString>
#include <optional>

// The window's selection for the command's --view and --accel, given this computer's index;
// nothing, with the reason in *error, for a computer number beyond the store or an
// acceleration filter with a one-computer view (the window offers it only for all computers).
std::optional<TChartSelection> ChartSelectionFor(const TCommandLineOptions& options,
                                                 int currentComputer, int computerCount,
                                                 QString* error);

// The layout narrowed to entries first .. first + count - 1 (from 1) of the ranking, with the
// bar scale of the whole ranking, so that each entry looks exactly as in the whole picture;
// nothing, with the reason in *error, when the view is not the ranking or first is beyond it.
std::optional<TChartLayout> ChartLayoutRows(const TChartLayout& layout, int first, int count,
                                            QString* error);

// Identifies this computer as the main window does, reads the results file and writes the
// picture. Needs a QApplication. Returns the exit status.
int RunChartCommand(const TCommandLineOptions& options);
