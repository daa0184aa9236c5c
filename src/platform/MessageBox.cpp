#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

namespace {

constexpr int DoneWhenIntervalMs = 100;

QMessageBox::StandardButton Ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton,
                                QMessageBox::StandardButton escape, const QString& objectName,
                                const std::function<bool()>& doneWhen,
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
    QTimer timer;
    bool done = false;
    if (doneWhen) {
        QObject::connect(&timer, &QTimer::timeout, &box, [&] {
            if (!done && doneWhen()) {
                done = true;
                box.done(QMessageBox::NoButton);
            }
        });
        timer.start(DoneWhenIntervalMs);
    }
    const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
    return done ? QMessageBox::NoButton : answer;
}

} // namespace

QMessageBox::StandardButton AskUser(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton,
                                    QMessageBox::StandardButton escape, const QString& objectName,
                                    const TButtonTexts& buttonTexts) {
    return Ask(parent, icon, text, buttons, defaultButton, escape, objectName, {}, buttonTexts);
}

QMessageBox::StandardButton AskUserUntil(QWidget* parent, QMessageBox::Icon icon,
                                         const QString& text, QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton,
                                         QMessageBox::StandardButton escape,
                                         const std::function<bool()>& doneWhen) {
    return Ask(parent, icon, text, buttons, defaultButton, escape, {}, doneWhen, {});
}

void ShowMessage(QMessageBox::Icon icon, const QString& text, QWidget* parent) {
    AskUser(parent, icon, text, QMessageBox::Ok);
}
