#include "mainwin/VideoMain1.h"

#include "mainwin/Contacts.h"
#include "mainwin/Links.h"
#include "mainwin/MergeOffer.h"
#include "mainwin/ModeSelection.h"
#include "mainwin/SecondStart.h"
#include "mainwin/Series.h"
#include "mainwin/UnsavedResults.h"
#include "platform/Background.h"
#include "platform/BitBtn.h"
#include "platform/Fonts.h"
#include "platform/MessageBox.h"
#include "platform/Priority.h"
#include "platform/SingleCopy.h"
#include "results/VideoResults1.h"
#include "state/Variables.h"
#include "ui_VideoMain1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cstdio>

TVideoMain* VideoMain = nullptr;

namespace {

constexpr int ButtonCount = 5;

} // namespace

TVideoMain::TVideoMain(QWidget* parent, TVideoMainStartUp startUp)
    : QWidget(parent), ui(std::make_unique<Ui::TVideoMain>()), startUp_(std::move(startUp)) {
    InstallFontSubstitutions();
    ui->setupUi(this);
    setObjectName("VideoMain");
    setFixedSize(442, 337);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint);
    SetFonts();
    ui->LabeledEdit1->setText(QString::fromUtf8(ProgramWebSite));
    ui->LabeledEdit2->setText(QString::fromUtf8(ProgramEmail));
    // activated is the user's choice only: selections made from code raise no handler.
    connect(ui->ComboTest, &QComboBox::activated, this, &TVideoMain::ComboTestChange);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TVideoMain::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TVideoMain::BitBtn2Click);
    connect(ui->BitBtn3, &QPushButton::clicked, this, &TVideoMain::BitBtn3Click);
    connect(ui->BitBtn4, &QPushButton::clicked, this, &TVideoMain::BitBtn4Click);
    connect(ui->BitBtn5, &QPushButton::clicked, this, &TVideoMain::BitBtn5Click);
    ui->LabeledEdit1->installEventFilter(this);
    ui->LabeledEdit2->installEventFilter(this);
    // Placed before start-up, so that the questions it asks appear over the window's place.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TVideoMain::~TVideoMain() = default;

void TVideoMain::SetFonts() {
    QFont windowFont("MS Sans Serif");
    windowFont.setPixelSize(11);
    setFont(windowFont);

    const QFont buttonFont = ArialBlackFont(21);
    for (int n = 1; n <= ButtonCount; ++n) {
        auto* button = findChild<TBitBtn*>(QStringLiteral("BitBtn%1").arg(n));
        button->setFont(buttonFont);
        QPalette palette = button->palette();
        palette.setColor(QPalette::Active, QPalette::ButtonText, Qt::blue);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::blue);
        button->setPalette(palette);
    }

    const QColor silver(192, 192, 192);
    for (QWidget* label :
         {static_cast<QWidget*>(ui->StaticText1), static_cast<QWidget*>(ui->StaticText2)}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, silver);
        label->setPalette(palette);
    }
}

void TVideoMain::PaintGlyphs() {
    for (int n = 1; n <= ButtonCount; ++n) {
        auto* button = findChild<TBitBtn*>(QStringLiteral("BitBtn%1").arg(n));
        button->SetGlyph(ButtonGlyph(button->width(), button->height()));
    }
}

void TVideoMain::FormCreate() {
    PaintGlyphs();

    ClaimSingleCopy();
    if (secondCopy_)
        return;
    QApplication::setApplicationName(startUp_.CopyTitle);
    setWindowTitle(QString("Стендограф %1.%2").arg(VersionMajor).arg(VersionMinor));

    SetHighPriority();

    if (startUp_.DisplayModeAccepted)
        TestDisplayModes(startUp_.DisplayModeAccepted);
    else
        TestDisplayModes();
    ShowModeCheckBoxes();

    LoadResultsAtStart(this);
    if (const std::optional<TSaveOutcome> saved = OfferResultsMerges(this))
        lastSave_ = *saved;

    IdentifyAndRegisterComputer(startUp_.MeasureCpuMhz);
    // Reads only CurrentComputer, so it may follow the store's update.
    FillAccelerationList();
}

void TVideoMain::ClaimSingleCopy() {
    singleCopy_ = std::make_unique<SingleCopy>(startUp_.CopyTitle);
    switch (singleCopy_->Claim()) {
    case TClaimResult::First:
        connect(singleCopy_.get(), &SingleCopy::ActivationRequested, this,
                &TVideoMain::BringToFront);
        return;
    case TClaimResult::WindowRuns:
        secondCopy_ = true;
        return;
    case TClaimResult::WindowInSeries:
        // Only a line on standard error: a box now would cover the series' test screen.
        secondCopy_ = true;
        std::fputs(WindowInSeriesLine().toUtf8().constData(), stderr);
        return;
    case TClaimResult::SeriesRuns:
        secondCopy_ = true;
        ShowMessage(QMessageBox::Information, SeriesRunsText(), this);
        return;
    case TClaimResult::NotSetUp:
        ShowMessage(QMessageBox::Warning, SingleCopyNotSetUpText(singleCopy_->Failure()), this);
        return;
    }
}

