#include "ui/status_bar_ctl.h"

#include <QEvent>
#include <QLabel>
#include <QMainWindow>

namespace kesmark::ui {

StatusBarWindow::StatusBarWindow(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    FitFont();
    SetParts({-1});
}

void StatusBarWindow::FitFont() {
    // A part's text sits inside a sunken frame of one pixel, inset by two
    // pixels from the bar's top and bottom: the bar is high enough for a whole
    // line of its font, descenders and underscores included.
    setMinimumHeight(fontMetrics().height() + 2 * kPartInset + 2 * kPartFrame + 2);
}

void StatusBarWindow::changeEvent(QEvent* event) {
    QStatusBar::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FitFont();
        LayOutParts();
    }
}

void StatusBarWindow::SetParts(const std::vector<int>& rightEdges) {
    for (QLabel* label : labels_) {
        delete label;
    }
    labels_.clear();
    rightEdges_ = rightEdges;
    for (std::size_t i = 0; i < rightEdges_.size(); ++i) {
        auto* label = new QLabel(this);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setLineWidth(kPartFrame);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        label->show();
        labels_.push_back(label);
    }
    LayOutParts();
}

QRect StatusBarWindow::PartRect(int part) const {
    if (part < 0 || part >= static_cast<int>(rightEdges_.size())) {
        return {};
    }
    const int left = part == 0 ? 0 : rightEdges_[part - 1] + 2;
    const int right = rightEdges_[part] < 0 ? width() : rightEdges_[part];
    return QRect(left, kPartInset, std::max(0, right - left),
                 std::max(0, height() - 2 * kPartInset));
}

void StatusBarWindow::SetPartText(int part, const QString& text) {
    if (part >= 0 && part < static_cast<int>(labels_.size())) {
        labels_[part]->setText(text);
    }
}

QString StatusBarWindow::PartText(int part) const {
    if (part < 0 || part >= static_cast<int>(labels_.size())) {
        return {};
    }
    return labels_[part]->text();
}

QLabel* StatusBarWindow::PartLabel(int part) const {
    if (part < 0 || part >= static_cast<int>(labels_.size())) {
        return nullptr;
    }
    return labels_[part];
}

void StatusBarWindow::LayOutParts() {
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        labels_[i]->setGeometry(PartRect(static_cast<int>(i)));
    }
}

void StatusBarWindow::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    LayOutParts();
}

QStatusBar* CStatusBarCtl::Create(QMainWindow* parent, const QString& text, int minHeight) {
    if (bar_) {
        return nullptr;
    }
    auto* bar = new StatusBarWindow(parent);
    if (minHeight > 0) {
        bar->setMinimumHeight(minHeight);
    }
    parent->setStatusBar(bar);
    bar->SetPartText(0, text);
    bar_ = bar;
    owned_ = true;
    types_.assign(1, 0);
    return bar;
}

void CStatusBarCtl::Attach(StatusBarWindow* bar) {
    Destroy();
    bar_ = bar;
    owned_ = false;
}

void CStatusBarCtl::Destroy() {
    if (owned_ && bar_) {
        if (auto* window = qobject_cast<QMainWindow*>(bar_->parentWidget())) {
            // Take it out of the window's layout first; the window would
            // only delete it later, and the bar must be gone now.
            window->setStatusBar(nullptr);
        }
        delete bar_.data();
    }
    bar_ = nullptr;
    owned_ = false;
}

void CStatusBarCtl::Resize() {
    if (bar_) {
        bar_->LayOutParts();
    }
}

bool CStatusBarCtl::SetParts(const std::vector<int>& rightEdges) {
    if (!bar_) {
        return false;
    }
    bar_->SetParts(rightEdges);
    types_.assign(rightEdges.size(), 0);
    return true;
}

QRect CStatusBarCtl::GetRect(int part) const {
    return bar_ ? bar_->PartRect(part) : QRect();
}

bool CStatusBarCtl::SetText(int part, const QString& text, int type) {
    if (!bar_ || part < 0 || part >= static_cast<int>(types_.size())) {
        return false;
    }
    bar_->SetPartText(part, text);
    types_[part] = type;
    return true;
}

int CStatusBarCtl::GetText(int part, QString& text, int& type) const {
    if (!bar_) {
        return 0;
    }
    const QString current = bar_->PartText(part);
    if (current.isEmpty()) {
        return 0;
    }
    text = current;
    type = types_[part];
    return static_cast<int>(current.size());
}

QProgressBar* CProgressBarCtl::Create(int left, int top, int width, int height, QWidget* parent) {
    if (bar_) {
        return nullptr;
    }
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setGeometry(left, top, width, height);
    bar->show();
    bar_ = bar;
    owned_ = true;
    return bar;
}

void CProgressBarCtl::Attach(QProgressBar* bar) {
    Destroy();
    bar_ = bar;
    owned_ = false;
}

void CProgressBarCtl::Destroy() {
    if (owned_ && bar_) {
        delete bar_.data();
    }
    bar_ = nullptr;
    owned_ = false;
}

void CProgressBarCtl::SetValue(int value) {
    if (bar_) {
        bar_->setValue(value);
    }
}

void CProgressBarCtl::SetRange(int minimum, int maximum) {
    if (bar_) {
        bar_->setRange(minimum, maximum);
    }
}

}  // namespace kesmark::ui
