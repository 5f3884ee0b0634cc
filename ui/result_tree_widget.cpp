#include "ui/result_tree_widget.h"

#include <QTreeWidget>

#include "engine/model/db_error.h"
#include "ui/image_list.h"

namespace kesmark::ui {

namespace {
QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void QtResultTree::AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                           Picture image) {
    const std::string keyText(key);
    if (items_.contains(keyText)) {
        throw DbError(errors::kDuplicateKey, "Key is not unique in collection", "TreeView");
    }
    QTreeWidgetItem* item = nullptr;
    if (parentKey.empty()) {
        item = new QTreeWidgetItem(&tree_);
    } else {
        const auto parent = items_.find(std::string(parentKey));
        if (parent == items_.end()) {
            throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
        }
        item = new QTreeWidgetItem(parent->second);
    }
    item->setText(0, FromUtf8(text));
    item->setIcon(0, images_.Icon(PictureNumber(image)));
    item->setData(0, Qt::UserRole, FromUtf8(key));
    if (parentKey.empty()) {
        item->setExpanded(true);
    }
    items_.emplace(keyText, item);
    imageNumbers_[keyText] = image;
}

void QtResultTree::SetNodeImage(std::string_view key, Picture image) {
    const auto it = items_.find(std::string(key));
    if (it == items_.end()) {
        throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
    }
    it->second->setIcon(0, images_.Icon(PictureNumber(image)));
    imageNumbers_[it->first] = image;
}

void QtResultTree::Clear() {
    tree_.clear();
    items_.clear();
    imageNumbers_.clear();
}

std::string QtResultTree::KeyOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toString().toStdString() : std::string();
}

Picture QtResultTree::ImageOf(std::string_view key) const {
    const auto it = imageNumbers_.find(std::string(key));
    return it == imageNumbers_.end() ? Picture::None : it->second;
}

}  // namespace kesmark::ui
