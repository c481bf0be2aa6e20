// The updater window end to end: a real (offscreen) window, a real settings
// file and the simulated kit on a real pseudo-terminal behind port number 7.
#include "ExpectedTexts.h"
#include "FakeDialogs.h"
#include "KitFrames.h"
#include "KitSimulator.h"
#include "SettingsStore.h"
#include "UpdaterWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

using namespace Expected;

namespace {

const QByteArray KitVersion = BoundaryKitVersion;

// Lower-case digits, LF line ends, a comment and an empty line.
const QByteArray LowerCaseFile = QByteArrayLiteral(
    "; firmware for the e2e test\n"
    "\n"
    ":02009e00feca98\n"                // word 0x004F
    ":023ffc000201c0\n"                // word 0x1FFE
    ":00000001ff\n");

// Eight words 0x0001-0x0008, value 0x1100 * w.
const QByteArray EightWordsFile = QByteArrayLiteral(
    ":020002000011EB\r\n:020004000022D8\r\n:020006000033C5\r\n:020008000044B2\r\n"
    ":02000A0000559F\r\n:02000C0000668C\r\n:02000E00007779\r\n:02001000008866\r\n:00000001FF\r\n");

Frames eightWords()
{
    Frames frames;
    for (quint16 w = 1; w <= 8; ++w)
        frames.append({w, quint16(0x1100 * w)});
    return frames;
}



bool containsJapanese(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

// Calls the action every few milliseconds until it returns true or the object dies.
void repeatUntilDone(QObject *scope, std::function<bool()> action)
{
    auto *timer = new QTimer(scope);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (action())
            timer->stop();
    });
    timer->start(5);
}

} // namespace

class WindowDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void wholeUpdate_data();
    void wholeUpdate();
    void versionButton_data();
    void versionButton();
    void silentKitDuringUpdate();
    void clicksDuringUpdateAreIgnored();
    void closingDuringUpdate_data();
    void closingDuringUpdate();
    void closingReleasesThePort_data();
    void closingReleasesThePort();
    void portProblems_data();
    void portProblems();
    void portToolTip_data();
    void portToolTip();
    void historyBeforeTheMessageBox_data();
    void historyBeforeTheMessageBox();
    void escapeInAnOpenList_data();
    void escapeInAnOpenList();
    void returnPressesTheFocusedButton_data();
    void returnPressesTheFocusedButton();

private:
    UpdaterWindow &window();
    template <typename T> T *control(const char *name) { return window().findChild<T *>(QLatin1String(name)); }
    QString status() { return control<QLabel>("Panel1")->text(); }
    QString shownVersion() { return control<QPlainTextEdit>("Text_FirmwareVersion")->toPlainText(); }
    QProgressBar *progressBar() { return control<QProgressBar>("ProgressBar1"); }
    void chooseFile(const QByteArray &content);
    void press(QAbstractButton *button);
    void configureKit(const std::function<void(KitSimConfig &)> &change);
    bool slaveCanBeOpened();
    void showActive();
    QByteArray history() const;
    // A key as the keyboard sends it: to the opened list while one is open.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

    std::unique_ptr<QTemporaryDir> m_config; // the user's config folder, new for every test
    std::unique_ptr<QTemporaryDir> m_appDir; // the program's folder and the HEX files
    std::unique_ptr<KitSimulator> m_kit;
    std::unique_ptr<SettingsStore> m_settings;
    FakeDialogs m_dialogs;
    std::unique_ptr<UpdaterWindow> m_window;
};

void WindowDeviceTest::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_appDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config->path());
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_config->path() + QStringLiteral("/state")));
    KitSimConfig config;
    config.versionAnswer = KitVersion.toStdString();
    m_kit = std::make_unique<KitSimulator>(config);
    m_kit->start();
    // Port 7, last picked in an earlier run, leads to the simulated kit.
    QVERIFY(QDir().mkpath(m_config->path() + QStringLiteral("/KitUpdater")));
    QFile ini(m_config->path() + QStringLiteral("/KitUpdater/KitUpdater.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\nCom=7\n\n[Ports]\n7=" + m_kit->slavePath().toUtf8() + "\n");
    ini.close();
    m_settings = std::make_unique<SettingsStore>();
    m_dialogs = FakeDialogs{};
}

void WindowDeviceTest::cleanup()
{
    m_window.reset();
    m_settings.reset();
    m_kit.reset();
}

UpdaterWindow &WindowDeviceTest::window()
{
    if (!m_window) {
        m_window = std::make_unique<UpdaterWindow>(m_appDir->path() + QLatin1Char('/'), *m_settings, m_dialogs);
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qWarning("window not exposed");
    }
    return *m_window;
}

