#include "cli/ResultsExport.h"

#include "state/ResultsFile.h"

#include <QFile>

TExportOutcome ExportResultsFile(const QString& fileName, TExportFormat format) {
    TMergeReport report;
    LoadResults(QFile::encodeName(fileName).toStdString(), &report);

    TExportStore store{std::move(Computers), std::move(ComputerDevices),
                       std::move(ComputerResults)};
    Computers.clear();
    ComputerDevices.clear();
    ComputerResults.clear();

    TExportOutcome outcome;
    outcome.Messages = DescribeMergeReport(fileName, report);
    if (report.Outcome != TMergeOutcome::Merged && report.Outcome != TMergeOutcome::Stopped) {
        outcome.ExitStatus = 2;
        return outcome;
    }
    outcome.Output = format == TExportFormat::Json ? ExportJson(store) : ExportCsv(store);
    return outcome;
}
