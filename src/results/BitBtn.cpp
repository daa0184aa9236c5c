#include "results/BitBtn.h"

#include <QStyleOptionButton>
#include <QStylePainter>

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
}

void TBitBtn::SetGlyph(QImage glyph) {
    glyph_ = std::move(glyph);
    update();
}

void TBitBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    // Glyph and caption overlap: the glyph fills the face, the caption stands on it.
    const QPoint shift = isDown() ? QPoint(1, 1) : QPoint(0, 0);
    if (!glyph_.isNull())
        painter.drawImage((width() - glyph_.width()) / 2 + shift.x(),
                          (height() - glyph_.height()) / 2 + shift.y(), glyph_);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect().translated(shift), Qt::AlignCenter, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(4, 4, -4, -4);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

QFont ArialBlackFont(int pixelSize) {
    QFont::insertSubstitution("Arial Black", "Lato");
    QFont font("Arial Black");
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Black);
    return font;
}
