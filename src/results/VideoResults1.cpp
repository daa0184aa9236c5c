#include "results/VideoResults1.h"

#include "platform/Background.h"
#include "platform/BitBtn.h"
#include "platform/Fonts.h"
#include "results/ChartBox.h"
#include "results/ComputerList.h"
#include "results/GroupStyle.h"
#include "results/PictureSave.h"
#include "results/ResultSelection.h"
#include "state/Variables.h"

#include "ui_VideoResults1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>

TVideoResults* VideoResults = nullptr;
std::int32_t ShownComputerView = 0;
std::int32_t ShownComputerIndex = 0;
std::int32_t ShownAcceleration = 0;

namespace {

constexpr QRgb Silver = 0xFFC0C0C0;

void MakeSilver(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(Silver));
    palette.setColor(QPalette::Button, QColor::fromRgb(Silver));
    palette.setColor(QPalette::Base, QColor::fromRgb(Silver));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The radio buttons named prefix0, prefix1, ... as one group whose ids are item indices.
QButtonGroup* RadioGroup(QWidget* box, const QString& prefix) {
    auto* group = new QButtonGroup(box);
    for (int i = 0;; ++i) {
        auto* button = box->findChild<QRadioButton*>(prefix + QString::number(i));
        if (button == nullptr)
            break;
        group->addButton(button, i);
    }
    return group;
}

} // namespace

TVideoResults::TVideoResults(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::VideoResults>()) {
    ui_->setupUi(this);
    setObjectName("VideoResults");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(648, 537);
    QFont windowFont("Liberation Sans"); // "MS Sans Serif", 8 points
    windowFont.setPixelSize(11);
    setFont(windowFont);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0x66, 0x99, 0xFF));
    setPalette(palette);

    for (QWidget* silver :
         std::initializer_list<QWidget*>{ui_->RadioComputer, ui_->RadioAcceleration,
                                         ui_->BoxForComputer, ui_->ComboComputer, ui_->Box1})
        MakeSilver(silver);
    auto* groupStyle = new TGroupStyle(QApplication::style()->name());
    groupStyle->setParent(this);
    // A style set on a widget is not its children's: the radio items get it one by one.
    for (QWidget* group : std::initializer_list<QWidget*>{
             ui_->RadioComputer, ui_->RadioAcceleration, ui_->BoxForComputer}) {
        group->setStyle(groupStyle);
        for (QRadioButton* item : group->findChildren<QRadioButton*>())
            item->setStyle(groupStyle);
    }
    ui_->BitBtn2->setFont(ArialBlackFont(21));
    QPalette buttonPalette = ui_->BitBtn2->palette();
    buttonPalette.setColor(QPalette::ButtonText, QColor(0x00, 0x00, 0xFF));
    ui_->BitBtn2->setPalette(buttonPalette);

    computerGroup_ = RadioGroup(ui_->RadioComputer, "RadioComputer");
    accelerationGroup_ = RadioGroup(ui_->RadioAcceleration, "RadioAcceleration");
    connect(computerGroup_, &QButtonGroup::idClicked, this, [this] { resbitChange(); });
    connect(accelerationGroup_, &QButtonGroup::idClicked, this, [this] { resbitChange(); });
    connect(ui_->ComboComputer, &QComboBox::activated, this, [this] { resbitChange(); });
    connect(ui_->BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });

    connect(ui_->Box1, &TChartBox::ContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setObjectName("ChartMenu");
        menu.addAction("Сохранить рисунок…", this, [this] { SavePictureClick(); });
        menu.exec(at);
    });

    FormCreate();
}

TVideoResults::~TVideoResults() = default;

void TVideoResults::FormCreate() {
    ShownComputerView = 0;
    ShownComputerIndex = 0;
    ShownAcceleration = 0;
    ui_->ComboComputer->SetComputerCount(static_cast<int>(Computers.size()));
    ui_->ComboComputer->setCurrentIndex(Computers.empty() ? -1 : 0);
    ui_->ComboComputer->setEnabled(false);

    if (auto* button = findChild<TBitBtn*>(QString("BitBtn") + QString::number(2)))
        button->SetGlyph(ButtonGlyph(button->width(), button->height()));
}

void TVideoResults::FormShow() {
    PrintResult();
}

void TVideoResults::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

TChartSelection TVideoResults::ControlSelection() const {
    return {computerGroup_->checkedId(), ui_->ComboComputer->currentIndex(),
            accelerationGroup_->checkedId()};
}

void TVideoResults::resbitChange() {
    const TSelectionDisplay display = ResultSelectionChange(
        ControlSelection(), {ShownComputerView, ShownComputerIndex, ShownAcceleration},
        CurrentComputerIndex);
    if (!display.Redraw)
        return;
    ui_->BoxForComputer->setVisible(display.ShowBoxForComputer);
    ui_->RadioAcceleration->setVisible(display.ShowAcceleration);
    ui_->ComboComputer->setEnabled(display.ComboEnabled);
    if (ui_->ComboComputer->currentIndex() != display.ComboIndex)
        ui_->ComboComputer->setCurrentIndex(display.ComboIndex);
    // Let the shown and hidden controls repaint before the chart is drawn.
    QApplication::processEvents();
    PrintResult();
}

void TVideoResults::PrintResult() {
    const TChartSelection selection = ControlSelection();
    ShownComputerView = selection.ComputerView;
    ShownComputerIndex = selection.ComputerIndex;
    ShownAcceleration = selection.Acceleration;
    ui_->Box1->SetLayout(MakeChartLayout(selection));
}

void TVideoResults::BitBtn2Click() {
    reject();
}

void TVideoResults::SavePictureClick() {
    // A copy: the picture saved is the chart shown when the user asked for it.
    const TChartLayout layout = ui_->Box1->Layout();
    SavePictureWithProgress(this, layout);
}

void TVideoResults::showEvent(QShowEvent* event) {
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
    FormShow();
}

void TVideoResults::paintEvent(QPaintEvent*) {
    FormPaint();
}

void TVideoResults::keyPressEvent(QKeyEvent* event) {
    // Esc presses the close button, the window's cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui_->BitBtn2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
