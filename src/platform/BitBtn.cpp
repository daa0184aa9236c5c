#include "platform/BitBtn.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
}

void TBitBtn::SetGlyph(const QImage& glyph) {
    glyph_ = glyph;
    update();
}

void TBitBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    const QPoint shift = isDown() ? QPoint(1, 1) : QPoint(0, 0);
    if (!glyph_.isNull()) {
        // A disabled button shows its glyph faded, as the caption is greyed.
        painter.setOpacity(isEnabled() ? 1.0 : 0.45);
        painter.drawImage((width() - glyph_.width()) / 2 + shift.x(),
                          (height() - glyph_.height()) / 2 + shift.y(), glyph_);
        painter.setOpacity(1.0);
    }
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Normal : QPalette::Disabled;
    painter.setPen(palette().color(group, QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(rect().translated(shift), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(4, 4, -4, -4);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
