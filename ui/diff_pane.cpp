#include "ui/diff_pane.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

#include "view/text_diff.h"

namespace kesmark::ui {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Shades of a changed line and of its changed characters, per side; a line
// one side alone has; the empty line standing in for it on the other side.
const QColor kChangedLine[2] = {QColor(0xFF, 0xEC, 0xEC), QColor(0xE6, 0xF6, 0xE6)};
const QColor kChangedCharacters[2] = {QColor(0xFF, 0xAE, 0xAE), QColor(0x9C, 0xE0, 0x9C)};
const QColor kOneSidedLine[2] = {QColor(0xFF, 0xD6, 0xD6), QColor(0xCC, 0xF0, 0xCC)};
const QColor kFillerLine(0xEE, 0xEE, 0xEE);

QString FormatSize(std::uint64_t bytes) {
    return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
}

// A value as the pane compares it: text as it is, a byte array as its
// hexadecimal lines, anything else as its plain text.
QString ValueText(const Value& value) {
    if (value.IsNull()) {
        return QStringLiteral("Null");
    }
    if (const auto* bytes = value.As<Bytes>()) {
        QStringList lines;
        for (const auto& line : HexLines(*bytes)) {
            lines << QString::fromStdString(line);
        }
        return lines.join(QLatin1Char('\n'));
    }
    if (const auto* text = value.As<std::string>()) {
        return FromUtf8(*text);
    }
    return FromUtf8(PlainText(value));
}

// What one side of the pane shows for one comparison: its text, the lines
// to shade and the characters to mark.
struct SideContent {
    QString text;
    std::vector<std::pair<int, QColor>> lines;  // line number, shade
    std::vector<std::pair<int, int>> marks;     // position, length
};

// Lays the rows of a difference out as the two sides' texts, the k-th row on
// the k-th line of both.
std::array<SideContent, 2> LayOut(const TextDiff& diff) {
    std::array<SideContent, 2> sides;
    int lineNumber = 0;
    for (const DiffRow& row : diff.rows) {
        const std::optional<std::size_t> lines[2] = {row.line1, row.line2};
        const std::vector<TextRange>* ranges[2] = {&row.ranges1, &row.ranges2};
        const std::vector<std::string>* texts[2] = {&diff.lines1, &diff.lines2};
        for (std::size_t s = 0; s < 2; ++s) {
            SideContent& side = sides[s];
            if (lineNumber > 0) {
                side.text += QLatin1Char('\n');
            }
            const int lineStart = static_cast<int>(side.text.size());
            if (!lines[s]) {
                side.lines.emplace_back(lineNumber, kFillerLine);
                continue;
            }
            const std::string& line = (*texts[s])[*lines[s]];
            side.text += FromUtf8(line);
            if (row.change == LineChange::Changed) {
                side.lines.emplace_back(lineNumber, kChangedLine[s]);
            } else if (row.change != LineChange::Same) {
                side.lines.emplace_back(lineNumber, kOneSidedLine[s]);
            }
            for (const TextRange& range : *ranges[s]) {
                const auto begin = FromUtf8(std::string_view(line).substr(0, range.begin)).size();
                const auto length =
                    FromUtf8(std::string_view(line).substr(range.begin, range.length)).size();
                side.marks.emplace_back(lineStart + static_cast<int>(begin),
                                        static_cast<int>(length));
            }
        }
        ++lineNumber;
    }
    return sides;
}

}  // namespace

DiffPane::DiffPane(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 2, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    lblSummary = new QLabel(this);
    lblSummary->setTextFormat(Qt::PlainText);
    grid->addWidget(lblSummary, 0, 0, 1, 4);

    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF());
    for (int s = 0; s < 2; ++s) {
        lblSide[s] =
            new QLabel(s == 0 ? QStringLiteral("Database 1") : QStringLiteral("Database 2"), this);
        cmdCopy[s] = new QPushButton(QStringLiteral("Copy"), this);
        cmdCopy[s]->setToolTip(s == 0 ? QStringLiteral("Copy the value of database 1")
                                      : QStringLiteral("Copy the value of database 2"));
        cmdCopy[s]->setEnabled(false);
        txtSide[s] = new QPlainTextEdit(this);
        txtSide[s]->setReadOnly(true);
        txtSide[s]->setLineWrapMode(QPlainTextEdit::NoWrap);
        txtSide[s]->setFont(fixed);
        txtSide[s]->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
        grid->addWidget(lblSide[s], 1, 2 * s);
        grid->addWidget(cmdCopy[s], 1, 2 * s + 1, Qt::AlignRight);
        grid->addWidget(txtSide[s], 2, 2 * s, 1, 2);
        connect(cmdCopy[s], &QPushButton::clicked, this, [this, s] { CopySide(s + 1); });
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);

    // The two sides scroll together, line for line.
    for (int s = 0; s < 2; ++s) {
        QPlainTextEdit* other = txtSide[1 - s];
        connect(txtSide[s]->verticalScrollBar(), &QScrollBar::valueChanged,
                other->verticalScrollBar(), &QScrollBar::setValue);
        connect(txtSide[s]->horizontalScrollBar(), &QScrollBar::valueChanged,
                other->horizontalScrollBar(), &QScrollBar::setValue);
    }
}

void DiffPane::Clear() {
    lblSummary->clear();
    for (std::size_t s = 0; s < 2; ++s) {
        txtSide[s]->clear();
        txtSide[s]->setExtraSelections({});
        cmdCopy[s]->setEnabled(false);
        values_[s].reset();
        marked_[s].clear();
        shaded_[s].clear();
    }
}