QCheckBox* TVideoMain::ModeCheckBox(int k) const {
    return findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(k));
}

void TVideoMain::ShowModeCheckBoxes() {
    const std::vector<std::string> captions = ModeCaptions(ModeAvailable);
    for (std::size_t k = 1; k <= captions.size() && k <= ModeBoxCount; ++k) {
        QCheckBox* box = ModeCheckBox(static_cast<int>(k));
        box->setChecked(false);
        box->setText(QString::fromStdString(captions[k - 1]));
        box->setVisible(true);
    }
}

void TVideoMain::FillAccelerationList() {
    const std::vector<std::string> items = AccelerationItems(CurrentComputer, Direct3DMissing);
    if (items.empty())
        return;
    for (const std::string& item : items)
        ui->ComboAcc->addItem(QString::fromStdString(item));
    ui->ComboAcc->setCurrentIndex(0);
    ui->BitBtn1->setEnabled(true);
    ui->BitBtn2->setEnabled(true);
}

void TVideoMain::CheckAvailableModes(bool checked) {
    const int shown = static_cast<int>(ModeCaptions(ModeAvailable).size());
    for (int k = 1; k <= shown && k <= ModeBoxCount; ++k)
        ModeCheckBox(k)->setChecked(checked);
}

void TVideoMain::ComboTestChange() {
    const auto change = ScopeChange(ui->ComboTest->currentIndex(), ui->ComboAcc->count(),
                                    ui->ComboAcc->currentIndex());
    if (!change)
        return;
    ui->Box1->setEnabled(change->ControlsEnabled);
    ui->ComboAcc->setEnabled(change->ControlsEnabled);
    ui->ComboAcc->setCurrentIndex(change->AccelerationIndex);
    CheckAvailableModes(change->ModesChecked);
}

void TVideoMain::LaunchSeries(bool presentation) {
    // The window is hidden during a series, but a click may already wait in the queue.
    if (seriesRunning_)
        return;
    seriesRunning_ = true;
    holdActivation_ = true;
    singleCopy_->SetBusy(true);
    lastSave_ = RunSeries(this, ReadSeriesChoice(*this, presentation), startUp_.Series).Save;
    singleCopy_->SetBusy(false);
    if (lastSave_.Saved && ResultsChanged)
        measuredSaved_ = true;
    seriesRunning_ = false;
}

// Test and presentation are one series; only the detail level differs.
void TVideoMain::BitBtn1Click() {
    LaunchSeries(false);
}

void TVideoMain::BitBtn2Click() {
    LaunchSeries(true);
}

void TVideoMain::BitBtn3Click() {
    if (VideoResults != nullptr)
        VideoResults->exec();
}

void TVideoMain::BitBtn4Click() {
    close();
}

void TVideoMain::BitBtn5Click() {
    OpenHelp();
}

void TVideoMain::LabeledEdit1Click() {
    OpenWebSite();
}

void TVideoMain::LabeledEdit2Click() {
    OpenMailLink();
}

bool TVideoMain::FormClose() {
    if (ResultsUnsaved && !OfferToSaveAgain(this, lastSave_))
        return false;
    // Still unsaved here: the user chose to close without the latest results.
    AskToSendResults(this, !ResultsUnsaved  ? TMeasuredOnDisk::All
                           : measuredSaved_ ? TMeasuredOnDisk::AllButTheLatest
                                            : TMeasuredOnDisk::None);
    return true;
}

void TVideoMain::closeEvent(QCloseEvent* event) {
    if (!FormClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

bool TVideoMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && watched == ui->LabeledEdit1)
            LabeledEdit1Click();
        else if (mouse->button() == Qt::LeftButton && watched == ui->LabeledEdit2)
            LabeledEdit2Click();
    }
    return QWidget::eventFilter(watched, event);
}

void TVideoMain::BringToFront() {
    if (holdActivation_) {
        activationPending_ = true;
        return;
    }
    activationPending_ = false;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TVideoMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    holdActivation_ = false;
    if (activationPending_)
        BringToFront();
}

void TVideoMain::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

void TVideoMain::paintEvent(QPaintEvent*) {
    FormPaint();
}
