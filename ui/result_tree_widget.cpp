#include "ui/result_tree_widget.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "engine/model/db_error.h"
#include "ui/image_list.h"

namespace kesmark::ui {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The tool tip a node's picture calls for (none for same and differs).
QString PictureToolTip(Picture image) {
    switch (image) {
        case Picture::NotCompared:
            return QStringLiteral(
                "Not compared: the comparison stopped before it finished this object.");
        case Picture::DatabasesIncomplete:
            return QStringLiteral(
                "The comparison did not finish: what it did not reach is marked as not "
                "compared, and a \"same\" picture below holds only for what was compared.");
        default:
            return {};
    }
}

bool HiddenOrUnderHidden(const QTreeWidgetItem* item) {
    for (; item; item = item->parent()) {
        if (item->isHidden()) {
            return true;
        }
    }
    return false;
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
    item->setData(0, kNameRole, FromUtf8(text));
    item->setIcon(0, images_.Icon(PictureNumber(image)));
    item->setToolTip(0, PictureToolTip(image));
    item->setData(0, Qt::UserRole, FromUtf8(key));
    if (parentKey.empty()) {
        item->setExpanded(true);
    }
    items_.emplace(keyText, item);
    imageNumbers_[keyText] = image;
    ApplyFilter(item, image);
}

void QtResultTree::SetNodeImage(std::string_view key, Picture image) {
    const auto it = items_.find(std::string(key));
    if (it == items_.end()) {
        throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
    }
    it->second->setIcon(0, images_.Icon(PictureNumber(image)));
    it->second->setToolTip(0, PictureToolTip(image));
    imageNumbers_[it->first] = image;
    ApplyFilter(it->second, image);
}

void QtResultTree::SetNodePresence(std::string_view key, Presence presence) {
    QTreeWidgetItem* item = ItemOf(key);
    if (!item) {
        throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
    }
    const QString name = item->data(0, kNameRole).toString();
    switch (presence) {
        case Presence::Both:
            item->setText(0, name);
            break;
        case Presence::Only1:
            item->setText(0, name + QStringLiteral(" (only in database 1)"));
            break;
        case Presence::Only2:
            item->setText(0, name + QStringLiteral(" (only in database 2)"));
            break;
    }
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

QTreeWidgetItem* QtResultTree::ItemOf(std::string_view key) const {
    const auto it = items_.find(std::string(key));
    return it == items_.end() ? nullptr : it->second;
}

void QtResultTree::ApplyFilter(QTreeWidgetItem* item, Picture image) const {
    const bool root = item->parent() == nullptr;
    item->setHidden(onlyDifferences_ && !root && StateOf(image) == NodeState::Same);
}

void QtResultTree::SetOnlyDifferences(bool only) {
    onlyDifferences_ = only;
    for (const auto& [key, item] : items_) {
        ApplyFilter(item, imageNumbers_.at(key));
    }
}

QTreeWidgetItem* QtResultTree::FindNext(const QString& text, QTreeWidgetItem* after) const {
    if (text.isEmpty()) {
        return nullptr;
    }
    auto matches = [&](const QTreeWidgetItem* item) {
        return !HiddenOrUnderHidden(item) &&
               item->data(0, kNameRole).toString().contains(text, Qt::CaseInsensitive);
    };
    // From just after `after` to the end, then from the top up to `after`.
    bool passed = after == nullptr;
    QTreeWidgetItem* firstMatch = nullptr;
    for (QTreeWidgetItemIterator it(&tree_); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (!passed) {
            if (!firstMatch && item != after && matches(item)) {
                firstMatch = item;
            }
            passed = item == after;
            continue;
        }
        if (matches(item)) {
            return item;
        }
    }
    if (firstMatch) {
        return firstMatch;
    }
    return after && matches(after) ? after : nullptr;
}

}  // namespace kesmark::ui
