#include "ui/property_list_widget.h"

#include <QTreeWidget>

#include "ui/image_list.h"

namespace kesmark::ui {

namespace {
QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void QtPropertyList::AddPropertyRow(std::string_view name, std::string_view text1,
                                    std::string_view text2, Picture icon, std::uint32_t colour) {
    auto* item = new QTreeWidgetItem(&list_);
    item->setText(0, FromUtf8(name));
    item->setIcon(0, images_.Icon(PictureNumber(icon)));
    item->setData(0, kIconNumberRole, PictureNumber(icon));
    // Colours are 0xBBGGRR.
    item->setForeground(
        0, QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF)));
    item->setText(1, FromUtf8(text1));
    item->setText(2, FromUtf8(text2));
}

void QtPropertyList::Clear() {
    list_.clear();
}

}  // namespace kesmark::ui
