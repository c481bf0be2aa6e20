// kitupdater: writes firmware from an Intel HEX file into the kit.
#include "CommonRoutines.h"
#include "SettingsStore.h"
#include "UpdaterWindow.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QLockFile>

// The program's folder with its trailing separator, set once at start-up.
QString AppDir;

int main(int argc, char *argv[])
{
    // The command line is not interpreted: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kitupdater"));

    const std::unique_ptr<QLockFile> instance = claimSingleInstance();
    if (!instance)
        return 0;

    AppDir = GetAppDir();

    SettingsStore settings;
    QtUserDialogs dialogs;
    UpdaterWindow window(AppDir, settings, dialogs);
    dialogs.setOwner(&window);
    window.show();
    QCoreApplication::processEvents();
    return app.exec();
}
