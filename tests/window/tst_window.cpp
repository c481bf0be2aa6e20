// The updater window on a real (offscreen) window with a real settings file.
#include "CommonRoutines.h"
#include "FakeDialogs.h"
#include "HexFileChoice.h"
#include "SettingsStore.h"
#include "UpdaterWindow.h"
#include "UserDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QDialogButtonBox>
#include <QtTest>
#include <memory>

namespace {
// A path as the window shows and keeps it: with Windows' own separators there.
QString onWindowsElse(const char *windows, const char *elsewhere)
{
#ifdef Q_OS_WIN
    Q_UNUSED(elsewhere);
    return QString::fromUtf8(windows);
#else
    Q_UNUSED(windows);
    return QString::fromUtf8(elsewhere);
#endif
}
} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowFrame();
    void notice();
    void separatorLines();
    void lists();
    void tabOrderAndFirstFocus();
    void progressBarFollowsTheRules();
    void startTexts_data();
    void startTexts();
    void pickingFromTheList_data();
    void pickingFromTheList();
    void pickingWithTheMouse();
    void leavingTheFieldStoresNothing_data();
    void leavingTheFieldStoresNothing();
    void logFile_data();
    void logFile();
    void logFileThatCannotBeWritten();
    void updateButtonEnabledByFileChoice();
    void fileChoice_data();
    void fileChoice();
    void folderRememberedByOlderVersions_data();
    void folderRememberedByOlderVersions();
    void dialogSettings();
    void emptyPortBoxRefusesFileChoice();
    void hexPatternMatchesAnyCase();
    void unreadableSettingsStillOpen();
    void settingsThatCannotBeWritten();
    void realMessageBox();
    void realFileDialog();
    void fileDialogWithoutRememberedFolder();
    void textBoxesStayReadable_data();
    void textBoxesStayReadable();
    void separatorAtDisplayScales_data();
    void separatorAtDisplayScales();
    void accessibleNames();

private:
    UpdaterWindow &window();
    template <typename T> T *control(const char *name) { return window().findChild<T *>(QLatin1String(name)); }
    QString iniPath() const { return m_config->path() + QStringLiteral("/KitUpdater/KitUpdater.ini"); }
    void writeIni(const QByteArray &content);
    // The user's own input: real key and mouse events through the window.
    void showActive();
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void type(const QString &text);
    void tabTo(QWidget *target);
    void clickOn(QWidget *target, QPoint at = QPoint(-1, -1));
    void wheel(QWidget *target, int angle);
    QString storedSetting(const QString &key) const;

    std::unique_ptr<QTemporaryDir> m_config;  // the user's config folder, new for every test
    std::unique_ptr<QTemporaryDir> m_appDir;  // the program's folder
    std::unique_ptr<SettingsStore> m_settings;
    FakeDialogs m_dialogs;
    std::unique_ptr<UpdaterWindow> m_window;
};

void WindowTest::initTestCase()
{
    // As the program does: Qt's own dialogs in Japanese.
    QVERIFY(installQtJapanese(*QCoreApplication::instance()));
}

void WindowTest::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_appDir = std::make_unique<QTemporaryDir>();
    // The user's settings file lives here for this test: <folder>/KitUpdater/KitUpdater.ini.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config->path());
    m_settings = std::make_unique<SettingsStore>();
    m_dialogs = FakeDialogs{};
}

void WindowTest::cleanup()
{
    m_window.reset();
    m_settings.reset();
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void WindowTest::showActive()
{
    window().show();
    // A window system without a window manager (Xvfb) activates only a window
    // that is already on the screen.
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window()));
}

void WindowTest::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget *popup = QApplication::activePopupWidget();
    QWidget *target = popup ? popup : QApplication::activeWindow();
    QTest::keyClick(target->windowHandle(), key, modifiers);
}

void WindowTest::type(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(QApplication::activeWindow()->windowHandle(), c.toLatin1());
}

void WindowTest::tabTo(QWidget *target)
{
    for (int i = 0; i < 10 && QApplication::focusWidget() != target; ++i)
        press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), target);
}

void WindowTest::clickOn(QWidget *target, QPoint at)
{
    if (at.x() < 0)
        at = target->rect().center();
    QWidget *top = target->window();
    const QPoint inWindow = target->mapTo(top, at);
    QTest::mouseMove(top->windowHandle(), inWindow);
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, inWindow);
}

