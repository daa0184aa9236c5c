#include "mainwin/IndicForm1.h"

#include "platform/Background.h"
#include "state/Variables.h"

#include "ui_IndicForm1.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

TIndicForm* IndicForm = nullptr;

namespace {

constexpr int TicksShown = 3;
constexpr int TickMs = 1000;

} // namespace

TIndicForm::TIndicForm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::IndicForm>()) {
    ui_->setupUi(this);
    StaticText1 = ui_->StaticText1;
    IndicBar = ui_->IndicBar;
    setFixedSize(266, 75);
    // A dialog frame without any border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans"});
    font.setPixelSize(11);
    setFont(font);
    QPalette silver = StaticText1->palette();
    silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    StaticText1->setPalette(silver);

    Timer1.setInterval(TickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &TIndicForm::Timer1Timer);
}

TIndicForm::~TIndicForm() = default;

void TIndicForm::FormShow() {
    Countdown = TicksShown;
    Timer1.start();
}

void TIndicForm::Timer1Timer() {
    --Countdown;
    if (Countdown <= 0) {
        Timer1.stop();
        close();
    }
}

void TIndicForm::FormPaint() {
    QPainter canvas(this);
    PaintBackground(canvas, width(), height(), 35, 12);
}

void TIndicForm::showEvent(QShowEvent* event) {
    // Centred on the screen, whether or not the (hidden) main window is its parent.
    if (const QScreen* desktop = screen()) {
        const QRect area = desktop->availableGeometry();
        const QSize outer = frameGeometry().size();
        move(area.x() + (area.width() - outer.width()) / 2,
             area.y() + (area.height() - outer.height()) / 2);
    }
    QDialog::showEvent(event);
    FormShow();
}

void TIndicForm::hideEvent(QHideEvent* event) {
    Timer1.stop();
    QDialog::hideEvent(event);
}

void TIndicForm::paintEvent(QPaintEvent*) {
    FormPaint();
}

void TIndicForm::keyPressEvent(QKeyEvent* event) {
    // Only the timer closes the window: Esc, meant for a pass, must not cut the pause short.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
