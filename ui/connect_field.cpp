#include "ui/connect_field.h"

#include "engine/model/connect_string.h"

namespace kesmark::ui {

ConnectField::ConnectField(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, &ConnectField::TakeShownText);
}

void ConnectField::SetConnectString(const QString& text) {
    real_ = text;
    ShowMasked();
}

void ConnectField::TakeShownText(const QString& shown) {
    if (showing_) {
        return;
    }
    real_ = QString::fromStdString(RestorePasswords(shown.toStdString(), real_.toStdString()));
    // While the user types, a password typed anew stays readable; it is
    // masked when the field loses the focus.
    if (!hasFocus()) {
        ShowMasked();
    }
}

void ConnectField::ShowMasked() {
    const QString masked = QString::fromStdString(MaskPasswords(real_.toStdString()));
    if (masked == text()) {
        return;
    }
    showing_ = true;
    setText(masked);
    showing_ = false;
}

void ConnectField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    ShowMasked();
}

}  // namespace kesmark::ui