void WindowTest::wheel(QWidget *target, int angle)
{
    // To the widget under the pointer (the box's field), as the window system
    // delivers it; the field passes it on to the box.
    QWidget *top = target->window();
    const QPoint inWindow = target->mapTo(top, target->rect().center());
    QWidget *under = top->childAt(inWindow);
    QWheelEvent event(under->mapFrom(top, inWindow), top->mapToGlobal(inWindow), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QVERIFY(qApp->notify(under, &event));
}

QString WindowTest::storedSetting(const QString &key) const
{
    return QSettings(iniPath(), QSettings::IniFormat).value(QStringLiteral("Settings/") + key).toString();
}

UpdaterWindow &WindowTest::window()
{
    if (!m_window)
        m_window = std::make_unique<UpdaterWindow>(m_appDir->path() + QLatin1Char('/'), *m_settings, m_dialogs);
    return *m_window;
}

void WindowTest::writeIni(const QByteArray &content)
{
    QDir().mkpath(m_config->path() + QStringLiteral("/KitUpdater"));
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    m_settings = std::make_unique<SettingsStore>();
}

void WindowTest::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");   // pixels at 96 dpi: twips / 15

    QTest::newRow("Label1") << "Label1" << QStringLiteral("通信ポート Com　：") << QRect(9, 12, 103, 13);
    QTest::newRow("Combo_ComPort") << "Combo_ComPort" << QString() << QRect(120, 9, 91, 20);
    QTest::newRow("OKButton") << "OKButton" << QStringLiteral("閉じる") << QRect(432, 15, 100, 28);
    QTest::newRow("Label2") << "Label2" << QStringLiteral("通信スピード bps　：") << QRect(9, 36, 118, 13);
    QTest::newRow("Combo_speed") << "Combo_speed" << QString() << QRect(120, 33, 91, 20);
    QTest::newRow("Label3") << "Label3" << QString() << QRect(9, 72, 526, 106);
    QTest::newRow("CmdVersion") << "CmdVersion" << "Version Read" << QRect(6, 180, 79, 52);
    QTest::newRow("Text_FirmwareVersion") << "Text_FirmwareVersion" << QString() << QRect(90, 180, 442, 52);
    QTest::newRow("CmdOpen") << "CmdOpen" << "OPEN" << QRect(6, 237, 79, 52);
    QTest::newRow("Text_File") << "Text_File" << QString() << QRect(90, 237, 442, 52);
    QTest::newRow("CmdUpdate") << "CmdUpdate" << "UPDATE" << QRect(6, 294, 79, 52);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QString() << QRect(90, 294, 442, 52);
    QTest::newRow("StatusBar1") << "StatusBar1" << QString() << QRect(0, 352, 539, 28);
}

void WindowTest::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QWidget *widget = window().findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
    QVERIFY(widget->isVisibleTo(&window()));
    if (auto *label = qobject_cast<QLabel *>(widget); label && !text.isEmpty())
        QCOMPARE(label->text(), text);
    if (auto *button = qobject_cast<QAbstractButton *>(widget); button && !text.isEmpty())
        QCOMPARE(button->text(), text);
    if (auto *box = qobject_cast<QPlainTextEdit *>(widget)) {
        QVERIFY(box->isReadOnly());
        QVERIFY(box->toPlainText().isEmpty());
        QCOMPARE(box->font().pointSizeF(), 12.0);
        QVERIFY(QFontInfo(box->font()).family().contains(QStringLiteral("Gothic"))
                || QFontInfo(box->font()).family().contains(QStringLiteral("ゴシック")));
    }
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        QVERIFY(combo->isEditable());
}

