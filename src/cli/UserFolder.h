// The working folder of an installed copy. The program keeps Results.bin (and finds Help.html
// and the other results files it offers for merging) in its working folder. Started from a
// desktop menu, that would be wherever the desktop starts programs, so an installed copy works
// in the user's data folder instead (~/.local/share/Стендограф, or under $XDG_DATA_HOME). A
// copy run from its build tree keeps the folder it was started in.
#pragma once

#include "cli/CommandLine.h"

#include <QString>

// Makes userFolder (created if need be) the working folder, with a current copy of the
// Help.html of dataFolder when there is one; file names of the options that were given
// relative to the old working folder are made absolute first. The error text, or empty.
QString EnterUserFolder(const QString& userFolder, const QString& dataFolder,
                        TCommandLineOptions& options);

// The user's data folder of the program (the application name must be set).
QString UserDataFolder();
