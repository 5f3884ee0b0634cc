#pragma once

#include <string>
#include <unordered_map>

#include "engine/compare/result_tree.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kesmark::ui {

class ImageList;

// The engine's result tree shown in a QTreeWidget: nodes found by their key
// (case-sensitive), pictures from the image list. The key of a node is kept
// in its item (role Qt::UserRole).
class QtResultTree : public ResultTree {
  public:
    // `tree` and `images` are not owned.
    QtResultTree(QTreeWidget& tree, const ImageList& images) : tree_(tree), images_(images) {}

    void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                 Picture image) override;
    void SetNodeImage(std::string_view key, Picture image) override;
    void Clear() override;

    // The key of an item of the tree.
    static std::string KeyOf(const QTreeWidgetItem* item);
    // The picture number of the node `key` (0 when there is none).
    Picture ImageOf(std::string_view key) const;

  private:
    QTreeWidget& tree_;                                        // Not owned.
    const ImageList& images_;                                  // Not owned.
    std::unordered_map<std::string, QTreeWidgetItem*> items_;  // Owned by the tree.
    std::unordered_map<std::string, Picture> imageNumbers_;
};

}  // namespace kesmark::ui
