// The program's message and question boxes: Qt's own, modal, with the application's title, and
// their text always plain, so that a stored or system text is never read as markup.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

// Captions that replace the toolkit's own for some buttons of a box, where the question names
// its answers in words of its own.
using TButtonTexts = std::vector<std::pair<QMessageBox::StandardButton, QString>>;

// Asks with those buttons over parent (the active window when null) until answered; returns
// the button pressed. escape answers Esc and the title bar's close button (Qt's choice when
// NoButton); objectName lets tests find the box; buttonTexts renames buttons.
QMessageBox::StandardButton
AskUser(QWidget* parent, QMessageBox::Icon icon, const QString& text,
        QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
        QMessageBox::StandardButton escape = QMessageBox::NoButton, const QString& objectName = {},
        const TButtonTexts& buttonTexts = {});
// As AskUser, and doneWhen is also called every 100 ms while the box is open: once it returns
// true, the box closes by itself and NoButton is returned.
QMessageBox::StandardButton AskUserUntil(QWidget* parent, QMessageBox::Icon icon,
                                         const QString& text, QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton,
                                         QMessageBox::StandardButton escape,
                                         const std::function<bool()>& doneWhen);
// A message with one OK button.
void ShowMessage(QMessageBox::Icon icon, const QString& text, QWidget* parent = nullptr);
