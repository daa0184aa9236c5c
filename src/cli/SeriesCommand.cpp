#include "cli/SeriesCommand.h"

#include "bench/FrameTimes.h"
#include "cli/Messages.h"
#include "cli/ResultsExport.h"
#include "cli/StandardOutput.h"
#include "cli/WindowlessStartUp.h"
#include "platform/Priority.h"
#include "platform/ScreenSaver.h"
#include "platform/SingleCopy.h"
#include "render/DirectXGraphics.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

// The series' acceleration named by --accel; TAcceleration::Any names none and is refused
// when the command line is parsed.
TAccelerationChoice ChoiceOf(TAcceleration acceleration) {
    switch (acceleration) {
    case TAcceleration::HwAndSw:
        return TAccelerationChoice::HwAndSw;
    case TAcceleration::Hw:
        return TAccelerationChoice::Hw;
    case TAcceleration::Sw:
        return TAccelerationChoice::Sw;
    case TAcceleration::Emulation:
    case TAcceleration::Any:
        break;
    }
    return TAccelerationChoice::Emulation;
}

// One line for a recorded pass: the computer and the stored result as --export json gives
// them, and the figures of the pass's frame times that the record cannot hold.
QByteArray PassLine(const TPassOutcome& pass) {
    const auto computer = static_cast<std::size_t>(CurrentComputerIndex);
    const TResultRecord& result = pass.Result;
    QJsonObject line =
        ExportJsonRow(computer + 1, Computers[computer], ComputerDevices[computer], &result);
    const TFrameTimeFigures figures = FrameTimeFigures(pass.FrameTimes.Times());
    line.insert("device", result.HardwareDevice != 0 ? "hal" : "ref");
    line.insert("vertex_processing",
                result.HardwareVertexProcessing != 0 ? "hardware" : "software");
    line.insert("frames_timed", static_cast<qint64>(figures.Frames));
    line.insert("frames_not_timed", static_cast<qint64>(pass.FrameTimes.Dropped()));
    line.insert("frame_time_p50_ms", figures.P50Ms);
    line.insert("frame_time_p90_ms", figures.P90Ms);
    line.insert("frame_time_p99_ms", figures.P99Ms);
    line.insert("low_1_percent_fps", figures.Low1PercentFps);
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

std::optional<SeriesChoice> SeriesChoiceFor(const TCommandLineOptions& options,
                                            const TModeAvailability& available,
                                            const std::vector<TAccelerationChoice>& offered,
                                            QString* error) {
    SeriesChoice choice;
    choice.Presentation = options.Presentation;
    int box = 0;
    for (int mode = 0; mode < ModeSizeCount; ++mode) {
        for (int depth = 0; depth < ModeDepthCount; ++depth) {
            const bool chosen = options.ModeChosen[mode][depth];
            if (available[mode][depth] == 0) {
                if (chosen && !options.AllModes) {
                    *error = QStringLiteral("the display does not accept %1x%2x%3")
                                 .arg(ModeSizes[mode].Width)
                                 .arg(ModeSizes[mode].Height)
                                 .arg(ModeDepths[depth]);
                    return std::nullopt;
                }
                continue;
            }
            choice.Ticked[static_cast<std::size_t>(box++)] = chosen;
        }
    }

    if (offered.empty()) {
        *error = QStringLiteral("Direct3D 8 is missing on this computer: no series can run");
        return std::nullopt;
    }
    choice.AccelerationItem = 0; // the window's first item, as it starts
    if (options.Acceleration) {
        const TAccelerationChoice wanted = ChoiceOf(*options.Acceleration);
        choice.AccelerationItem = -1;
        QStringList words;
        for (std::size_t i = 0; i < offered.size(); ++i) {
            words.append(QString::fromLatin1(AccelerationWord(offered[i])));
            if (offered[i] == wanted)
                choice.AccelerationItem = static_cast<int>(i);
        }
        if (choice.AccelerationItem < 0) {
            *error = QStringLiteral("this computer does not offer %1; it offers: %2")
                         .arg(QString::fromLatin1(AccelerationWord(wanted)),
                              words.join(QStringLiteral(", ")));
            return std::nullopt;
        }
    }
    return choice;
}

int RunSeriesCommand(const TCommandLineOptions& options) {
    // A series rewrites Results.bin of its folder, as the window does there.
    const QFileInfo results(options.ResultsFile);
    if (results.fileName() != QLatin1String(ResultsFileName)) {
        Say(QStringLiteral("--results: a series keeps its results in a file named Results.bin"));
        return 2;
    }
    if (!QDir::setCurrent(results.absolutePath())) {
        Say(QStringLiteral("--results: cannot work in %1").arg(results.absolutePath()));
        return 2;
    }

    SingleCopy copy(QString::fromUtf8(RunningCopyTitle), TCopyRole::Series);
    switch (copy.Claim(false)) {
    case TClaimResult::First:
        break;
    case TClaimResult::WindowRuns:
    case TClaimResult::WindowInSeries:
        Say(QStringLiteral("the program's window is open; close it first"));
        return 3;
    case TClaimResult::SeriesRuns:
        Say(QStringLiteral("another series of the command line is running; wait for its end"));
        return 3;
    case TClaimResult::NotSetUp:
        Say(QStringLiteral("cannot tell whether another copy of the program runs (%1); "
                           "going on all the same")
                .arg(copy.FailureReason()));
        break;
    }
    SetHighPriority();

    const TWindowlessStartUp startUp =
        StartUpWithoutWindows(QString::fromLatin1(ResultsFileName), true);
    for (const QString& message : startUp.Messages)
        Say(message);
    QString error;
    const std::optional<SeriesChoice> choice =
        startUp.Loaded
            ? SeriesChoiceFor(options, ModeAvailable,
                              AccelerationChoices(CurrentComputer, Direct3DMissing), &error)
            : std::nullopt;
    if (!choice) {
        if (!error.isEmpty())
            Say(error);
        FreeDirect3DLibrary();
        return 2;
    }

    TSeriesSeams seams;
    seams.RunPass = [] {
        const TPassOutcome pass = RunTestScreenPass();
        if (pass.Recorded) {
            // A line that cannot be written ends the command with a failure; the series and
            // its save go on.
            WriteStandardOutput(PassLine(pass));
        }
    };
    seams.ScreenSaver = SetScreenSaverActive;
    const TSeriesOutcome outcome = RunSeries(*choice, seams);
    FreeDirect3DLibrary();
    if (outcome.Failed)
        Say(StatusText == PassStoppedText ? QStringLiteral("the series was stopped with Esc")
                                          : QString::fromStdString(StatusText));
    if (!outcome.Save.Saved) {
        Say(QStringLiteral("the results of this series were measured but not saved: %1")
                .arg(SaveFailureMessage(outcome.Save)));
        return 4;
    }
    if (!outcome.Save.KeptAs.empty())
        Say(KeptFileMessage(outcome.Save));
    return outcome.Failed ? 1 : 0;
}
