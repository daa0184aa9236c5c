#pragma once

#include <QDialog>

// The progress window shown modally for about three seconds between benchmark passes.
class TIndicForm : public QDialog {
    Q_OBJECT
public:
    explicit TIndicForm(QWidget* parent = nullptr);
    void FormPaint();

protected:
    void paintEvent(QPaintEvent* event) override;
};

extern TIndicForm* IndicForm;