// The user presses OPEN and picks a file with this content.
void WindowDeviceTest::chooseFile(const QByteArray &content)
{
    const QString path = m_appDir->filePath(QStringLiteral("e2e.hex"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    m_dialogs.answers = {path};
    control<QToolButton>("CmdOpen")->click();
    QCOMPARE(window().hexFileName(), path);
}

// The user presses the button; the test goes on once the exchange it started has ended.
void WindowDeviceTest::press(QAbstractButton *button)
{
    QSignalSpy ended(&window(), &UpdaterWindow::exchangeEnded);
    button->click();
    if (window().exchangeRunning())
        QVERIFY(ended.wait(10000));
}

void WindowDeviceTest::configureKit(const std::function<void(KitSimConfig &)> &change)
{
    KitSimConfig config = m_kit->config();
    change(config);
    m_kit->setConfig(config);
}

// Another program can take the line only when the window's port is closed.
bool WindowDeviceTest::slaveCanBeOpened()
{
    QSerialPort other(m_kit->slavePath());
    return other.open(QIODevice::ReadWrite);
}

void WindowDeviceTest::wholeUpdate_data()
{
    QTest::addColumn<QByteArray>("hexText");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("barValue");

    QTest::newRow("boundary words, CR LF")
        << BoundaryFile << BoundaryFrames
        << 158; // the last word, 0x009E, is 2 steps of 79
    QTest::newRow("lower case, LF, ends above the bar's range")
        << LowerCaseFile << Frames{{0x004F, 0xCAFE}, {0x1FFE, 0x0102}}
        << 0; // 79 first, then 0x1FFE (8190) sends the bar back
}

void WindowDeviceTest::wholeUpdate()
{
    QFETCH(QByteArray, hexText);
    QFETCH(Frames, frames);
    QFETCH(int, barValue);
    chooseFile(hexText);

    press(control<QToolButton>("CmdUpdate"));

    QCOMPARE(framesOf(*m_kit), frames);
    QCOMPARE(m_kit->memory(), memoryOf(frames));
    QCOMPARE(m_kit->commandBytes(), QByteArray("\x46\x3F"));
    QCOMPARE(status(), QStringLiteral("アップデート完了。  0sec"));
    QCOMPARE(m_dialogs.messages, QStringList{DoneMessage});
    QCOMPARE(shownVersion(), QString::fromLatin1(KitVersion));
    QCOMPARE(progressBar()->value(), barValue);
    QCOMPARE(progressBar()->maximum(), 7936);
    QVERIFY(progressBar()->isVisible());
    QVERIFY(!window().commError());
    QVERIFY(!slaveCanBeOpened()); // the port stays open after an update
    // The update joins the history.
    QFile history(m_config->path() + QStringLiteral("/state/KitUpdater/history.jsonl"));
    QVERIFY(history.open(QIODevice::ReadOnly));
    const QByteArray line = history.readAll();
    QVERIFY2(line.contains("\"program\":\"kitupdater\"") && line.contains("\"ending\":\"done\"")
                 && line.contains("\"words_sent\":" + QByteArray::number(frames.size())),
             line.constData());
}

void WindowDeviceTest::versionButton_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("statusAfter");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("16 bytes") << QByteArray("KIT-FW Ver3.10 b") << "KIT-FW Ver3.10 b" << VersionReadStatus
                              << QStringList();
    // A little more than a second passes before the box.
    QTest::newRow("15 bytes: time-out, the earlier version stays")
        << QByteArray("KIT-FW Ver3.10 ") << QString::fromLatin1(KitVersion) << QString()
        << QStringList{VersionTimeoutMessage};
}

void WindowDeviceTest::versionButton()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, shown);
    QFETCH(QString, statusAfter);
    QFETCH(QStringList, messages);
    auto *versionButton = control<QToolButton>("CmdVersion");
    press(versionButton);
    QCOMPARE(shownVersion(), QString::fromLatin1(KitVersion));
    configureKit([&](KitSimConfig &c) { c.versionAnswer = answer.toStdString(); });

    press(versionButton);

    QCOMPARE(shownVersion(), shown);
    QCOMPARE(status(), statusAfter);
    QCOMPARE(m_dialogs.messages, messages);
    QCOMPARE(window().commError(), !messages.isEmpty());
    QCOMPARE(m_kit->commandBytes(), QByteArray("\x46\x3F\x46\x3F"));
    QVERIFY(!slaveCanBeOpened()); // the query leaves the port open, answered or not
}