void WindowTest::windowFrame()
{
    UpdaterWindow &w = window();
    QCOMPARE(w.windowTitle(), QStringLiteral("ファームウエアアップデート 　Ver1.00"));
    QCOMPARE(w.size(), QSize(539, 380));
    QCOMPARE(w.minimumSize(), QSize(539, 380));
    QCOMPARE(w.maximumSize(), QSize(539, 380));
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(!control<QToolButton>("CmdUpdate")->isEnabled());
    QVERIFY(control<QToolButton>("CmdVersion")->isEnabled());
    // Pictures drawn afresh at every scale, not a 32-pixel bitmap blown up.
    QCOMPARE(w.windowIcon().pixmap(QSize(32, 32), 2.0).size(), QSize(64, 64));
    for (const char *name : {"CmdVersion", "CmdOpen", "CmdUpdate"})
        QVERIFY2(control<QToolButton>(name)->icon().pixmap(QSize(32, 32), 2.0).size() == QSize(64, 64), name);
    auto *bar = control<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    auto *panel1 = w.findChild<QLabel *>(QStringLiteral("Panel1"));
    auto *panel2 = w.findChild<QLabel *>(QStringLiteral("Panel2"));
    QVERIFY(panel1 && panel2);
    QVERIFY(panel1->text().isEmpty());
    QCOMPARE(panel2->text(), QTime::currentTime().toString(QStringLiteral("H:mm")));
    QCOMPARE(panel1->width(), 423);
    QCOMPARE(panel2->width(), 96);
}

void WindowTest::notice()
{
    QCOMPARE(control<QLabel>("Label3")->text(),
             QStringLiteral("この'ファームウエアアップデート'ウィンドウ内の操作を行った後は、キットの電源を再投入してください。"
                            "\r\n\r\n多目的タイマーの設定：通信スピード９６００ＢＰＳ"));
}

void WindowTest::separatorLines()
{
    QWidget *line1 = window().findChild<QWidget *>(QStringLiteral("Line1"));
    QWidget *line2 = window().findChild<QWidget *>(QStringLiteral("Line2"));
    QVERIFY(line1 && line2);
    // Line1 from (45, 945) to (8010, 945); Line2 moved 20 twips right and down.
    QCOMPARE(line1->geometry(), QRect(3, 63, 532, 1));
    QCOMPARE(line2->geometry(), QRect(4, 64, 532, 1));
}

void WindowTest::lists()
{
    auto *ports = control<QComboBox>("Combo_ComPort");
    QCOMPARE(ports->count(), 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(ports->itemText(i), QString::number(i + 1));
    auto *speeds = control<QComboBox>("Combo_speed");
    QCOMPARE(speeds->count(), 3);
    QCOMPARE(speeds->itemText(0), QStringLiteral(" 9600"));
    QCOMPARE(speeds->itemText(1), QStringLiteral("19200"));
    QCOMPARE(speeds->itemText(2), QStringLiteral("57600"));
}

void WindowTest::tabOrderAndFirstFocus()
{
    UpdaterWindow &w = window();
    showActive();
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("OKButton"));

    auto visit = [&](const QStringList &expected) {
        for (const QString &name : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *focus = QApplication::focusWidget();
            QWidget *want = w.findChild<QWidget *>(name);
            // An editable combo box gives the focus to its line edit.
            QVERIFY2(focus == want || focus->parentWidget() == want,
                     qPrintable(name + QStringLiteral(" expected, got ") + focus->objectName()));
        }
    };
    // CmdUpdate is skipped while disabled.
    visit({"CmdOpen", "Combo_ComPort", "CmdVersion", "Text_File", "Text_FirmwareVersion", "Combo_speed", "OKButton"});
    control<QToolButton>("CmdUpdate")->setEnabled(true);
    visit({"CmdOpen", "CmdUpdate", "Combo_ComPort"});
}

void WindowTest::progressBarFollowsTheRules()
{
    UpdaterWindow &w = window();
    auto *bar = control<QProgressBar>("ProgressBar1");
    w.msgProgressBar(QStringLiteral("on"), 0, 7936, 158);
    QCOMPARE(bar->maximum(), 7936);
    QCOMPARE(bar->value(), 158);
    w.msgProgressBar(QStringLiteral("on"), 0, 7936, 159);
    QCOMPARE(bar->value(), 158);
    w.msgProgressBar(QStringLiteral("off"), 0, 0, 0);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 7936);
    QVERIFY(bar->isVisibleTo(&w));
}

void WindowTest::startTexts_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("portText");
    QTest::newRow("first start") << QByteArray() << "?";
    QTest::newRow("stored 7") << QByteArray("[Settings]\nCom=7\nSpeed=19200\n") << "7";
    QTest::newRow("stored value that is no list entry") << QByteArray("[Settings]\nCom=COM99\n") << "COM99";
}

