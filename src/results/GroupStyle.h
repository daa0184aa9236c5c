// The look of the results window's selection groups within the geometry of their layout: a
// classic etched frame whose top line runs through the title, the title set in from the left
// edge, and radio indicators small enough for items 14 pixels apart.
#pragma once

#include <QProxyStyle>

class TGroupStyle : public QProxyStyle {
public:
    // Over the application's style (Fusion): the rest of the groups' drawing stays its own.
    explicit TGroupStyle(const QString& baseStyle);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};

// The pixels by which a group's title is set in from the frame's left edge.
inline constexpr int GroupTitleInset = 8;
// The radio indicator's side in pixels, as in the classic layouts the geometry comes from.
inline constexpr int GroupRadioIndicator = 12;
