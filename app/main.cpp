// kesmark: the desktop program. Start-up creates the one main window and
// shows it; the program ends when the window is closed.
//
//   kesmark [--settings FILE]
//
// Qt's own options (such as -platform) apply too.

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/program_state.h"
#include "engine/open_database.h"
#include "settings/settings_location.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kesmark::RemoveTemporaryFilesOnTermination();
    QApplication::setApplicationName(QStringLiteral("Kesmark"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(KESMARK_VERSION_MAJOR)
                                            .arg(KESMARK_VERSION_MINOR)
                                            .arg(KESMARK_VERSION_PATCH));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows how two databases differ."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Read and keep the settings in <file> instead of Kesmark.ini beside the "
                       "program, or else in ~/.config/kesmark/."),
        QStringLiteral("file"));
    parser.addOption(settingsOption);
    parser.process(application);  // ends the program after --help, --version or a bad option
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kesmark: unexpected argument '%s'\n\n%s",
                     parser.positionalArguments().front().toLocal8Bit().constData(),
                     parser.helpText().toLocal8Bit().constData());
        return 2;
    }
    std::optional<std::filesystem::path> explicitSettings;
    if (parser.isSet(settingsOption)) {
        explicitSettings = parser.value(settingsOption).toStdString();
    }

    kesmark::ui::frmMain window(
        kesmark::FindSettings(explicitSettings, kesmark::CurrentSettingsEnvironment()),
        kesmark::OpenDatabase);
    gMainForm = &window;
    window.show();
    const int status = QApplication::exec();
    gMainForm = nullptr;
    return status;
}
