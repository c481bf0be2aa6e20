// kitupdater-screenshot: renders the real updater window into a PNG file,
// for the README and for checking the layout on a machine without a display.
//
//   kitupdater-screenshot [--dark] [--dialog FOLDER] OUTPUT.png [STATUS TEXT]
//
// --dark draws the window under a dark palette; --dialog FOLDER renders the
// file-open dialog, opened on FOLDER, instead of the window. The display scale
// comes from the environment (QT_SCALE_FACTOR=2 for 200 %).
#include "CommonRoutines.h"
#include "HexFileChoice.h"
#include "SettingsStore.h"
#include "UpdaterWindow.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPalette>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

namespace {

class NoDialogs : public UserDialogs {
public:
    void information(const QString &) override {}
    QString openFile(const OpenFileRequest &) override { return QString(); }
};

// A dark palette as dark desktop themes give it: light text on dark grey.
QPalette darkPalette()
{
    QPalette palette;
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230), disabled(127, 127, 127);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Light, QColor(80, 80, 80));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 66));
    palette.setColor(QPalette::Mid, QColor(40, 40, 40));
    palette.setColor(QPalette::Dark, QColor(25, 25, 25));
    palette.setColor(QPalette::Shadow, QColor(10, 10, 10));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::PlaceholderText, disabled);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

bool save(QWidget &widget, const QString &path)
{
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "kitupdater-screenshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

// Shows the real file-open dialog on folder and saves it once it is up.
bool saveFileDialog(QWidget &owner, SettingsStore &settings, const QString &folder, const QString &path)
{
    settings.setSetting(QStringLiteral("OPEN_DIR0"), folder);
    bool saved = false;
    QTimer::singleShot(500, &owner, [&] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            saved = save(*dialog, path);
            dialog->close();
        }
    });
    QtUserDialogs(&owner).openFile(HexFileChoice::request(settings));
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtJapanese(app);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("dark"), QStringLiteral("Draw under a dark palette.")});
    parser.addOption({QStringLiteral("dialog"), QStringLiteral("Render the file-open dialog on FOLDER."),
                      QStringLiteral("FOLDER")});
    parser.addPositionalArgument(QStringLiteral("OUTPUT.png"), QStringLiteral("The picture to write."));
    parser.addPositionalArgument(QStringLiteral("STATUS"), QStringLiteral("A text for the status line."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: kitupdater-screenshot [--dark] [--dialog FOLDER] OUTPUT.png [STATUS TEXT]\n");
        return 2;
    }
    if (parser.isSet(QStringLiteral("dark")))
        QApplication::setPalette(darkPalette());

    // A private settings file and program folder: the user's own are never touched.
    QTemporaryDir scratch;
    SettingsStore settings(scratch.filePath(QStringLiteral("KitUpdater.ini")));
    NoDialogs dialogs;
    UpdaterWindow window(scratch.path() + QLatin1Char('/'), settings, dialogs);
    if (args.size() > 1)
        window.msgCmt(args.at(1));
    window.show();
    QCoreApplication::processEvents();
    if (parser.isSet(QStringLiteral("dialog")))
        return saveFileDialog(window, settings, parser.value(QStringLiteral("dialog")), args.at(0)) ? 0 : 1;
    return save(window, args.at(0)) ? 0 : 1;
}
