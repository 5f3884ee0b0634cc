// kesmark: the desktop program. Start-up creates the one main window and
// shows it; the program ends when the window is closed. There are no
// command-line arguments of its own (Qt's, such as -platform, still apply).

#include <QApplication>

#include "app/program_state.h"
#include "engine/open_database.h"
#include "settings/ini_file.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kesmark::RemoveTemporaryFilesOnTermination();
    QApplication::setApplicationName(QStringLiteral("Kesmark"));
    kesmark::ui::frmMain window(kesmark::DefaultSettingsPath(), kesmark::OpenDatabase);
    gMainForm = &window;
    window.show();
    const int status = QApplication::exec();
    gMainForm = nullptr;
    return status;
}
