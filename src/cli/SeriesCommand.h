// --run: a test or presentation series without the main window, on the same start-up
// identification and through the same series procedure as the window's buttons. Prints one
// JSON line a pass.
#pragma once

#include "cli/CommandLine.h"
#include "series/Accelerations.h"
#include "series/Series.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

// The series' choice for the command's --modes and --accel, given what this computer offers:
// the ticks numbered over the available modes as the main window numbers its boxes, the item
// of that acceleration among the offered ones (the first when --accel is not given); nothing,
// with the reason in *error, for a mode the display does not accept or an acceleration this
// computer lacks.
std::optional<SeriesChoice> SeriesChoiceFor(const TCommandLineOptions& options,
                                            const TModeAvailability& available,
                                            const std::vector<TAccelerationChoice>& offered,
                                            QString* error);

// Needs a QApplication. Returns the exit status: 0 when every pass succeeded and the results
// were saved, 1 when one failed (its text on standard error; the results of earlier passes are
// saved all the same), 2 when the series could not start, 3 while another copy of the program
// runs, 4 when the results were measured but could not be saved (the reason on standard
// error; Results.bin is left as it was).
int RunSeriesCommand(const TCommandLineOptions& options);