void WindowTest::startTexts()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, portText);
    if (!ini.isEmpty())
        writeIni(ini);
    QCOMPARE(control<QComboBox>("Combo_ComPort")->currentText(), portText);
    // The stored speed is never read back: the box always starts with "9600".
    QCOMPARE(control<QComboBox>("Combo_speed")->currentText(), QStringLiteral("9600"));
    QVERIFY(window().hexFileName().isEmpty());
    // Loading the window writes nothing into the store.
    QCOMPARE(QFile::exists(iniPath()), !ini.isEmpty());
}

void WindowTest::pickingFromTheList_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("typed");   // before the pick
    QTest::addColumn<QString>("steps");   // d: Down, u: Up, w: wheel towards the user, W: away
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("picked");
    const QByteArray seven("[Settings]\nCom=7\n");
    QTest::newRow("Down from the stored 7") << "Combo_ComPort" << seven << "" << "d" << "Com" << "8";
    QTest::newRow("Up from the stored 7") << "Combo_ComPort" << seven << "" << "u" << "Com" << "6";
    QTest::newRow("wheel from the stored 7") << "Combo_ComPort" << seven << "" << "w" << "Com" << "8";
    QTest::newRow("wheel back from the stored 7") << "Combo_ComPort" << seven << "" << "W" << "Com" << "6";
    QTest::newRow("Down from ?") << "Combo_ComPort" << QByteArray() << "" << "d" << "Com" << "1";
    QTest::newRow("Down from COM99") << "Combo_ComPort" << QByteArray("[Settings]\nCom=COM99\n") << "" << "d"
                                     << "Com" << "1";
    QTest::newRow("Down from a typed 15") << "Combo_ComPort" << seven << "15" << "d" << "Com" << "16";
    QTest::newRow("speed ' 9600' keeps its blank") << "Combo_speed" << QByteArray() << "" << "d" << "Speed" << " 9600";
    QTest::newRow("speed 19200") << "Combo_speed" << QByteArray() << "" << "dd" << "Speed" << "19200";
}

void WindowTest::pickingFromTheList()
{
    QFETCH(QString, combo);
    QFETCH(QByteArray, ini);
    QFETCH(QString, typed);
    QFETCH(QString, steps);
    QFETCH(QString, key);
    QFETCH(QString, picked);
    if (!ini.isEmpty())
        writeIni(ini);
    auto *box = window().findChild<QComboBox *>(combo);
    showActive();
    tabTo(box);
    type(typed);
    for (const QChar step : steps) {
        if (step == QLatin1Char('d') || step == QLatin1Char('u'))
            press(step == QLatin1Char('d') ? Qt::Key_Down : Qt::Key_Up);
        else
            wheel(box, step == QLatin1Char('w') ? -120 : 120);
    }
    QCOMPARE(box->currentText(), picked);
    // A fresh reader of the file sees the value, blanks included.
    QCOMPARE(storedSetting(key), picked);

    // After a restart the speed box shows "9600" again; the store keeps the pick.
    m_window.reset();
    m_settings = std::make_unique<SettingsStore>();
    QCOMPARE(control<QComboBox>("Combo_speed")->currentText(), QStringLiteral("9600"));
    if (key == QLatin1String("Com"))
        QCOMPARE(control<QComboBox>("Combo_ComPort")->currentText(), picked);
    QCOMPARE(m_settings->setting(key, QString()), picked);
}

void WindowTest::pickingWithTheMouse()
{
    writeIni("[Settings]\nCom=7\n");
    auto *box = control<QComboBox>("Combo_ComPort");
    showActive();
    // Open the list with the arrow at the right end of the box.
    clickOn(box, QPoint(box->width() - 6, box->height() / 2));
    QAbstractItemView *list = box->view();
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(list->currentIndex().row(), 6); // on "7", the text shown
    QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 6);
    QCOMPARE(storedSetting(QStringLiteral("Com")), QStringLiteral("7")); // opening is no pick

    const QModelIndex twelve = list->model()->index(11, 0);
    list->scrollTo(twelve);
    clickOn(list->viewport(), list->visualRect(twelve).center());
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(box->currentText(), QStringLiteral("12"));
    QCOMPARE(storedSetting(QStringLiteral("Com")), QStringLiteral("12"));
}

void WindowTest::leavingTheFieldStoresNothing_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("leave");
    for (const char *leave : {"Return", "Enter", "Tab", "click elsewhere", "OPEN", "閉じる", "Esc", "close"})
        QTest::addRow("port 9, %s", leave) << "Combo_ComPort" << "9" << QString::fromUtf8(leave);
    // "1" starts only one entry, "19200": no completion, and Tab is no pick.
    QTest::newRow("speed 1, Tab") << "Combo_speed" << "1" << "Tab";
    QTest::newRow("speed 1, Return") << "Combo_speed" << "1" << "Return";
}

