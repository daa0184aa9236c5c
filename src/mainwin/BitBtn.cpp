#include "mainwin/BitBtn.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {}

void TBitBtn::SetGlyph(const QImage& glyph) {
    glyph_ = glyph;
    update();
}

void TBitBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    if (!glyph_.isNull()) {
        // A disabled button shows its glyph faded, as the caption is greyed.
        painter.setOpacity(isEnabled() ? 1.0 : 0.45);
        painter.drawImage(QPoint(2, 2), glyph_);
        painter.setOpacity(1.0);
    }
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Normal : QPalette::Disabled;
    painter.setPen(palette().color(group, QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}
