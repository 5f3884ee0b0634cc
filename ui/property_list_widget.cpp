#include "ui/property_list_widget.h"

#include <QTreeWidget>

#include "ui/cut_text_delegate.h"
#include "ui/image_list.h"
#include "view/text_diff.h"

namespace kesmark::ui {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Bytes of a byte array shown in its cell's tool tip.
constexpr std::size_t kToolTipBytes = 256;

// The whole text of a cell that shows a byte array by its first bytes: its
// size and its first bytes in hexadecimal.
QString ByteArrayToolTip(const Bytes& bytes) {
    QString text = QStringLiteral("%1 bytes").arg(bytes.size());
    for (const auto& line : HexLines(bytes, kToolTipBytes)) {
        text += QLatin1Char('\n') + QString::fromStdString(line);
    }
    if (bytes.size() > kToolTipBytes) {
        text += QStringLiteral("\n…");
    }
    return text;
}

void SetValueCell(QTreeWidgetItem* item, int column, const std::string& text,
                  const std::optional<Value>& value) {
    if (value && value->IsNull()) {
        item->setText(column, QStringLiteral("Null"));
        QFont italic = item->font(column);
        italic.setItalic(true);
        item->setFont(column, italic);
        item->setForeground(column, QColor(0x70, 0x70, 0x70));
        return;
    }
    item->setText(column, FromUtf8(text));
    if (value && value->IsBytes()) {
        item->setData(column, CutTextDelegate::kFullTextRole,
                      ByteArrayToolTip(*value->As<Bytes>()));
    }
}

}  // namespace

void QtPropertyList::AddPropertyRow(PropertyRow row) {
    auto* item = new QTreeWidgetItem(&list_);
    item->setText(0, FromUtf8(row.name));
    item->setIcon(0, images_.Icon(PictureNumber(row.icon)));
    item->setData(0, kIconNumberRole, PictureNumber(row.icon));
    // Colours are 0xBBGGRR.
    item->setForeground(
        0, QColor(static_cast<int>(row.colour & 0xFF), static_cast<int>((row.colour >> 8) & 0xFF),
                  static_cast<int>((row.colour >> 16) & 0xFF)));
    SetValueCell(item, 1, row.text1, row.value1);
    SetValueCell(item, 2, row.text2, row.value2);
    rows_.push_back(std::move(row));
}

void QtPropertyList::Clear() {
    list_.clear();
    rows_.clear();
}

const PropertyRow* QtPropertyList::RowOf(const QTreeWidgetItem* item) const {
    if (!item) {
        return nullptr;
    }
    const int index = list_.indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(index)];
}

}  // namespace kesmark::ui