void WindowTest::leavingTheFieldStoresNothing()
{
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    QFETCH(QString, leave);
    const QByteArray ini("[Settings]\nCom=7\n");
    writeIni(ini);
    auto *box = window().findChild<QComboBox *>(combo);
    showActive();
    tabTo(box);
    type(typed);
    QCOMPARE(box->currentText(), typed);

    if (leave == QLatin1String("Return"))
        press(Qt::Key_Return);
    else if (leave == QLatin1String("Enter"))
        press(Qt::Key_Enter, Qt::KeypadModifier);
    else if (leave == QLatin1String("Tab"))
        press(Qt::Key_Tab);
    else if (leave == QLatin1String("click elsewhere"))
        clickOn(control<QWidget>("Text_FirmwareVersion"));
    else if (leave == QLatin1String("OPEN"))
        clickOn(control<QWidget>("CmdOpen"));
    else if (leave == QLatin1String("閉じる"))
        clickOn(control<QWidget>("OKButton"));
    else if (leave == QLatin1String("Esc"))
        press(Qt::Key_Escape);
    else
        window().windowHandle()->close();
    QCoreApplication::processEvents();

    if (leave == QLatin1String("閉じる") || leave == QLatin1String("Esc") || leave == QLatin1String("close"))
        QTRY_VERIFY(!window().isVisible()); // Esc presses 閉じる, visibly: it comes up 100 ms later
    QCOMPARE(box->currentText(), typed);
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ini);
}

void WindowTest::logFile_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("no log yet") << QByteArray();
    QTest::newRow("log with old text") << QByteArray("old text\r\nmore\r\n");
}

void WindowTest::logFile()
{
    QFETCH(QByteArray, before);
    const QString path = m_appDir->path() + QStringLiteral("/LOG.txt");
    if (!before.isEmpty()) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(before);
    }
    window();
    QFile log(path);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("\r\n"));
}

void WindowTest::logFileThatCannotBeWritten()
{
    // A folder where the log should be: it cannot be opened as a file, even by root.
    QVERIFY(QDir(m_appDir->path()).mkdir(QStringLiteral("LOG.txt")));
    QVERIFY(window().findChild<QLabel *>(QStringLiteral("Label3")));
    QCOMPARE(control<QComboBox>("Combo_speed")->currentText(), QStringLiteral("9600"));
    QVERIFY(m_dialogs.messages.isEmpty());
}

void WindowTest::updateButtonEnabledByFileChoice()
{
    auto *update = control<QToolButton>("CmdUpdate");
    QVERIFY(!update->isEnabled());
    m_dialogs.answers = {QString()};
    window().CmdOpen_Click();
    QVERIFY(!update->isEnabled());
    m_dialogs.answers = {QStringLiteral("/tmp/firm/main.hex"), QString()};
    window().CmdOpen_Click();
    QVERIFY(update->isEnabled());
    window().CmdOpen_Click();  // cancelled: the earlier choice stays
    QVERIFY(update->isEnabled());
    QCOMPARE(window().hexFileName(), QStringLiteral("/tmp/firm/main.hex"));
    QCOMPARE(control<QPlainTextEdit>("Text_File")->toPlainText(),
             onWindowsElse(R"(\tmp\firm\main.hex)", "/tmp/firm/main.hex"));
}

// The text box and the settings file show the path as the system does; the
// next dialog opens in the folder either way.
void WindowTest::fileChoice_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");  // in the text box
    QTest::addColumn<QString>("stored"); // OPEN_DIR0
    QTest::addColumn<QString>("folder"); // where the next dialog opens
    QTest::addColumn<QString>("status");
    QTest::newRow("plain") << "/home/kit/firm/main.hex"
                           << onWindowsElse(R"(\home\kit\firm\main.hex)", "/home/kit/firm/main.hex")
                           << onWindowsElse(R"(\home\kit\firm)", "/home/kit/firm") << "/home/kit/firm"
                           << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("title also in a folder name")
        << "/home/kit/main.hex.d/main.hex"
        << onWindowsElse(R"(\home\kit\main.hex.d\main.hex)", "/home/kit/main.hex.d/main.hex")
        << onWindowsElse(R"(\home\kit\main.hex.d)", "/home/kit/main.hex.d") << "/home/kit/main.hex.d"
        << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("root of the file system") << "/main.hex" << onWindowsElse(R"(\main.hex)", "/main.hex")
                                             << onWindowsElse(R"(\)", "/") << "/"
                                             << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("drive root") << "D:/main.hex" << onWindowsElse(R"(D:\main.hex)", "D:/main.hex") << "D:" << "D:"
                                << QStringLiteral("ファイル名：main.hexを指定しました。");
