// kitupdater-screenshot: renders the real updater window into a PNG file,
// for the README and for checking the layout on a machine without a display.
//
//   kitupdater-screenshot OUTPUT.png [STATUS TEXT]
#include "SettingsStore.h"
#include "UpdaterWindow.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

namespace {
class NoDialogs : public UserDialogs {
public:
    void information(const QString &) override {}
    QString openFile(const OpenFileRequest &) override { return QString(); }
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kitupdater-screenshot OUTPUT.png [STATUS TEXT]\n");
        return 2;
    }
    // A private settings file and program folder: the user's own are never touched.
    QTemporaryDir scratch;
    SettingsStore settings(scratch.filePath(QStringLiteral("KitUpdater.ini")));
    NoDialogs dialogs;
    UpdaterWindow window(scratch.path() + QLatin1Char('/'), settings, dialogs);
    if (args.size() > 2)
        window.msgCmt(args.at(2));
    window.show();
    QCoreApplication::processEvents();
    if (!window.grab().save(args.at(1))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QTextStream(stdout) << args.at(1) << '\n';
    return 0;
}
