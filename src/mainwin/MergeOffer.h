// The offer at start-up to merge other results files of the working directory into the store.
#pragma once

#include "state/Variables.h"

#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QWidget;

// The names (raw bytes, as the folder holds them) of the files in folder whose extension is
// ".bin" in any letter case, except exactly "Results.bin", in order of name.
std::vector<std::string> OtherResultsFiles(const std::filesystem::path& folder);

// The question for one file, to be shown as plain text; a name that is not UTF-8 shows its
// undecodable bytes as replacement characters.
QString MergeQuestion(const std::string& fileName);

// What the user is told after a merge whose save failed (Russian).
QString MergeNotSavedText(const std::string& fileName, const TSaveOutcome& save);

// Asks about every other results file of the working directory with a Yes/No box over
// parent; each Yes merges that file into the store and saves the store at once, holding
// Results.bin against other copies meanwhile, and says so when the save failed or kept an
// unreadable Results.bin aside. Returns the last save, if there was one.
std::optional<TSaveOutcome> OfferResultsMerges(QWidget* parent);