#ifndef Q_OS_WIN // a folder separator there
    QTest::newRow("backslash is part of a name") << "/x/we\\ird.hex" << "/x/we\\ird.hex" << "/x" << "/x"
                                                 << QStringLiteral("ファイル名：we\\ird.hexを指定しました。");
#endif
    QTest::newRow("blanks and Japanese")
        << "/home/kit/ファーム 新/kit v2.HEX"
        << onWindowsElse(R"(\home\kit\ファーム 新\kit v2.HEX)", "/home/kit/ファーム 新/kit v2.HEX")
        << onWindowsElse(R"(\home\kit\ファーム 新)", "/home/kit/ファーム 新") << "/home/kit/ファーム 新"
        << QStringLiteral("ファイル名：kit v2.HEXを指定しました。");
}

void WindowTest::fileChoice()
{
    QFETCH(QString, path);
    QFETCH(QString, shown);
    QFETCH(QString, stored);
    QFETCH(QString, folder);
    QFETCH(QString, status);
    m_dialogs.answers = {path};
    window().CmdOpen_Click();
    QCOMPARE(window().hexFileName(), path);
    QCOMPARE(control<QPlainTextEdit>("Text_File")->toPlainText(), shown);
    QCOMPARE(window().findChild<QLabel *>(QStringLiteral("Panel1"))->text(), status);
    QSettings file(iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Settings/OPEN_DIR0")).toString(), stored);
    window().CmdOpen_Click();
    QCOMPARE(m_dialogs.requests.last().initialFolder, folder);
}

// Older versions kept the folder with forward slashes, also on Windows.
void WindowTest::folderRememberedByOlderVersions_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("kept by an older version") << "C:/Users/kit/firm";
#ifdef Q_OS_WIN
    QTest::newRow("kept by this version") << R"(C:\Users\kit\firm)";
#endif
}

void WindowTest::folderRememberedByOlderVersions()
{
    QFETCH(QString, stored);
    QVERIFY(m_settings->setSetting(QStringLiteral("OPEN_DIR0"), stored));
    window().CmdOpen_Click();
    QCOMPARE(m_dialogs.requests.last().initialFolder, QStringLiteral("C:/Users/kit/firm"));
}

void WindowTest::dialogSettings()
{
    window().CmdOpen_Click();
    QCOMPARE(m_dialogs.requests.size(), 1);
    const OpenFileRequest &r = m_dialogs.requests.first();
    QCOMPARE(r.title, QStringLiteral("アップデータを開く"));
    QCOMPARE(r.initialFolder, QString());
    QCOMPARE(r.filterNames, QStringList({QStringLiteral("アップデータファイル"), QStringLiteral("全てのファイル")}));
    QCOMPARE(r.filterPatterns, QStringList({QStringLiteral("*.HEX"), QStringLiteral("*.*")}));
    QCOMPARE(r.defaultSuffix, QStringLiteral("HEX"));
    QCOMPARE(r.fileName, QStringLiteral("*.HEX"));
    QVERIFY(window().findChild<QLabel *>(QStringLiteral("Panel1"))->text().isEmpty());
}

void WindowTest::emptyPortBoxRefusesFileChoice()
{
    control<QComboBox>("Combo_ComPort")->setEditText(QString());
    window().CmdOpen_Click();
    QVERIFY(m_dialogs.requests.isEmpty());
    QCOMPARE(m_dialogs.messages, QStringList{QStringLiteral("ポート番号を設定してください。")});
}