// The kit answers two words and then stays silent: a real 2-second wait.
void WindowDeviceTest::silentKitDuringUpdate()
{
    configureKit([](KitSimConfig &c) { c.silentAfterFrames = 2; });
    chooseFile(QByteArrayLiteral(":02009E0011113E\r\n"    // word 0x004F
                                 ":02013C0022227D\r\n"    // word 0x009E
                                 ":0201DA003333BD\r\n"    // word 0x00ED, unanswered
                                 ":020278004444FC\r\n"    // word 0x013C, never sent
                                 ":00000001FF\r\n"));

    press(control<QToolButton>("CmdUpdate"));

    QCOMPARE(framesOf(*m_kit), (Frames{{0x004F, 0x1111}, {0x009E, 0x2222}, {0x00ED, 0x3333}}));
    QCOMPARE(m_dialogs.messages, QStringList{TimeoutMessage});
    QCOMPARE(status(), FailedStatus);
    QCOMPARE(progressBar()->value(), 0); // it stood at 158 before the time-out
    QVERIFY(progressBar()->isVisible());
    QVERIFY(window().commError());
}

// While the kit answers slowly, the user keeps pressing the three buttons.
void WindowDeviceTest::clicksDuringUpdateAreIgnored()
{
    configureKit([](KitSimConfig &c) { c.frameDelayUs = 20000; });
    chooseFile(EightWordsFile);
    QCOMPARE(m_dialogs.requests.size(), 1);
    int clickRounds = 0;
    QObject scope;
    repeatUntilDone(&scope, [&] {
        if (m_kit->frames().isEmpty())
            return false;
        if (m_kit->frames().size() >= 8)
            return true;
        control<QToolButton>("CmdVersion")->click();
        control<QToolButton>("CmdUpdate")->click();
        control<QToolButton>("CmdOpen")->click();
        ++clickRounds;
        return false;
    });

    press(control<QToolButton>("CmdUpdate"));

    QVERIFY2(clickRounds >= 3, qPrintable(QString::number(clickRounds)));
    QCOMPARE(m_dialogs.requests.size(), 1);                    // OPEN showed no dialog
    QCOMPARE(m_kit->commandBytes(), QByteArray("\x46\x3F"));   // one handshake only
    QCOMPARE(framesOf(*m_kit), eightWords());                  // in order, none twice
    QCOMPARE(status(), QStringLiteral("アップデート完了。  0sec"));
    QCOMPARE(m_dialogs.messages, QStringList{DoneMessage});
}

void WindowDeviceTest::closingDuringUpdate_data()
{
    QTest::addColumn<int>("frameDelayUs");
    QTest::addColumn<int>("silentAfterFrames");
    QTest::newRow("the kit takes its time") << 300000 << -1;
    // The close must cut the 2-second wait, not sit it out into the time-out ending.
    QTest::newRow("the kit has gone silent") << 0 << 1;
}

// The window is closed while the kit takes its time over the second frame, or
// does not answer it at all.
void WindowDeviceTest::closingDuringUpdate()
{
    QFETCH(int, frameDelayUs);
    QFETCH(int, silentAfterFrames);
    configureKit([&](KitSimConfig &c) {
        c.frameDelayUs = frameDelayUs;
        c.silentAfterFrames = silentAfterFrames;
    });
    chooseFile(EightWordsFile);
    int framesAtClose = 0;
    bool heldWhileRunning = false;
    bool visibleAfterClose = false;
    QObject scope;
    repeatUntilDone(&scope, [&] {
        framesAtClose = int(m_kit->frames().size());
        if (framesAtClose < 2)
            return false;
        heldWhileRunning = !slaveCanBeOpened();
        window().close();
        visibleAfterClose = window().isVisible(); // held back until the update has stopped
        return true;
    });

    press(control<QToolButton>("CmdUpdate"));

    QVERIFY(heldWhileRunning);
    QVERIFY(visibleAfterClose);
    QCOMPARE(framesOf(*m_kit), eightWords().mid(0, framesAtClose)); // no frame after the close
    QVERIFY(framesAtClose < 8);
    QCOMPARE(status(), FailedStatus);
    QVERIFY(m_dialogs.messages.isEmpty()); // stopped, not timed out
    QTRY_VERIFY(!window().isVisible());
    QVERIFY(slaveCanBeOpened());
}

void WindowDeviceTest::closingReleasesThePort_data()
{
    QTest::addColumn<bool>("withOKButton");
    QTest::newRow("OKButton") << true;
    QTest::newRow("the window's close command") << false;
}

