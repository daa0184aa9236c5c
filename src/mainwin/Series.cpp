#include "mainwin/Series.h"

#include "mainwin/IndicForm1.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QWidget>

#include <memory>

std::string SeriesEndText(bool failed, const std::string& statusText, const TSaveOutcome& save) {
    if (!save.Saved)
        return (failed ? statusText + "\r\n\r\n" : std::string()) +
               "Результаты тестирования не сохранены в файле Results.bin: " +
               SaveFailureText(save) +
               ".\r\nОни остаются в памяти программы: сохранение будет повторено после "
               "следующего тестирования, а при закрытии программы будет предложено снова.";
    const std::string text = failed ? statusText : SeriesSucceededText;
    return save.KeptAs.empty() ? text : text + "\r\n\r\n" + KeptFileText(save);
}

void ShowSeriesEnd(const std::string& text) {
    ShowMessage(text == SeriesSucceededText ? QMessageBox::Information : QMessageBox::Warning,
                QString::fromStdString(text));
}

SeriesChoice ReadSeriesChoice(const QWidget& mainWindow, bool presentation) {
    SeriesChoice choice;
    for (int k = 1; k <= ModeBoxCount; ++k) {
        const auto* box = mainWindow.findChild<QCheckBox*>(QString("CheckBox%1").arg(k));
        choice.Ticked[static_cast<std::size_t>(k - 1)] = box != nullptr && box->isChecked();
    }
    const auto* combo = mainWindow.findChild<QComboBox*>("ComboAcc");
    choice.AccelerationItem = combo != nullptr ? combo->currentIndex() : -1;
    choice.Presentation = presentation;
    return choice;
}

void ShowProgressWindow(int done, int planned) {
    std::unique_ptr<TIndicForm> own;
    TIndicForm* form = IndicForm;
    if (form == nullptr) {
        own = std::make_unique<TIndicForm>();
        form = own.get();
    }
    form->IndicBar->setMinimum(0);
    form->IndicBar->setMaximum(planned);
    form->IndicBar->setValue(done);
    form->exec();
}

TSeriesOutcome RunSeries(QWidget* mainWindow, const SeriesChoice& choice,
                         const SeriesSeams& seams) {
    if (mainWindow != nullptr)
        mainWindow->hide();
    TSeriesSeams engine;
    engine.RunPass = seams.RunPass;
    engine.ShowProgress = seams.ShowProgress;
    engine.ScreenSaver = seams.ScreenSaver;
    engine.ShowEnd = [&seams](const TSeriesOutcome& outcome) {
        seams.ShowEnd(SeriesEndText(outcome.Failed, StatusText, outcome.Save));
    };
    const TSeriesOutcome outcome = RunSeries(choice, engine);
    if (mainWindow != nullptr)
        mainWindow->show();
    return outcome;
}
