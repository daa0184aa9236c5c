// The start-up load of Results.bin, and the offer to merge other results files of the working
// directory into the store.
#pragma once

#include "state/Variables.h"

#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QWidget;
struct TMergeReport;

// What the user is told at start of a Results.bin that was not read whole (Russian): what was
// left and why, and that the file will be kept before it is replaced; empty when it was read
// whole, is missing or was not opened.
QString StartUpReadText(const TMergeReport& report);
// Loads Results.bin into the store and, over parent, says so when it was not read whole.
void LoadResultsAtStart(QWidget* parent);

// The names (raw bytes, as the folder holds them) of the files in folder whose extension is
// ".bin" in any letter case, except exactly "Results.bin", in order of name.
std::vector<std::string> OtherResultsFiles(const std::filesystem::path& folder);

// The question for one file, to be shown as plain text; a name that is not UTF-8 shows its
// undecodable bytes as replacement characters.
QString MergeQuestion(const std::string& fileName);

// What the user is told after a merge whose save failed (Russian).
QString MergeNotSavedText(const std::string& fileName, const TSaveOutcome& save);
// What the user is told after merging fileName (Russian): what of it was not taken, a save
// that failed or kept Results.bin aside; empty when there is nothing to tell.
QString MergeOutcomeText(const std::string& fileName, const TMergeReport& read,
                         const TSaveOutcome& save);

// Asks about every other results file of the working directory with a Yes/No box over
// parent; each Yes merges that file into the store and saves the store at once, holding
// Results.bin against other copies meanwhile, and says so when the file was not taken whole,
// or the save failed or kept an unreadable Results.bin aside. Returns the last save, if there
// was one.
std::optional<TSaveOutcome> OfferResultsMerges(QWidget* parent);
