#pragma once

// The main window's status bar and the progress bar inside it, each owned by
// a small wrapper: the wrapper creates its widget (and then owns it) or
// attaches to one it is given (and then never destroys it).

#include <QPointer>
#include <QProgressBar>
#include <QRect>
#include <QStatusBar>
#include <QString>
#include <vector>

class QLabel;
class QMainWindow;

namespace kesmark::ui {

// A status bar divided into parts by their right edges in pixels (-1: to the
// bar's right edge); each part shows one text. The bar is always high enough
// for a line of its font.
class StatusBarWindow : public QStatusBar {
    Q_OBJECT
  public:
    // Pixels between the bar's edges and a part, and a part's frame.
    static constexpr int kPartInset = 2;
    static constexpr int kPartFrame = 1;

    explicit StatusBarWindow(QWidget* parent);

    void SetParts(const std::vector<int>& rightEdges);
    std::vector<int> Parts() const { return rightEdges_; }
    QRect PartRect(int part) const;
    void SetPartText(int part, const QString& text);
    QString PartText(int part) const;
    // The label that shows a part's text (null for no such part).
    QLabel* PartLabel(int part) const;
    void LayOutParts();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Makes the bar high enough for its font.
    void FitFont();

    std::vector<int> rightEdges_;
    std::vector<QLabel*> labels_;  // Owned by the bar as children.
};

class CStatusBarCtl {
  public:
    CStatusBarCtl() = default;
    ~CStatusBarCtl() { Destroy(); }
    CStatusBarCtl(const CStatusBarCtl&) = delete;
    CStatusBarCtl& operator=(const CStatusBarCtl&) = delete;

    // Creates the bar along the bottom of `parent` with one part showing
    // `text`, and a minimum height when `minHeight` > 0. Only while no bar is
    // wrapped; returns the bar, or nullptr when one was wrapped already.
    QStatusBar* Create(QMainWindow* parent, const QString& text, int minHeight);
    // Forgets (and, if owned, destroys) the current bar, then wraps `bar`
    // without owning it.
    void Attach(StatusBarWindow* bar);
    // Destroys the bar if this object created it; then wraps nothing.
    // Idempotent.
    void Destroy();

    // Lays the parts out again for the bar's current width.
    void Resize();
    // Divides the bar into parts ending at `rightEdges` pixels. Returns false
    // without a bar.
    bool SetParts(const std::vector<int>& rightEdges);
    // The rectangle of a part in the bar's own coordinates (empty without a
    // bar or part).
    QRect GetRect(int part) const;
    // Shows `text` in `part`; `type` is the drawing type (0: sunken text).
    bool SetText(int part, const QString& text, int type);
    // The length of part's text (0 when there is none, leaving `text` and
    // `type` untouched); otherwise fills them.
    int GetText(int part, QString& text, int& type) const;

    StatusBarWindow* hWnd() const { return bar_; }
    bool Owned() const { return owned_; }

  private:
    QPointer<StatusBarWindow> bar_;
    bool owned_ = false;
    std::vector<int> types_;
};

class CProgressBarCtl {
  public:
    CProgressBarCtl() = default;
    ~CProgressBarCtl() { Destroy(); }
    CProgressBarCtl(const CProgressBarCtl&) = delete;
    CProgressBarCtl& operator=(const CProgressBarCtl&) = delete;

    // Creates a smooth progress bar at the given place (pixels) in `parent`,
    // range 0 to 100. Only while no bar is wrapped; returns it, or nullptr.
    QProgressBar* Create(int left, int top, int width, int height, QWidget* parent);
    void Attach(QProgressBar* bar);
    void Destroy();

    int Value() const { return bar_ ? bar_->value() : 0; }
    void SetValue(int value);
    void SetRange(int minimum, int maximum);

    QProgressBar* hWnd() const { return bar_; }
    bool Owned() const { return owned_; }

  private:
    QPointer<QProgressBar> bar_;
    bool owned_ = false;
};

}  // namespace kesmark::ui
