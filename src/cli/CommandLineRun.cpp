#include "cli/CommandLineRun.h"

#include "cli/ChartCommand.h"
#include "cli/CommunityCommands.h"
#include "cli/Messages.h"
#include "cli/ResultsExport.h"
#include "cli/SeriesCommand.h"
#include "cli/StandardOutput.h"
#include "platform/LeakSuppressions.h"
#include "render/DirectXGraphics.h"

#include <QApplication>
#include <cstdio>
#include <dlfcn.h>

namespace {

// The version, and which runtime library this copy loads, so that an installation can be
// checked without starting a pass.
int ShowVersion() {
    WriteStandardOutput(CommandLineVersionText().toUtf8());
    LoadDirect3DLibrary();
    const std::string path = Direct3DLibraryPath();
    if (path.empty())
        WriteStandardOutput(QByteArrayLiteral("Direct3D 8 runtime: not found\n"));
    else if (dlsym(Direct3DLibraryHandle(), Direct3DCreate8Symbol) != nullptr)
        WriteStandardOutput(QByteArrayLiteral("Direct3D 8 runtime: ") + QByteArray(path.c_str()) +
                            '\n');
    else
        WriteStandardOutput(QByteArrayLiteral("Direct3D 8 runtime: ") + QByteArray(path.c_str()) +
                            " (without Direct3DCreate8)\n");
    FreeDirect3DLibrary();
    return 0;
}

int RunMode(const TCommandLineOptions& options, int argc, char** argv) {
    switch (options.Mode) {
    case TCommandMode::Help:
        WriteStandardOutput(CommandLineHelpText().toUtf8());
        return 0;
    case TCommandMode::Version:
        return ShowVersion();
    case TCommandMode::Export: {
        QCoreApplication application(argc, argv);
        const TExportOutcome outcome = ExportResultsFile(options.ResultsFile, options.ExportFormat);
        WriteStandardOutput(outcome.Output);
        for (const QString& message : outcome.Messages)
            Say(message);
        return outcome.ExitStatus;
    }
    case TCommandMode::Run: {
        QApplication application(argc, argv);
        const int status = RunSeriesCommand(options);
        KeepGraphicsDriversForLeakCheck();
        return status;
    }
    case TCommandMode::Chart: {
        // The chart's fonts and the display-mode marks need the toolkit's screen and fonts.
        QApplication application(argc, argv);
        return RunChartCommand(options);
    }
    case TCommandMode::Publish: {
        QCoreApplication application(argc, argv);
        return RunPublishCommand(options);
    }
    case TCommandMode::Fetch: {
        QCoreApplication application(argc, argv);
        return RunFetchCommand(options);
    }
    case TCommandMode::Windows:
        break;
    }
    return 2;
}

} // namespace

int RunCommandLine(const TCommandLineOptions& options, int argc, char** argv) {
    const WindowlessFileAnswers answers;
    const int status = RunMode(options, argc, argv);
    // Output that did not reach its file is a failure, whatever else went well.
    const QString lost = CloseStandardOutput();
    if (lost.isEmpty())
        return status;
    Say(QStringLiteral("the output could not be written: %1").arg(lost));
    return status == 0 ? 1 : status;
}