void WindowTest::hexPatternMatchesAnyCase()
{
    QTemporaryDir folder;
    for (const char *name : {"a.HEX", "b.hex", "c.Hex", "d.txt", "noext"}) {
        QFile f(folder.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QStringList filters = QtUserDialogs::nameFilters(HexFileChoice::request(*m_settings));
    QCOMPARE(filters.size(), 2);
    auto matching = [&](const QString &filter) {
        const QString patterns = filter.section(QLatin1Char('('), 1).chopped(1);
        return QDir(folder.path()).entryList(patterns.split(QLatin1Char(' ')), QDir::Files, QDir::Name);
    };
    QVERIFY(filters.at(0).startsWith(QStringLiteral("アップデータファイル")));
    QCOMPARE(matching(filters.at(0)), QStringList({"a.HEX", "b.hex", "c.Hex"}));
    QVERIFY(filters.at(1).startsWith(QStringLiteral("全てのファイル")));
    QCOMPARE(matching(filters.at(1)), QStringList({"a.HEX", "b.hex", "c.Hex", "d.txt", "noext"}));
}

void WindowTest::unreadableSettingsStillOpen()
{
    writeIni("\x01\x02garbage[[[\n=\n[Settings\nCom\n");
    QVERIFY(control<QComboBox>("Combo_ComPort"));
    QCOMPARE(control<QComboBox>("Combo_speed")->currentText(), QStringLiteral("9600"));
}

void WindowTest::settingsThatCannotBeWritten()
{
    // A file where the settings folder should be: nothing can be stored, even by root.
    QFile blocker(m_config->path() + QStringLiteral("/KitUpdater"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_settings = std::make_unique<SettingsStore>();
    showActive();
    auto *speed = control<QComboBox>("Combo_speed");
    tabTo(speed);
    press(Qt::Key_Down);
    QCOMPARE(speed->currentText(), QStringLiteral(" 9600"));
    m_dialogs.answers = {QStringLiteral("/tmp/firm/main.hex")};
    window().CmdOpen_Click();
    // The choice works for this run; it is simply not remembered.
    QVERIFY(control<QToolButton>("CmdUpdate")->isEnabled());
    QCOMPARE(window().findChild<QLabel *>(QStringLiteral("Panel1"))->text(),
             QStringLiteral("ファイル名：main.hexを指定しました。"));
    QVERIFY(!QFile::exists(iniPath()));
}

void WindowTest::realMessageBox()
{
    QtUserDialogs dialogs(&window());
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton *> buttons;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->buttons();
        QCOMPARE(box->standardButton(buttons.value(0)), QMessageBox::Ok);
        box->accept();
    });
    dialogs.information(QStringLiteral("first\r\nsecond"));
    QCOMPARE(title, QStringLiteral("KitUpdater"));
    QCOMPARE(text, QStringLiteral("first\r\nsecond"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(buttons.size(), 1);
}

void WindowTest::realFileDialog()
{
    QTemporaryDir folder;
    for (const char *name : {"a.HEX", "b.hex"}) {
        QFile hex(folder.filePath(QLatin1String(name)));
        QVERIFY(hex.open(QIODevice::WriteOnly));
    }
    m_settings->setSetting(QStringLiteral("OPEN_DIR0"), folder.path());
    showActive();
    QtUserDialogs dialogs(&window());
    QString title, suffix, nameField, chosenFolder, notFound;
    QStringList filters, buttons;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QApplication::setActiveWindow(dialog);
        QTRY_COMPARE(QApplication::activeWindow(), dialog);
        title = dialog->windowTitle();
        suffix = dialog->defaultSuffix();
        filters = dialog->nameFilters();
        chosenFolder = dialog->directory().absolutePath();
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>()->buttons())
            buttons << button->text();
        if (auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            nameField = field->text();
        // Should the dialog say it found nothing, close that and the dialog.
        QTimer::singleShot(2000, dialog, [&notFound, dialog] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                notFound = box->text();
                box->reject();
                QTimer::singleShot(0, dialog, &QDialog::reject);
            }
        });
        // The user types "b" over the selected "*.HEX" and presses Return.
        type(QStringLiteral("b"));
        press(Qt::Key_Return);
    });
    const QString chosen = dialogs.openFile(HexFileChoice::request(*m_settings));
    QVERIFY2(notFound.isEmpty(), qPrintable(notFound));
    QCOMPARE(title, QStringLiteral("アップデータを開く"));
    QCOMPARE(suffix, QStringLiteral("HEX"));
    QCOMPARE(filters.size(), 2);
    QVERIFY(filters.at(0).startsWith(QStringLiteral("アップデータファイル")));
    QVERIFY(filters.at(1).startsWith(QStringLiteral("全てのファイル")));
    QCOMPARE(chosenFolder, QDir(folder.path()).absolutePath());
    QCOMPARE(nameField, QStringLiteral("*.HEX"));
    // Qt's own texts in Japanese, like the rest of the window.
    buttons.sort();
    QCOMPARE(buttons, QStringList({QStringLiteral("キャンセル"), QStringLiteral("開く(&O)")}));
    // The same file (on Windows, whatever the case of its name).
    QVERIFY2(QFileInfo(chosen) == QFileInfo(folder.filePath("b.hex")), qPrintable(chosen));
}

