// The series of the main window's launch buttons: the window engine's series (series/Series.h)
// with the window hidden meanwhile, the progress window after each pass and the end told in a
// message box.
#pragma once

#include "platform/ScreenSaver.h"
#include "series/Series.h"

#include <functional>
#include <string>

class QWidget;

// Reads the choice from the main window's controls "CheckBox<k>" and "ComboAcc".
SeriesChoice ReadSeriesChoice(const QWidget& mainWindow, bool presentation);

// The progress window (IndicForm, or a window of its own when there is none) at done of
// planned, shown modally until its timer closes it.
void ShowProgressWindow(int done, int planned);

inline constexpr const char* SeriesSucceededText = "Тестирование успешно завершено.";

// The message at the end of a series: the success text, or statusText after a failed pass;
// followed by what the user must know of the save: that the results were not saved and why,
// or under which name an unreadable Results.bin was kept.
std::string SeriesEndText(bool failed, const std::string& statusText, const TSaveOutcome& save);

// The message at the end of a series in a plain-text box with one OK button: a warning unless
// it is the success text.
void ShowSeriesEnd(const std::string& text);

// What the window's series does outside itself. Tests replace the pass, the progress window,
// the screen-saver service or the end message.
struct SeriesSeams {
    std::function<void()> RunPass = [] { RunTestScreenPass(); };
    std::function<void(int done, int planned)> ShowProgress = ShowProgressWindow;
    std::function<void(bool active)> ScreenSaver = SetScreenSaverActive;
    std::function<void(const std::string& text)> ShowEnd = ShowSeriesEnd;
};

// The whole series of BitBtn1Click and BitBtn2Click: hides mainWindow (may be null), runs the
// series (RunSeries of series/Series.h) with the progress window after each pass, shows
// SeriesEndText after the save, and shows mainWindow again.
TSeriesOutcome RunSeries(QWidget* mainWindow, const SeriesChoice& choice,
                         const SeriesSeams& seams = {});
