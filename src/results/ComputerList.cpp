#include "results/ComputerList.h"

#include "state/RecordColumns.h"
#include "state/Variables.h"

#include <QListView>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

constexpr QRgb Silver = 0xFFC0C0C0;

} // namespace

void ComboComputerDrawItem(QPainter& canvas, const QRect& rect, int computer) {
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.right() + 1;
    const int bottom = rect.bottom() + 1;
    canvas.save();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setRenderHint(QPainter::TextAntialiasing, false);
    canvas.fillRect(rect, QColor::fromRgb(Silver));
    // A rounded rectangle from (left + 1, top + 1) up to but not including (right - 1,
    // bottom - 1), with corner ellipses of 15 x 15 pixels.
    canvas.setPen(Qt::white);
    canvas.setBrush(QColor::fromRgb(Silver));
    canvas.drawRoundedRect(QRect(left + 1, top + 1, right - left - 3, bottom - top - 3), 7.5, 7.5);

    QFont font("Liberation Sans"); // "MS Sans Serif", 8 points: 11 pixels high
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::NoAntialias);
    // Unsmoothed glyphs are drawn hinted to the pixel grid whatever fontconfig's hint style
    // says, but under the desktop's "slight" style their advances stay unhinted, wider than
    // many hinted glyphs: letters then stand apart ("P entium"). Full hinting takes glyphs and
    // advances from the same hinted outlines.
    font.setHintingPreference(QFont::PreferFullHinting);
    canvas.setFont(font);
    const QFontMetrics metrics(font);
    const int h = metrics.height(); // of the text " "
    const int half = (bottom - top - 12) / 2;
    const int y0 = (half - h) / 2 + 6;
    if (computer >= 0 && static_cast<std::size_t>(computer) < Computers.size()) {
        const TComputerRecord& record = Computers[static_cast<std::size_t>(computer)];
        canvas.setPen(Qt::black);
        canvas.setBackground(QColor::fromRgb(Silver));
        canvas.setBackgroundMode(Qt::OpaqueMode);
        const QString lines[2] = {ReadableText(record.Processor),
                                  ReadableText(record.VideoAdapter)};
        for (int j = 0; j < 2; ++j)
            canvas.drawText(QPoint(left + 7, top + y0 + j * half + metrics.ascent()), lines[j]);
    }
    canvas.restore();
}

TComputerListModel::TComputerListModel(int count, QObject* parent)
    : QAbstractListModel(parent), count_(count) {}

int TComputerListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

QVariant TComputerListModel::data(const QModelIndex&, int) const {
    return {};
}

void TComputerItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    ComboComputerDrawItem(*painter, option.rect, index.row());
}

QSize TComputerItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
    return {option.rect.width(), ComputerItemHeight};
}

TComputerCombo::TComputerCombo(QWidget* parent) : QComboBox(parent) {
    auto* view = new QListView(this);
    view->setUniformItemSizes(true); // thousands of computers: no measuring of every item
    setView(view);
    setItemDelegate(new TComputerItemDelegate(this));
    setMaxVisibleItems(5);
    // Styles that drop the list down as a menu show every item; a list popup keeps to five.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void TComputerCombo::SetComputerCount(int count) {
    setModel(new TComputerListModel(count, this)); // deletes the model it owned before
    setCurrentIndex(-1);
}

void TComputerCombo::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0)
        return;
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    ComboComputerDrawItem(painter, field, currentIndex());
}
