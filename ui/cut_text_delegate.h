#pragma once

#include <QStyledItemDelegate>

namespace kesmark::ui {

// Draws each cell of a tree or list on one line, and gives a tool tip with
// the whole text when the cell shows less than all of it: a text cut at the
// column's edge, a text of several lines (shown as its first line and " …"),
// or a cell whose item keeps a longer text under kFullTextRole (a byte array
// shown by its first bytes). A tool tip the item sets itself (Qt::ToolTipRole)
// is shown as well. Tool tips are limited to kMaxToolTipCharacters.
class CutTextDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    // The item data role of a cell's whole text, when its display text is
    // only part of it.
    static constexpr int kFullTextRole = Qt::UserRole + 10;
    static constexpr int kMaxToolTipCharacters = 2000;

    explicit CutTextDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

    // The text a cell shows: the first line of its text, with " …" when there
    // are more lines.
    static QString OneLine(const QString& text);

    // The tool tip of the cell at `index` drawn with `option` (its rectangle
    // and font): empty when the cell shows all of its text and its item sets
    // no tool tip of its own.
    QString ToolTipText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace kesmark::ui
