#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>

QMessageBox::StandardButton AskUser(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton,
                                    QMessageBox::StandardButton escape, const QString& objectName,
                                    const TButtonTexts& buttonTexts) {
    QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, buttons,
                    parent != nullptr ? parent : QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    if (escape != QMessageBox::NoButton)
        box.setEscapeButton(escape);
    if (!objectName.isEmpty())
        box.setObjectName(objectName);
    for (const auto& [button, caption] : buttonTexts)
        if (QAbstractButton* shown = box.button(button))
            shown->setText(caption);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowMessage(QMessageBox::Icon icon, const QString& text, QWidget* parent) {
    AskUser(parent, icon, text, QMessageBox::Ok);
}
