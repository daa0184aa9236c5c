// The owner-drawn list of stored computers in the results window: one item per computer known
// when the window was created, each drawn as two lines from the computer's record.
#pragma once

#include <QAbstractListModel>
#include <QComboBox>
#include <QStyledItemDelegate>

class QPainter;

inline constexpr int ComputerItemHeight = 45;

// Draws item `computer` into rect (right and bottom edges exclusive, as rect.right() + 1 and
// rect.bottom() + 1): a silver rounded panel with a white outline, the processor line above
// the adapter line. Selection and focus do not change the look.
void ComboComputerDrawItem(QPainter& canvas, const QRect& rect, int computer);

// As many empty items as there were computers; what is shown comes from the store when drawn.
class TComputerListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TComputerListModel(int count, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    int count_;
};

class TComputerItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A drop-down list whose closed field shows its item drawn the same way.
class TComputerCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TComputerCombo(QWidget* parent = nullptr);
    // Replaces the items by one per computer, none selected.
    void SetComputerCount(int count);

protected:
    void paintEvent(QPaintEvent* event) override;
};