// The version query leaves the port open; closing the window closes it.
void WindowDeviceTest::closingReleasesThePort()
{
    QFETCH(bool, withOKButton);
    press(control<QToolButton>("CmdVersion"));
    QCOMPARE(status(), VersionReadStatus);
    QVERIFY(!slaveCanBeOpened());

    if (withOKButton)
        control<QPushButton>("OKButton")->click();
    else
        window().close();

    QVERIFY(!window().isVisible());
    QVERIFY(slaveCanBeOpened());
}

void WindowDeviceTest::portProblems_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("portText");
    QTest::addColumn<bool>("heldElsewhere");
    QTest::addColumn<QString>("statusAfter"); // null: a Japanese text of the tool's own wording
    QTest::addColumn<QStringList>("messages");

    const QString fileChosen = QStringLiteral("ファイル名：e2e.hexを指定しました。");
    QTest::newRow("UPDATE, held by another program")
        << "CmdUpdate" << "7" << true << PortOpenFailedStatus << QStringList();
    QTest::newRow("Version Read, held by another program")
        << "CmdVersion" << "7" << true << PortOpenFailedStatus << QStringList();
    QTest::newRow("UPDATE, empty port text") << "CmdUpdate" << "" << false << fileChosen << QStringList{SetPortMessage};
    QTest::newRow("Version Read, empty port text") << "CmdVersion" << "" << false << "" << QStringList{SetPortMessage};
    QTest::newRow("UPDATE, port text '?'") << "CmdUpdate" << "?" << false << QString() << QStringList();
    QTest::newRow("Version Read, port text '?'") << "CmdVersion" << "?" << false << QString() << QStringList();
}

void WindowDeviceTest::portProblems()
{
    QFETCH(QString, button);
    QFETCH(QString, portText);
    QFETCH(bool, heldElsewhere);
    QFETCH(QString, statusAfter);
    QFETCH(QStringList, messages);
    chooseFile(EightWordsFile);
    control<QComboBox>("Combo_ComPort")->setEditText(portText);
    QSerialPort holder(m_kit->slavePath());
    if (heldElsewhere)
        QVERIFY(holder.open(QIODevice::ReadWrite));

    press(window().findChild<QToolButton *>(button));

    if (statusAfter.isNull())
        QVERIFY2(containsJapanese(status()), qPrintable(status()));
    else
        QCOMPARE(status(), statusAfter);
    QCOMPARE(m_dialogs.messages, messages);
    QCOMPARE(m_kit->commandBytes(), QByteArray());
    QVERIFY(m_kit->frames().isEmpty());
    QVERIFY(window().isVisible()); // the program runs on

    // Once the line is free and the port text right, the same window works.
    holder.close();
    control<QComboBox>("Combo_ComPort")->setEditText(QStringLiteral("7"));
    press(control<QToolButton>("CmdVersion"));
    QCOMPARE(status(), VersionReadStatus);
}

void WindowDeviceTest::portToolTip_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("device"); // null: the kit's pseudo-terminal
    QTest::newRow("mapped 7") << "7" << QString();
    QTest::newRow("unmapped 3") << "3" << "/dev/ttyS2";
    QTest::newRow("unmapped 20") << "20" << "/dev/ttyS19";
}

void WindowDeviceTest::portToolTip()
{
    QFETCH(QString, portText);
    QFETCH(QString, device);
    auto *portBox = control<QComboBox>("Combo_ComPort");
    portBox->setEditText(QStringLiteral("1"));
    portBox->setEditText(portText);
    QCOMPARE(portBox->toolTip(), device.isNull() ? m_kit->slavePath() : device);
}

