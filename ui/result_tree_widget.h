#pragma once

#include <QString>
#include <string>
#include <unordered_map>

#include "engine/compare/result_tree.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kesmark::ui {

class ImageList;

// The engine's result tree shown in a QTreeWidget: nodes found by their key
// (case-sensitive), pictures from the image list. Each item keeps its key
// (role Qt::UserRole) and its object's name (kNameRole); an object of one
// database only reads "<name> (only in database 1)" (or 2). Objects a stopped
// run did not compare, and the root of such a run, say so in a tool tip.
//
// With "only differences" on, nodes whose picture says "same" are hidden as
// they come and as they change; the root always shows.
class QtResultTree : public ResultTree {
  public:
    static constexpr int kNameRole = 0x0100 + 2;  // Qt::UserRole + 2

    // `tree` and `images` are not owned.
    QtResultTree(QTreeWidget& tree, const ImageList& images) : tree_(tree), images_(images) {}

    void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                 Picture image) override;
    void SetNodeImage(std::string_view key, Picture image) override;
    void SetNodePresence(std::string_view key, Presence presence) override;
    void Clear() override;

    // The key of an item of the tree.
    static std::string KeyOf(const QTreeWidgetItem* item);
    // The picture number of the node `key` (0 when there is none).
    Picture ImageOf(std::string_view key) const;
    // The item of the node `key`, or null.
    QTreeWidgetItem* ItemOf(std::string_view key) const;

    // Hides (true) or shows again (false) the nodes that are the same.
    void SetOnlyDifferences(bool only);
    bool OnlyDifferences() const { return onlyDifferences_; }

    // The next item after `after` (from the top when null), in the order the
    // tree reads from top to bottom with every node expanded, whose object's
    // name contains `text` ignoring case, among the items not hidden by "only
    // differences"; the search wraps around once. Null when none matches.
    QTreeWidgetItem* FindNext(const QString& text, QTreeWidgetItem* after) const;

  private:
    // Shows or hides `item` as "only differences" says for its picture.
    void ApplyFilter(QTreeWidgetItem* item, Picture image) const;

    QTreeWidget& tree_;                                        // Not owned.
    const ImageList& images_;                                  // Not owned.
    std::unordered_map<std::string, QTreeWidgetItem*> items_;  // Owned by the tree.
    std::unordered_map<std::string, Picture> imageNumbers_;
    bool onlyDifferences_ = false;
};

}  // namespace kesmark::ui
