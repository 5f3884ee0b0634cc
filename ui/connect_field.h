#pragma once

#include <QLineEdit>

namespace kesmark::ui {

// A connect-string field that never shows a password: it keeps the real
// connect string and shows it with every password value masked ("PWD=***").
// Editing the shown text edits the real string: a password whose mask is
// left as it is keeps its real value, one typed anew takes the typed text
// (shown as typed until the field loses the focus, then masked). Text set
// through QLineEdit::setText or clear() is taken as the real string.
class ConnectField : public QLineEdit {
    Q_OBJECT
  public:
    explicit ConnectField(QWidget* parent);

    // The connect string as it is used and stored, passwords in clear.
    QString ConnectString() const { return real_; }
    // Replaces the connect string; the field shows it masked.
    void SetConnectString(const QString& text);

  protected:
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // Takes what the field now shows as an edit of the real string.
    void TakeShownText(const QString& shown);
    // Shows the real string masked, unless it shows so already.
    void ShowMasked();

    QString real_;
    bool showing_ = false;  // the text is being replaced by ShowMasked
};

}  // namespace kesmark::ui