void WindowTest::fileDialogWithoutRememberedFolder()
{
    QtUserDialogs dialogs(&window());
    QString opened;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        opened = dialog->directory().absolutePath();
        dialog->reject();
    });
    QVERIFY(dialogs.openFile(HexFileChoice::request(*m_settings)).isEmpty());
    // Not the program's folder (the current one), where no HEX file lives.
    QCOMPARE(opened, QDir::homePath());
}

namespace {
// WCAG's contrast ratio of two colours, from 1 (none) to 21.
double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette()
{
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    return dark;
}
} // namespace

void WindowTest::textBoxesStayReadable_data()
{
    QTest::addColumn<bool>("darkAtStart");
    QTest::addColumn<bool>("darkLater");
    QTest::newRow("light") << false << false;
    QTest::newRow("dark") << true << true;
    QTest::newRow("turned dark while open") << false << true;
    QTest::newRow("turned light while open") << true << false;
}

void WindowTest::textBoxesStayReadable()
{
    QFETCH(bool, darkAtStart);
    QFETCH(bool, darkLater);
    const QPalette light = QApplication::style()->standardPalette();
    QApplication::setPalette(darkAtStart ? darkPalette() : light);
    showActive();
    QApplication::setPalette(darkLater ? darkPalette() : light);
    QCoreApplication::processEvents(); // the window passes the new palette on
    for (const char *name : {"Text_FirmwareVersion", "Text_File"}) {
        const QPalette colours = control<QPlainTextEdit>(name)->palette();
        const QColor background = colours.color(QPalette::Base);
        if (!darkLater)
            QCOMPARE(background, QColor(212, 208, 200)); // the classic light grey
        QVERIFY2(contrast(colours.color(QPalette::Text), background) >= 4.5, name);
    }
}

void WindowTest::separatorAtDisplayScales_data()
{
    QTest::addColumn<double>("scale");
    QTest::newRow("100 %") << 1.0;
    QTest::newRow("150 %") << 1.5;
    QTest::newRow("200 %") << 2.0;
}

void WindowTest::separatorAtDisplayScales()
{
    QFETCH(double, scale);
    UpdaterWindow &w = window();
    QImage image(w.size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    w.render(&image);
    // Down a column through the separator (at 63 and 64 pixels of 96 dpi).
    bool grey = false, white = false;
    for (int y = qFloor(58 * scale); y < qCeil(70 * scale); ++y) {
        const QColor colour = image.pixelColor(qRound(100 * scale), y);
        grey = grey || colour == QColor(128, 128, 128);
        white = white || colour == QColor(255, 255, 255);
    }
    QVERIFY(grey);
    QVERIFY(white);
}

void WindowTest::accessibleNames()
{
    auto accessible = [&](const char *name) { return QAccessible::queryAccessibleInterface(control<QWidget>(name)); };
    // The boxes are named by their labels, as screen readers ask for them.
    const QList<QPair<const char *, QString>> labelled{
        {"Combo_ComPort", QStringLiteral("通信ポート Com　：")},
        {"Combo_speed", QStringLiteral("通信スピード bps　：")},
    };
    for (const auto &[name, label] : labelled) {
        const auto labels = accessible(name)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->text(QAccessible::Name), label);
    }
    const QList<QPair<const char *, QString>> named{
        {"Text_FirmwareVersion", QStringLiteral("ファームウエアバージョン")},
        {"Text_File", QStringLiteral("アップデートファイル")},
        {"ProgressBar1", QStringLiteral("アップデートの進み具合")},
    };
    for (const auto &[name, accessibleName] : named)
        QCOMPARE(accessible(name)->text(QAccessible::Name), accessibleName);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
