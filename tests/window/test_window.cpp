// The updater window on a real (offscreen) window with a real settings file.
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
#include <QtTest>
#include <memory>

namespace {

class FakeDialogs : public UserDialogs {
public:
    void information(const QString &text) override { messages << text; }
    QString openFile(const OpenFileRequest &request) override
    {
        requests << request;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QStringList messages;
    QList<OpenFileRequest> requests;
    QStringList answers;
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
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
    void pickingStoresTheText_data();
    void pickingStoresTheText();
    void typingStoresNothing();
    void logFile_data();
    void logFile();
    void logFileThatCannotBeWritten();
    void updateButtonEnabledByFileChoice();
    void fileChoice_data();
    void fileChoice();
    void dialogSettings();
    void emptyPortBoxRefusesFileChoice();
    void hexPatternMatchesAnyCase();
    void unreadableSettingsStillOpen();
    void settingsThatCannotBeWritten();
    void realMessageBox();
    void realFileDialog();

private:
    UpdaterWindow &window();
    template <typename T> T *control(const char *name) { return window().findChild<T *>(QLatin1String(name)); }
    QString iniPath() const { return m_config->path() + QStringLiteral("/KitUpdater/KitUpdater.ini"); }
    void writeIni(const QByteArray &content);

    std::unique_ptr<QTemporaryDir> m_config;  // the user's config folder, new for every test
    std::unique_ptr<QTemporaryDir> m_appDir;  // the program's folder
    std::unique_ptr<SettingsStore> m_settings;
    FakeDialogs m_dialogs;
    std::unique_ptr<UpdaterWindow> m_window;
};

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
    for (const char *name : {"CmdVersion", "CmdOpen", "CmdUpdate"})
        QVERIFY2(!control<QToolButton>(name)->icon().isNull(), name);
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
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
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

void WindowTest::pickingStoresTheText_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("downPresses");
    QTest::addColumn<QString>("stored");
    QTest::newRow("speed 19200") << "Combo_speed" << "Speed" << 1 << "19200";
    QTest::newRow("speed ' 9600' keeps its blank") << "Combo_speed" << "Speed" << 0 << " 9600";
    QTest::newRow("port 3") << "Combo_ComPort" << "Com" << 2 << "3";
}

void WindowTest::pickingStoresTheText()
{
    QFETCH(QString, combo);
    QFETCH(QString, key);
    QFETCH(int, downPresses);
    QFETCH(QString, stored);
    auto *box = window().findChild<QComboBox *>(combo);
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    // The user picks from the list: with the arrow keys, from the first entry.
    box->setFocus();
    box->setCurrentIndex(downPresses == 0 ? 1 : 0);
    QTest::keyClick(box, downPresses == 0 ? Qt::Key_Up : Qt::Key_Down);
    for (int i = 1; i < downPresses; ++i)
        QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(box->currentText(), stored);

    // A fresh reader of the file sees the value, blanks included.
    QSettings file(iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Settings/") + key).toString(), stored);

    // After a restart the speed box shows "9600" again; the store keeps the pick.
    m_window.reset();
    m_settings = std::make_unique<SettingsStore>();
    if (key == QLatin1String("Speed"))
        QCOMPARE(control<QComboBox>("Combo_speed")->currentText(), QStringLiteral("9600"));
    else
        QCOMPARE(control<QComboBox>("Combo_ComPort")->currentText(), stored);
    QCOMPARE(m_settings->setting(key, QString()), stored);
}

void WindowTest::typingStoresNothing()
{
    writeIni("[Settings]\nCom=7\n");
    auto *box = control<QComboBox>("Combo_ComPort");
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("5"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->currentText(), QStringLiteral("5"));
    QSettings file(iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Settings/Com")).toString(), QStringLiteral("7"));
    QCOMPARE(box->count(), 20);
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
    QCOMPARE(control<QPlainTextEdit>("Text_File")->toPlainText(), QStringLiteral("/tmp/firm/main.hex"));
}

void WindowTest::fileChoice_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("status");
    QTest::newRow("plain") << "/home/kit/firm/main.hex" << "/home/kit/firm" << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("title also in a folder name") << "/home/kit/main.hex.d/main.hex" << "/home/kit/main.hex.d"
                                                 << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("root of the file system") << "/main.hex" << "/" << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("drive root") << "D:/main.hex" << "D:" << QStringLiteral("ファイル名：main.hexを指定しました。");
    QTest::newRow("blanks and Japanese") << "/home/kit/ファーム 新/kit v2.HEX" << "/home/kit/ファーム 新"
                                         << QStringLiteral("ファイル名：kit v2.HEXを指定しました。");
}

void WindowTest::fileChoice()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, status);
    m_dialogs.answers = {path};
    window().CmdOpen_Click();
    QCOMPARE(window().hexFileName(), path);
    QCOMPARE(window().findChild<QLabel *>(QStringLiteral("Panel1"))->text(), status);
    QSettings file(iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Settings/OPEN_DIR0")).toString(), folder);
    // The next dialog starts there.
    window().CmdOpen_Click();
    QCOMPARE(m_dialogs.requests.last().initialFolder, folder);
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
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));
    auto *speed = control<QComboBox>("Combo_speed");
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Down);
    QCOMPARE(speed->currentText(), QStringLiteral("19200"));
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
    QFile hex(folder.filePath(QStringLiteral("blink.hex")));
    QVERIFY(hex.open(QIODevice::WriteOnly));
    hex.close();
    m_settings->setSetting(QStringLiteral("OPEN_DIR0"), folder.path());
    QtUserDialogs dialogs(&window());
    QString title, suffix, nameField;
    QStringList filters;
    QString chosenFolder;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        title = dialog->windowTitle();
        suffix = dialog->defaultSuffix();
        filters = dialog->nameFilters();
        chosenFolder = dialog->directory().absolutePath();
        if (auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            nameField = field->text();
        dialog->selectFile(QStringLiteral("blink.hex"));
        static_cast<QDialog *>(dialog)->accept();  // as the Open button does
    });
    const QString chosen = dialogs.openFile(HexFileChoice::request(*m_settings));
    QCOMPARE(title, QStringLiteral("アップデータを開く"));
    QCOMPARE(suffix, QStringLiteral("HEX"));
    QCOMPARE(filters.size(), 2);
    QVERIFY(filters.at(0).startsWith(QStringLiteral("アップデータファイル")));
    QVERIFY(filters.at(1).startsWith(QStringLiteral("全てのファイル")));
    QCOMPARE(chosenFolder, QDir(folder.path()).absolutePath());
    QCOMPARE(nameField, QStringLiteral("*.HEX"));
    QCOMPARE(QFileInfo(chosen).canonicalFilePath(), QFileInfo(hex).canonicalFilePath());
}

QTEST_MAIN(WindowTest)
#include "test_window.moc"
