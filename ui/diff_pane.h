#pragma once

#include <QWidget>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "view/property_list.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kesmark::ui {

// The difference pane under the property list: the two values of the
// selected property side by side, lines aligned, changed lines shaded and the
// changed characters within them marked; byte arrays as hexadecimal lines
// with the first differing offset. Each side has a Copy button that puts its
// value's text on the clipboard. Values are compared up to the limits of
// DiffTexts; the summary line says when a value was longer.
class DiffPane : public QWidget {
    Q_OBJECT
  public:
    explicit DiffPane(QWidget* parent);

    // Shows the two values of `row`. A cell without a value ("not found",
    // "skipped", an error) shows its text in italics, without comparison.
    void ShowRow(const PropertyRow& row);
    // Empties both sides and the summary.
    void Clear();

    // What side 1 or 2 shows, one line per row, the rows that the other side
    // alone has left empty.
    QString ShownText(int side) const;
    // The text the Copy button of side 1 or 2 copies: the value as text (a
    // byte array as its hexadecimal lines), without the empty lines.
    QString CopyText(int side) const;
    // The marked characters of side 1 or 2, as (position, length) in the
    // shown text.
    std::vector<std::pair<int, int>> MarkedCharacters(int side) const;
    // The shaded lines of side 1 or 2 (changed, or on one side only), by
    // number from 0.
    std::vector<int> ShadedLines(int side) const;
    // The summary line above the two sides.
    QString Summary() const;

    QLabel* lblSummary = nullptr;
    std::array<QLabel*, 2> lblSide{};
    std::array<QPushButton*, 2> cmdCopy{};
    std::array<QPlainTextEdit*, 2> txtSide{};

  private:
    static std::size_t Index(int side) { return side == 2 ? 1 : 0; }
    void CopySide(int side);

    std::array<std::optional<Value>, 2> values_;  // what the sides show, for copying
    std::array<std::vector<std::pair<int, int>>, 2> marked_;
    std::array<std::vector<int>, 2> shaded_;
};

}  // namespace kesmark::ui
