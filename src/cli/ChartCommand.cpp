#include "cli/ChartCommand.h"

#include "chart/ChartPicture.h"
#include "cli/Messages.h"
#include "cli/WindowlessStartUp.h"
#include "render/DirectXGraphics.h"
#include "state/Variables.h"

#include <QLocale>
#include <cstdio>

std::optional<TChartSelection> ChartSelectionFor(const TCommandLineOptions& options,
                                                 int currentComputer, int computerCount,
                                                 QString* error) {
    TChartSelection selection;
    const TAcceleration accel = options.Acceleration.value_or(TAcceleration::Any);
    if (options.ChartView != TChartView::All && accel != TAcceleration::Any) {
        *error = QStringLiteral("--accel: only the chart of all computers is filtered by the "
                                "kind of acceleration");
        return std::nullopt;
    }
    switch (options.ChartView) {
    case TChartView::All:
        selection.ComputerView = 0;
        selection.Acceleration = accel == TAcceleration::Hw          ? 1
                                 : accel == TAcceleration::Sw        ? 2
                                 : accel == TAcceleration::Emulation ? 3
                                                                     : 0;
        break;
    case TChartView::Current:
        selection.ComputerView = 1;
        selection.ComputerIndex = currentComputer;
        break;
    case TChartView::Computer:
        if (options.ChartComputer < 1 || options.ChartComputer > computerCount) {
            *error = QStringLiteral("--view: there is no computer %1; the results file holds %2")
                         .arg(options.ChartComputer)
                         .arg(computerCount);
            return std::nullopt;
        }
        selection.ComputerView = 2;
        selection.ComputerIndex = options.ChartComputer - 1;
        break;
    }
    return selection;
}

std::optional<TChartLayout> ChartLayoutRows(const TChartLayout& layout, int first, int count,
                                            QString* error) {
    if (layout.Selection.ComputerView != 0) {
        *error = QStringLiteral("--rows: only the chart of all computers has entries to pick");
        return std::nullopt;
    }
    const auto entries = static_cast<long long>(layout.Entries.size());
    if (first < 1 || count < 1 || first > entries) {
        *error = QStringLiteral("--rows: the chart has %1 entries; %2:%3 picks none of them")
                     .arg(entries)
                     .arg(first)
                     .arg(count);
        return std::nullopt;
    }
    TChartLayout part = layout;
    const auto begin = layout.Entries.begin() + (first - 1);
    const auto end = layout.Entries.begin() + std::min<long long>(entries, first - 1LL + count);
    part.Entries.assign(begin, end);
    part.Height = ChartHeight(part);
    return part;
}

int RunChartCommand(const TCommandLineOptions& options) {
    const TWindowlessStartUp startUp = StartUpWithoutWindows(options.ResultsFile, false);
    FreeDirect3DLibrary();
    for (const QString& message : startUp.Messages)
        Say(message);
    if (!startUp.Loaded)
        return 2;

    QString error;
    const std::optional<TChartSelection> selection = ChartSelectionFor(
        options, CurrentComputerIndex, static_cast<int>(Computers.size()), &error);
    if (!selection) {
        Say(error);
        return 2;
    }
    std::optional<TChartLayout> layout = MakeChartLayout(*selection);
    if (options.ChartRows) {
        layout =
            ChartLayoutRows(*layout, options.ChartRows->first, options.ChartRows->second, &error);
        if (!layout) {
            Say(error);
            return 2;
        }
    }
    TPictureFailure failure;
    if (!SaveChartPicture(*layout, options.ChartFile, QLocale().decimalPoint(), &failure)) {
        Say(PictureFailureMessage(failure, options.ChartFile, layout->Height));
        return 1;
    }
    return 0;
}
