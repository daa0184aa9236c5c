// What the main window says when its results could not reach Results.bin, and the question at
// close that offers to save them again.
#pragma once

#include "state/Variables.h"

#include <QString>
#include <string>

class QWidget;

// The question at close while the store holds results that are not on the disk.
QString SaveAgainQuestion(const TSaveOutcome& lastSave);
// What the user is told when saving again at close failed once more.
QString SaveAgainFailedText(const TSaveOutcome& save);

// At close, while the store holds results the last save could not write: asks whether to save
// them again ("Повторить"), to close without them ("Не сохранять") or to stay ("Отмена").
// True when the window may close: the results are saved now, or the user gave them up.
// lastSave becomes the outcome of any new save.
bool OfferToSaveAgain(QWidget* parent, TSaveOutcome& lastSave);