void DiffPane::ShowRow(const PropertyRow& row) {
    Clear();
    const QString name = FromUtf8(row.name);
    const std::optional<Value>* values[2] = {&row.value1, &row.value2};
    const std::string* cells[2] = {&row.text1, &row.text2};

    std::array<SideContent, 2> sides;
    QString summary;
    std::array<bool, 2> italic = {false, false};
    const bool bothValues = row.value1 && row.value2;
    if (bothValues && row.value1->IsBytes() && row.value2->IsBytes()) {
        const BinaryDiff diff = DiffBytes(*row.value1->As<Bytes>(), *row.value2->As<Bytes>());
        sides = LayOut(diff.lines);
        summary = QStringLiteral("%1: %2 and %3")
                      .arg(name, FormatSize(diff.size1), FormatSize(diff.size2));
        if (diff.firstDifference) {
            summary += QStringLiteral("; first difference at offset %1 (0x%2)")
                           .arg(*diff.firstDifference)
                           .arg(*diff.firstDifference, 0, 16);
        } else {
            summary += QStringLiteral("; equal");
        }
        if (diff.lines.truncated) {
            summary +=
                QStringLiteral(" (shown: the first %1)").arg(FormatSize(DiffLimits{}.maxBytes));
        }
    } else if (bothValues && !row.value1->IsNull() && !row.value2->IsNull()) {
        // Texts are compared where they are; other values as their text.
        std::string converted[2];
        std::string_view texts[2];
        for (std::size_t s = 0; s < 2; ++s) {
            if (const auto* text = (*values[s])->As<std::string>()) {
                texts[s] = *text;
            } else {
                converted[s] = ValueText(**values[s]).toStdString();
                texts[s] = converted[s];
            }
        }
        const std::string_view text1 = texts[0];
        const std::string_view text2 = texts[1];
        const TextDiff diff = DiffTexts(text1, text2);
        sides = LayOut(diff);
        const std::size_t changed = diff.ChangedRows();
        if (changed == 0) {
            summary = text1 == text2 ? QStringLiteral("%1: equal").arg(name)
                                     : QStringLiteral("%1: equal as far as compared").arg(name);
        } else if (diff.rows.size() == 1) {
            summary = QStringLiteral("%1: differs").arg(name);
        } else {
            summary = QStringLiteral("%1: %2 of %3 lines differ")
                          .arg(name)
                          .arg(changed)
                          .arg(diff.rows.size());
        }
        if (diff.truncated) {
            summary += QStringLiteral(" (compared: the first %1 of each value)")
                           .arg(FormatSize(DiffLimits{}.maxBytes));
        }
    } else {
        // Null, or a cell without a value: each side as it is, not compared.
        std::array<QString, 2> notes;
        for (std::size_t s = 0; s < 2; ++s) {
            if (*values[s] && !(*values[s])->IsNull()) {
                sides[s].text = ValueText(**values[s]);
                if (sides[s].text.isEmpty()) {
                    notes[s] = QStringLiteral("empty text");
                }
                continue;
            }
            sides[s].text = *values[s] ? QStringLiteral("Null") : FromUtf8(*cells[s]);
            italic[s] = true;
            notes[s] = sides[s].text;
        }
        summary = name;
        for (std::size_t s = 0; s < 2; ++s) {
            if (!notes[s].isEmpty()) {
                summary += QStringLiteral("; database %1: %2").arg(s + 1).arg(notes[s]);
            }
        }
    }
    lblSummary->setText(summary);

    for (std::size_t s = 0; s < 2; ++s) {
        QPlainTextEdit* view = txtSide[s];
        view->setPlainText(sides[s].text);
        QList<QTextEdit::ExtraSelection> selections;
        for (const auto& [line, shade] : sides[s].lines) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(view->document()->findBlockByNumber(line));
            selection.format.setBackground(shade);
            selection.format.setProperty(QTextFormat::FullWidthSelection, true);
            selections << selection;
            shaded_[s].push_back(line);
        }
        for (const auto& [position, length] : sides[s].marks) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(view->document());
            selection.cursor.setPosition(position);
            selection.cursor.setPosition(position + length, QTextCursor::KeepAnchor);
            selection.format.setBackground(kChangedCharacters[s]);
            selections << selection;
            marked_[s].emplace_back(position, length);
        }
        if (italic[s]) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(view->document());
            selection.cursor.select(QTextCursor::Document);
            selection.format.setFontItalic(true);
            selection.format.setForeground(QColor(0x70, 0x70, 0x70));
            selections << selection;
        }
        view->setExtraSelections(selections);
        // What the Copy button copies: the value itself, never a note.
        if (*values[s] && !(*values[s])->IsNull()) {
            values_[s] = **values[s];
            cmdCopy[s]->setEnabled(true);
        }
    }
}

QString DiffPane::ShownText(int side) const {
    return txtSide[Index(side)]->toPlainText();
}

std::vector<std::pair<int, int>> DiffPane::MarkedCharacters(int side) const {
    return marked_[Index(side)];
}

std::vector<int> DiffPane::ShadedLines(int side) const {
    return shaded_[Index(side)];
}

QString DiffPane::Summary() const {
    return lblSummary->text();
}

QString DiffPane::CopyText(int side) const {
    const auto& value = values_[Index(side)];
    return value ? ValueText(*value) : QString();
}

void DiffPane::CopySide(int side) {
    QGuiApplication::clipboard()->setText(CopyText(side));
}

}  // namespace kesmark::ui
