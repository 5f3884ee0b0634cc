#include "ui/cut_text_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QRegularExpression>
#include <QStyle>
#include <QToolTip>

namespace kesmark::ui {

namespace {

QString Limited(QString text) {
    if (text.size() > CutTextDelegate::kMaxToolTipCharacters) {
        text.truncate(CutTextDelegate::kMaxToolTipCharacters);
        text += QStringLiteral(" …");
    }
    return text;
}

}  // namespace

QString CutTextDelegate::OneLine(const QString& text) {
    const auto end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (end < 0) {
        return text;
    }
    return text.left(end) + QStringLiteral(" …");
}

void CutTextDelegate::initStyleOption(QStyleOptionViewItem* option,
                                      const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = OneLine(option->text);
}

QString CutTextDelegate::ToolTipText(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const QVariant full = index.data(kFullTextRole);
    const QString whole = full.isValid() ? full.toString() : text;

    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const bool cut =
        opt.text != whole || opt.fontMetrics.horizontalAdvance(opt.text) > textRect.width();

    const QString own = index.data(Qt::ToolTipRole).toString();
    if (!cut) {
        return own;
    }
    return own.isEmpty() ? Limited(whole) : Limited(whole) + QStringLiteral("\n\n") + own;
}

bool CutTextDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!event || !view || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString tip = ToolTipText(option, index);
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    // Rich text, so that long lines wrap; their own line breaks and blanks kept.
    QToolTip::showText(event->globalPos(),
                       QStringLiteral("<p style='white-space:pre-wrap'>") + tip.toHtmlEscaped() +
                           QStringLiteral("</p>"),
                       view);
    return true;
}

}  // namespace kesmark::ui
