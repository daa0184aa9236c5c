#pragma once

#include "mainwin/Series.h"
#include "series/Identification.h"

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class TVideoMain;
}
class QCheckBox;
class SingleCopy;

// What the window asks of the system, replaceable where a test or a benchmark must not wait
// for the clock estimate, must see other screens, or must not meet a running program.
struct TVideoMainStartUp {
    std::function<std::int32_t()> MeasureCpuMhz = ::MeasureCpuMhz;
    std::function<bool(int, int, int)> DisplayModeAccepted;  // empty: this computer's screen
    QString CopyTitle = QString::fromUtf8(RunningCopyTitle); // title later copies look for
    SeriesSeams Series;                                      // what the launch buttons' series do
};

// The main window: system identification at start, mode and acceleration choice, launching
// test and presentation series.
class TVideoMain : public QWidget {
    Q_OBJECT
public:
    explicit TVideoMain(QWidget* parent = nullptr, TVideoMainStartUp startUp = {});
    ~TVideoMain() override;

    // Start-up of the whole program run; called once while the main block creates the window.
    void FormCreate();
    void FormPaint();

    // True when another copy of the program was running: it has been asked to come to the
    // front (or the user was told that it runs a series from the command line), nothing was
    // tested or read, and the main block must end without showing this one.
    bool SecondCopy() const { return secondCopy_; }

    // The check box of the k-th available mode (k from 1), found by its name.
    QCheckBox* ModeCheckBox(int k) const;

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void LabeledEdit1Click();
    void LabeledEdit2Click();
    void ComboTestChange();
    // Shows the window in front of the others, as a later copy asks; while the window is
    // hidden for a series or still starting, only once it shows itself again.
    void BringToFront();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A click on a read-only address field opens it.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The close-time questions: first, while results could not be saved, whether to try
    // again (false keeps the window open); then whether to send Results.bin.
    bool FormClose();

private:
    void PaintGlyphs();
    void SetFonts();
    void ShowModeCheckBoxes();
    void FillAccelerationList();
    // Sets the check mark of every available mode's box.
    void CheckAvailableModes(bool checked);
    // The series of both launch buttons; a click while one runs does nothing.
    void LaunchSeries(bool presentation);
    void ClaimSingleCopy();

    std::unique_ptr<Ui::TVideoMain> ui;
    TVideoMainStartUp startUp_;
    std::unique_ptr<SingleCopy> singleCopy_;
    bool secondCopy_ = false;
    // A later copy's request to come to the front waits while the window is not shown to the
    // user: during start-up and during a series.
    bool holdActivation_ = true;
    bool activationPending_ = false;
    bool seriesRunning_ = false;
    // The last save, for the question at close while its results are not on the disk.
    TSaveOutcome lastSave_;
    // A save after a recorded result succeeded: Results.bin holds results of this run.
    bool measuredSaved_ = false;
};

extern TVideoMain* VideoMain;
