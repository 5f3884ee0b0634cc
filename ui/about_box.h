#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace kesmark::ui {

// The web page of the program, shown and opened by the about box.
inline constexpr const char* kWebPage = "https://kesmark.example.org/";

// "About Kesmark": the program's name, its full version and its web page,
// which opens in the user's browser when clicked.
class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* owner);

    QFrame* fraAbout;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblEmail;
    QPushButton* cmdOK;

    // "Version major.minor.revision".
    static QString VersionText();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Places the controls at their design places, grown to fit their texts.
    void LayOut();
};

}  // namespace kesmark::ui
