#include "cli/WindowlessStartUp.h"

#include "cli/ResultsExport.h"
#include "render/DirectXGraphics.h"
#include "series/DisplayModes.h"
#include "series/Identification.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QFile>

TWindowlessStartUp StartUpWithoutWindows(const QString& resultsFile, bool missingIsEmpty) {
    TWindowlessStartUp outcome;
    LoadDirect3DLibrary();
    TestDisplayModes();

    TMergeReport report;
    LoadResults(QFile::encodeName(resultsFile).toStdString(), &report);
    if (!(missingIsEmpty && report.Outcome == TMergeOutcome::Missing))
        outcome.Messages = DescribeMergeReport(resultsFile, report);
    outcome.Loaded = report.Outcome == TMergeOutcome::Merged ||
                     report.Outcome == TMergeOutcome::Stopped ||
                     (missingIsEmpty && report.Outcome == TMergeOutcome::Missing);
    if (!outcome.Loaded)
        return outcome;

    IdentifyAndRegisterComputer();
    return outcome;
}
