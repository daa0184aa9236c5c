// A push button carrying a glyph bitmap under its caption, the caption standing on the glyph,
// as the program's windows use them.
#pragma once

#include <QImage>
#include <QPushButton>

class TBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TBitBtn(QWidget* parent = nullptr);

    // The glyph is drawn centred on the face (2 pixels in from the edges at the button's size
    // less 4).
    void SetGlyph(const QImage& glyph);
    const QImage& Glyph() const { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage glyph_;
};
