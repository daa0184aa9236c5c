// A push button carrying a glyph bitmap under its caption, the caption standing on the glyph.
#pragma once

#include <QImage>
#include <QPushButton>

class TBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TBitBtn(QWidget* parent = nullptr);

    // The glyph is drawn 2 pixels in from the button's edges.
    void SetGlyph(const QImage& glyph);
    const QImage& Glyph() const { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage glyph_;
};
