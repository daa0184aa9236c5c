// A push button with a painted glyph under its caption, as the program's windows use them.
#pragma once

#include <QImage>
#include <QPushButton>

class TBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TBitBtn(QWidget* parent = nullptr);
    void SetGlyph(QImage glyph);
    const QImage& Glyph() const { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage glyph_;
};

// "Arial Black": the heaviest sans face the system has, mapped once.
QFont ArialBlackFont(int pixelSize);
