#pragma once

#include "view/property_list.h"

class QTreeWidget;

namespace kesmark::ui {

class ImageList;

// The result view's property list shown in a three-column QTreeWidget used as
// a report list: property, database 1, database 2; a small picture and the
// name's colour per row.
class QtPropertyList : public PropertyList {
  public:
    // The item data role that keeps a row's picture number.
    static constexpr int kIconNumberRole = 0x0100 + 1;  // Qt::UserRole + 1

    // `list` and `images` are not owned.
    QtPropertyList(QTreeWidget& list, const ImageList& images) : list_(list), images_(images) {}

    void AddPropertyRow(std::string_view name, std::string_view text1, std::string_view text2,
                        Picture icon, std::uint32_t colour) override;
    void Clear() override;

  private:
    QTreeWidget& list_;        // Not owned.
    const ImageList& images_;  // Not owned.
};

}  // namespace kesmark::ui
