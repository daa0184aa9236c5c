// Answers the modal message boxes the code under test shows, as a user would click them, and
// keeps what each box said.
#pragma once

#include "support/OnScreen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

class BoxAnswerer {
public:
    struct Seen {
        std::string Text;
        Qt::TextFormat Format;
        QPoint Centre;                    // on the screen
        std::vector<std::string> Buttons; // their captions, in the box's order
        bool Painted;                     // the screen showed the box as it paints itself
    };

    // Each box shown gets the next answer; a box beyond them is answered No.
    explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> answers)
        : answers_(std::move(answers)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(20);
    }

    const std::vector<Seen>& Boxes() const { return seen_; }

private:
    void Answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // Marked on the box itself: a later box may be made at the same address.
        if (box == nullptr || !box->isVisible() || box->property("answered").toBool())
            return;
        box->setProperty("answered", true);
        std::vector<std::string> buttons;
        for (const QAbstractButton* button : box->buttons())
            buttons.push_back(button->text().toStdString());
        const bool painted = ShownAsPainted(*box);
        seen_.push_back({box->text().toStdString(), box->textFormat(),
                         box->mapToGlobal(box->rect().center()), std::move(buttons), painted});
        // A picture to look at, when asked for.
        if (const QByteArray dir = qgetenv("STENDO_SHOT_DIR"); !dir.isEmpty())
            box->grab().save(QString::fromLocal8Bit(dir) +
                             QStringLiteral("/answered-%1.png").arg(seen_.size()));
        QMessageBox::StandardButton answer = QMessageBox::No;
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        box->button(answer)->click();
    }

    std::deque<QMessageBox::StandardButton> answers_;
    std::vector<Seen> seen_;
    QTimer timer_;
};
