// The program's command line: what was asked for, parsed and checked as a whole before
// anything runs, so that a mistake is reported without a window opening.
#pragma once

#include "state/Variables.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

enum class TCommandMode {
    Windows, // no command-line mode: the program's windows
    Help,
    Version,
    Run,     // --run: a test or presentation series without the main window
    Export,  // --export: the results file as CSV or JSON
    Chart,   // --chart: the results chart as a picture
    Publish, // --publish: the results file to a results server
    Fetch,   // --fetch: the community results file from a results server
};

enum class TExportFormat { Csv, Json };

// The names --accel takes. HwAndSw is a series only; Any a chart only.
enum class TAcceleration { HwAndSw, Hw, Sw, Emulation, Any };

enum class TChartView {
    All,      // the ranking of every computer
    Current,  // this computer, mode by mode
    Computer, // computer ChartComputer of the list, mode by mode
};

struct TCommandLineOptions {
    TCommandMode Mode = TCommandMode::Windows;

    // --results FILE: the results file of --run, --export and --chart. As given (relative names
    // are relative to the folder the command was started in).
    QString ResultsFile = QString::fromLatin1(ResultsFileName);
    bool ResultsFileGiven = false;

    // --run. ModeChosen mirrors the main window's mode ticks: [size index][depth index] of
    // ModeSizes and ModeDepths; --all-modes ticks every one.
    std::array<std::array<bool, 2>, 5> ModeChosen{};
    bool AllModes = false;     // --all-modes: every mode the display accepts, no error for others
    bool Presentation = false; // --presentation: detail 1 instead of the test's 4

    // --run and --chart; not given: the series' or the chart's own default.
    std::optional<TAcceleration> Acceleration;

    // --export
    TExportFormat ExportFormat = TExportFormat::Csv;

    // --chart
    QString ChartFile;
    TChartView ChartView = TChartView::All;
    int ChartComputer = 0; // 1-based number in the computer list, with TChartView::Computer
    // --rows FIRST:COUNT: the entries of the chart from FIRST (1-based), COUNT of them.
    std::optional<std::pair<int, int>> ChartRows;

    // --publish URL and --fetch URL: the results server's address.
    QString ServerUrl;
    // --with-owner of --publish: the computers' owner fields are published too.
    bool PublishOwner = false;
    // --top N of --fetch: the first N computers of the ranking.
    int FetchTop = 100;
};

struct TParsedCommandLine {
    std::optional<TCommandLineOptions> Options; // nothing when the line is wrong
    QString Error;                              // why, one line, when it is
};

// Parses the arguments (the program's name first, as QCoreApplication::arguments gives them).
TParsedCommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help and of --version.
QString CommandLineHelpText();
QString CommandLineVersionText();
