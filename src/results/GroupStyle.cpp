#include "results/GroupStyle.h"

#include <QPainter>
#include <QStyleOption>
#include <qdrawutil.h>

TGroupStyle::TGroupStyle(const QString& baseStyle) : QProxyStyle(baseStyle) {}

void TGroupStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
    // An etched line only, so that a group is as silver inside as its palette says; the
    // application's style would lay a tinted panel over it.
    if (element == PE_FrameGroupBox) {
        qDrawShadeRect(painter, option->rect, option->palette, true, 1, 0);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void TGroupStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     QPainter* painter, const QWidget* widget) const {
    const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || group == nullptr || group->text.isEmpty() ||
        !(group->subControls & SC_GroupBoxFrame)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // The frame's top line stops short of the title on both sides.
    const QRect title = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
    painter->save();
    painter->setClipRegion(QRegion(option->rect) - title.adjusted(-2, 0, 2, 0));
    QStyleOptionFrame frame;
    frame.QStyleOption::operator=(*group);
    frame.rect = subControlRect(CC_GroupBox, option, SC_GroupBoxFrame, widget);
    drawPrimitive(PE_FrameGroupBox, &frame, painter, widget);
    painter->restore();

    QStyleOptionGroupBox titleOnly = *group;
    titleOnly.subControls &= ~SC_GroupBoxFrame;
    QProxyStyle::drawComplexControl(control, &titleOnly, painter, widget);
}

QRect TGroupStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                  SubControl subControl, const QWidget* widget) const {
    QRect rect = QProxyStyle::subControlRect(control, option, subControl, widget);
    if (control != CC_GroupBox)
        return rect;
    switch (subControl) {
    case SC_GroupBoxLabel:
    case SC_GroupBoxCheckBox:
        return rect.translated(GroupTitleInset, 0);
    case SC_GroupBoxFrame: {
        const QRect title = QProxyStyle::subControlRect(control, option, SC_GroupBoxLabel, widget);
        rect.setTop(title.center().y());
        return rect;
    }
    default:
        return rect;
    }
}

int TGroupStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                             const QWidget* widget) const {
    if (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight)
        return GroupRadioIndicator;
    return QProxyStyle::pixelMetric(metric, option, widget);
}