QByteArray WindowDeviceTest::history() const
{
    QFile file(m_config->path() + QStringLiteral("/state/KitUpdater/history.jsonl"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WindowDeviceTest::historyBeforeTheMessageBox_data()
{
    QTest::addColumn<int>("silentAfterFrames");
    QTest::addColumn<QByteArray>("versionAnswer");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<double>("fewestSeconds"); // the exchange's own time
    QTest::addColumn<double>("mostSeconds");
    QTest::newRow("completion box") << -1 << KitVersion << "done" << 0.1 << 1.0;
    QTest::newRow("time-out box of a word") << 2 << KitVersion << "timeout" << 2.0 << 3.0;
    QTest::newRow("time-out box of the handshake") << -1 << QByteArray("15 bytes only..") << "timeout" << 1.0 << 2.0;
}

// The box stays open for 1.5 s, as a user reading it would keep it: the
// history holds the update already, with the time of the exchange alone.
void WindowDeviceTest::historyBeforeTheMessageBox()
{
    QFETCH(int, silentAfterFrames);
    QFETCH(QByteArray, versionAnswer);
    QFETCH(QString, ending);
    QFETCH(double, fewestSeconds);
    QFETCH(double, mostSeconds);
    configureKit([&](KitSimConfig &c) {
        c.silentAfterFrames = silentAfterFrames;
        c.versionAnswer = versionAnswer.toStdString();
    });
    chooseFile(EightWordsFile);
    QByteArray historyWhileShown;
    m_dialogs.whileShown = [&] {
        historyWhileShown = history();
        QTest::qWait(1500);
    };

    press(control<QToolButton>("CmdUpdate"));

    QCOMPARE(m_dialogs.messages.size(), 1);
    QVERIFY2(historyWhileShown.count('\n') == 1, historyWhileShown.constData());
    const QJsonObject record = QJsonDocument::fromJson(historyWhileShown).object();
    QCOMPARE(record.value("ending").toString(), ending);
    const double seconds = record.value("seconds").toDouble();
    QVERIFY2(seconds >= fewestSeconds && seconds < mostSeconds, qPrintable(QString::number(seconds)));
    QCOMPARE(history(), historyWhileShown); // and only once
}

void WindowDeviceTest::showActive()
{
    window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window()));
}

void WindowDeviceTest::key(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget *popup = QApplication::activePopupWidget();
    QTest::keyClick((popup ? popup : &window())->windowHandle(), key, modifiers);
}

void WindowDeviceTest::escapeInAnOpenList_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("opening"); // empty: no list is opened
    for (const char *combo : {"Combo_ComPort", "Combo_speed"})
        for (const char *opening : {"showPopup", "Alt+Down", "F4"})
            QTest::addRow("%s, %s", combo, opening) << combo << opening;
    QTest::newRow("no list open: Esc presses 閉じる") << "Combo_ComPort" << "";
}

// Esc closes an opened list and nothing else: the update goes on to its end.
void WindowDeviceTest::escapeInAnOpenList()
{
    QFETCH(QString, combo);
    QFETCH(QString, opening);
    configureKit([](KitSimConfig &c) { c.frameDelayUs = 30000; });
    chooseFile(EightWordsFile);
    showActive();
    auto *box = window().findChild<QComboBox *>(combo);
    box->setFocus(Qt::TabFocusReason);
    bool listWasOpen = false;
    bool listClosedByEsc = false;
    QObject scope;
    repeatUntilDone(&scope, [&] {
        if (m_kit->frames().size() < 2)
            return false;
        if (opening == QLatin1String("showPopup"))
            box->showPopup();
        else if (opening == QLatin1String("Alt+Down"))
            key(Qt::Key_Down, Qt::AltModifier);
        else if (opening == QLatin1String("F4"))
            key(Qt::Key_F4);
        listWasOpen = box->view()->isVisible();
        key(Qt::Key_Escape);
        listClosedByEsc = !box->view()->isVisible();
        return true;
    });

    press(control<QToolButton>("CmdUpdate"));

    if (opening.isEmpty()) {
        QTRY_VERIFY(!window().isVisible());
        QCOMPARE(status(), FailedStatus); // stopped
        return;
    }
    QVERIFY(listWasOpen);
    QVERIFY(listClosedByEsc);
    QVERIFY(window().isVisible());
    QCOMPARE(framesOf(*m_kit), eightWords());
    QCOMPARE(status(), DoneStatus);
}

void WindowDeviceTest::returnPressesTheFocusedButton_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("statusAfter");
    const QString fileChosen = QStringLiteral("ファイル名：e2e.hexを指定しました。");
    for (const auto &[name, key] : {std::pair{"Return", Qt::Key_Return}, std::pair{"Enter", Qt::Key_Enter}}) {
        QTest::addRow("閉じる, %s", name) << "OKButton" << key << fileChosen;
        QTest::addRow("OPEN, %s", name) << "CmdOpen" << key << fileChosen;
        QTest::addRow("Version Read, %s", name) << "CmdVersion" << key << VersionReadStatus;
        QTest::addRow("UPDATE, %s", name) << "CmdUpdate" << key << DoneStatus;
    }
}

void WindowDeviceTest::returnPressesTheFocusedButton()
{
    QFETCH(QString, button);
    QFETCH(Qt::Key, key);
    QFETCH(QString, statusAfter);
    chooseFile(EightWordsFile);
    showActive();
    window().findChild<QAbstractButton *>(button)->setFocus(Qt::TabFocusReason);

    this->key(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);

    QTRY_COMPARE(status(), statusAfter);
    QCOMPARE(window().isVisible(), button != QLatin1String("OKButton"));
    QCOMPARE(m_dialogs.requests.size(), button == QLatin1String("CmdOpen") ? 2 : 1);
}

QTEST_MAIN(WindowDeviceTest)
#include "tst_window_device.moc"
