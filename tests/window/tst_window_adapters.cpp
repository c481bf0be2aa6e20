// A USB adapter plugged in while the window is open: a real (offscreen)
// window, a real settings file, and a by-id folder where the adapter's link to
// the simulated kit's pseudo-terminal appears.
#include "ExpectedTexts.h"
#include "FakeDialogs.h"
#include "KitFrames.h"
#include "KitSimulator.h"
#include "SettingsStore.h"
#include "UpdaterWindow.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

using namespace Expected;

namespace {

const QString AdapterName = QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00");

// The number the settings file on disk gives this device; 0 for none.
int numberOnDisk(const QString &iniPath, const QString &device)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression mapping(QStringLiteral("^(\\d+)=") + QRegularExpression::escape(device) + QLatin1Char('$'),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = mapping.match(QString::fromUtf8(file.readAll()));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

class WindowAdaptersTest : public QObject {
    Q_OBJECT
private slots:
    void adapterPluggedInWhileOpen();
    void mappingMadeElsewhereShows();
};

void WindowAdaptersTest::adapterPluggedInWhileOpen()
{
    QTemporaryDir config;
    QTemporaryDir devices;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    const QString ini = config.filePath(QStringLiteral("KitUpdater/KitUpdater.ini"));
    // No adapter has been plugged in yet: udev has not made the folder.
    const QString byId = devices.filePath(QStringLiteral("serial/by-id"));
    qputenv("KITUPDATER_SERIAL_BY_ID", byId.toUtf8());
    KitSimConfig kitConfig;
    kitConfig.versionAnswer = BoundaryKitVersion.toStdString();
    KitSimulator kit(kitConfig);
    kit.start();
    SettingsStore settings;
    FakeDialogs dialogs;
    UpdaterWindow window(devices.path() + QLatin1Char('/'), settings, dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *portBox = window.findChild<QComboBox *>(QStringLiteral("Combo_ComPort"));

    const QString link = byId + QLatin1Char('/') + AdapterName;
    QVERIFY(QDir().mkpath(byId));
    QVERIFY(QFile::link(kit.slavePath(), link));

    QTRY_VERIFY(numberOnDisk(ini, link) != 0);
    const int number = numberOnDisk(ini, link);
    QVERIFY2(number >= 1 && number <= 20, qPrintable(QString::number(number)));
    const QString tip = QStringLiteral("Kit Maker Kit One SN0001: ") + kit.slavePath();
    QTRY_COMPARE(portBox->itemData(number - 1, Qt::ToolTipRole).toString(), tip);
    QCOMPARE(portBox->itemText(number - 1), QString::number(number));
    QCOMPARE(portBox->count(), 20);

    portBox->setEditText(QString::number(number));
    QCOMPARE(portBox->toolTip(), tip);
    window.findChild<QToolButton *>(QStringLiteral("CmdVersion"))->click();

    // The click may return before the exchange has ended.
    QTRY_COMPARE(window.findChild<QLabel *>(QStringLiteral("Panel1"))->text(), VersionReadStatus);
    QTRY_COMPARE(window.findChild<QPlainTextEdit *>(QStringLiteral("Text_FirmwareVersion"))->toPlainText(),
                 QString::fromLatin1(BoundaryKitVersion));
    QCOMPARE(kit.commandBytes(), QByteArray("\x46\x3F"));
    QVERIFY(dialogs.messages.isEmpty());
    window.close();
}

// `kitupdater-cli map 5 ...` while the window is open: the file is replaced
// by another program, and the window shows and uses the new mapping.
void WindowAdaptersTest::mappingMadeElsewhereShows()
{
    QTemporaryDir config;
    QTemporaryDir devices;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    const QString ini = config.filePath(QStringLiteral("KitUpdater/KitUpdater.ini"));
    qputenv("KITUPDATER_SERIAL_BY_ID", devices.filePath(QStringLiteral("by-id")).toUtf8());
    QVERIFY(QDir().mkpath(QFileInfo(ini).absolutePath()));
    QSaveFile before(ini);
    QVERIFY(before.open(QIODevice::WriteOnly));
    before.write("[Settings]\nCom=5\n");
    QVERIFY(before.commit());
    SettingsStore settings;
    FakeDialogs dialogs;
    UpdaterWindow window(devices.path() + QLatin1Char('/'), settings, dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *portBox = window.findChild<QComboBox *>(QStringLiteral("Combo_ComPort"));
    QCOMPARE(portBox->itemData(4, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS4"));
    KitSimulator kit;
    kit.start();

    QSaveFile mapped(ini);
    QVERIFY(mapped.open(QIODevice::WriteOnly));
    mapped.write("[Settings]\nCom=5\n\n[Ports]\n5=" + kit.slavePath().toUtf8() + "\n");
    QVERIFY(mapped.commit());

    QTRY_COMPARE(portBox->itemData(4, Qt::ToolTipRole).toString(), kit.slavePath());
    QCOMPARE(portBox->toolTip(), kit.slavePath());
    window.findChild<QToolButton *>(QStringLiteral("CmdVersion"))->click();
    QTRY_COMPARE(kit.commandBytes(), QByteArray("\x46\x3F"));
    window.close();
}

QTEST_MAIN(WindowAdaptersTest)
#include "tst_window_adapters.moc"
