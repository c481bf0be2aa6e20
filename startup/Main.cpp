// kitupdater: writes firmware from an Intel HEX file into the kit.
#include "CommonRoutines.h"
#include "SettingsStore.h"
#include "StartupPlatform.h"
#include "UpdaterWindow.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QLockFile>
#include <cstdio>

// The program's folder with its trailing separator, set once at start-up.
QString AppDir;

int main(int argc, char *argv[])
{
    // The command line is not interpreted: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kitupdater"));

    const InstanceClaim instance = claimSingleInstance();
    // No window and no box of its own: the running copy's window comes
    // forward where the system allows it, and a line for whoever started it
    // from a terminal.
    if (instance.anotherCopyRuns) {
        bringWindowForward(instance.otherCopyPid);
        std::fprintf(stderr, "kitupdater: already running (process %lld); this start ends\n",
                     static_cast<long long>(instance.otherCopyPid));
        return 0;
    }
    if (!instance.skippedBecause.isEmpty())
        std::fprintf(stderr, "kitupdater: single-instance check skipped: %s\n", qPrintable(instance.skippedBecause));
    if (!installQtJapanese(app))
        std::fprintf(stderr, "kitupdater: Qt's Japanese texts (qtbase_ja.qm) are missing; its dialogs show English\n");

    AppDir = GetAppDir();

    SettingsStore settings;
    QtUserDialogs dialogs;
    UpdaterWindow window(AppDir, settings, dialogs);
    dialogs.setOwner(&window);
    window.show();
    QCoreApplication::processEvents();
    // The start-up benchmark (bench/bench_startup) times the start up to here.
    if (qEnvironmentVariableIsSet("KITUPDATER_EXIT_WHEN_SHOWN")) {
        // At once: stdout is a pipe there, and its buffer would be written
        // only at the exit, after the window's teardown.
        std::puts("shown");
        std::fflush(stdout);
        return 0;
    }
    return app.exec();
}
