#pragma once

#include <vector>

#include "view/property_list.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kesmark::ui {

class ImageList;

// The result view's property list shown in a three-column QTreeWidget used as
// a report list: property, database 1, database 2; a small picture and the
// name's colour per row. A Null value reads "Null" in grey italics, so that it
// is told from empty text and from a text that reads "Null". The rows, with
// the values behind their cells, are kept for the difference pane; a cell
// that shows a byte array by its first bytes keeps a longer hexadecimal view
// for its tool tip.
class QtPropertyList : public PropertyList {
  public:
    // The item data role that keeps a row's picture number.
    static constexpr int kIconNumberRole = 0x0100 + 1;  // Qt::UserRole + 1

    // `list` and `images` are not owned.
    QtPropertyList(QTreeWidget& list, const ImageList& images) : list_(list), images_(images) {}

    using PropertyList::AddPropertyRow;
    void AddPropertyRow(PropertyRow row) override;
    void Clear() override;

    // The row an item of the list shows, or null.
    const PropertyRow* RowOf(const QTreeWidgetItem* item) const;

  private:
    QTreeWidget& list_;        // Not owned.
    const ImageList& images_;  // Not owned.
    std::vector<PropertyRow> rows_;
};

}  // namespace kesmark::ui
