// Port texts to port numbers, port numbers to devices, and the numbers that
// USB adapters get: over real settings files and a by-id folder of real links.
#include "MachinePorts.h"
#include "PortMap.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <future>

namespace {

const QString KitAdapter = QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00");
const QString OtherAdapter = QStringLiteral("usb-Kit_Maker_Kit_Two_SN0002-if00-port0");

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void makeLink(const QString &target, const QString &link)
{
    QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
    QVERIFY(QFile::link(target, link));
}

// The "[Ports]" lines of the file as they are on disk, sorted.
QStringList portsOnDisk(const QString &iniPath)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    bool inPorts = false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith('['))
            inPorts = line.trimmed() == "[Ports]";
        else if (inPorts && !line.trimmed().isEmpty())
            lines.append(QString::fromUtf8(line.trimmed()));
    }
    lines.sort();
    return lines;
}

} // namespace

class TestPortMap : public QObject {
    Q_OBJECT

private slots:
    void parsePortNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<int>("number");
        QTest::newRow("digits") << "3" << true << 3;
        QTest::newRow("two digits") << "20" << true << 20;
        QTest::newRow("blanks around") << "  7 " << true << 7;
        QTest::newRow("largest 16-bit") << "32767" << true << 32767;
        QTest::newRow("smallest 16-bit") << "-32768" << true << -32768;
        QTest::newRow("negative") << "-1" << true << -1;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("plus sign") << "+4" << true << 4;
        QTest::newRow("too large") << "32768" << false << 0;
        QTest::newRow("too small") << "-32769" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blanks only") << "   " << false << 0;
        QTest::newRow("first start") << "?" << false << 0;
        QTest::newRow("trailing letter") << "7a" << false << 0;
        QTest::newRow("device name") << "COM3" << false << 0;
        QTest::newRow("fraction") << "1.5" << false << 0;
        QTest::newRow("hexadecimal") << "0x10" << false << 0;
        QTest::newRow("blank inside") << "1 2" << false << 0;
        QTest::newRow("sign alone") << "-" << false << 0;
    }
    void parsePortNumber()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(int, number);
        const std::optional<int> parsed = ::parsePortNumber(text);
        QCOMPARE(parsed.has_value(), isNumber);
        if (isNumber)
            QCOMPARE(*parsed, number);
    }

    void devicePathForPort_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        QTest::newRow("mapped") << 7 << "/dev/ttyUSB0";
        QTest::newRow("mapped high number") << 300 << "/dev/pts/12";
#ifdef Q_OS_WIN
        QTest::newRow("first unmapped") << 1 << "COM1";
        QTest::newRow("unmapped") << 20 << "COM20";
#else
        QTest::newRow("first unmapped") << 1 << "/dev/ttyS0";
        QTest::newRow("unmapped") << 20 << "/dev/ttyS19";
#endif
        QTest::newRow("zero names no device") << 0 << "";
        QTest::newRow("negative names no device") << -2 << "";
    }
    void devicePathForPort()
    {
        QFETCH(int, number);
        QFETCH(QString, path);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("ports.ini"));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Ports]\n07=/dev/ttyUSB0\n300=/dev/pts/12\nseven=/dev/ttyUSB9\n");
        file.close();
        const SettingsStore settings(ini);
        QCOMPARE(::devicePathForPort(number, settings), path);
    }

    // "7" and "07" name the same port; a key that is no number names none.
    void portKeysAreDecimalNumbers()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("ports.ini"));
        writeFile(ini, "[Ports]\n12=/dev/ttyUSB12\n07=/dev/ttyUSB7\nseven=/dev/ttyUSB9\n3=/dev/ttyUSB3\n");
        SettingsStore settings(ini);
        QCOMPARE(settings.mappedPortNumbers(), (QList<int>{3, 7, 12}));
        QCOMPARE(settings.mappedPort(7), QStringLiteral("/dev/ttyUSB7"));

        QVERIFY(settings.setMappedPort(7, QStringLiteral("/dev/ttyACM0")));
        QVERIFY(settings.removeMappedPort(12));

        QCOMPARE(portsOnDisk(ini),
                 (QStringList{"3=/dev/ttyUSB3", "7=/dev/ttyACM0", "seven=/dev/ttyUSB9"}));
    }

#ifdef Q_OS_UNIX // adapters as links in udev's by-id folder: how Linux names them
    void adapterNumber_data()
    {
        QTest::addColumn<QByteArray>("ports"); // "[Ports]" before; {link}: the adapter's link
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("needsTtyS0");  // the machine must list /dev/ttyS0

        QTest::newRow("numbers 1-9 taken") << takenPorts(1, 9) << 10 << false;
        QTest::newRow("the lowest free number, not one after the highest")
            << takenPorts(1, 9) + "12=/dev/ttyUSB12\n" << 10 << false;
        QTest::newRow("keys are decimal: 010 takes 10") << takenPorts(1, 9) + "010=/dev/ttyUSB10\n" << 11 << false;
        QTest::newRow("a key that is no number takes nothing")
            << takenPorts(1, 9) + "ten=/dev/ttyUSB10\n" << 10 << false;
        QTest::newRow("an adapter keeps the number it has") << takenPorts(1, 9) + "15={link}\n" << 15 << false;
        QTest::newRow("this machine's /dev/ttyS0 keeps number 1") << takenPorts(2, 9) << 10 << true;
    }

    // An adapter found at start: its number is written at once, once.
    void adapterNumber()
    {
        QFETCH(QByteArray, ports);
        QFETCH(int, number);
        QFETCH(bool, needsTtyS0);
        if (machineTakesNumbersFrom10())
            QSKIP("this machine lists /dev/ttyS ports for the numbers 10 to 20");
        if (needsTtyS0 && !machineTtySNumbers().contains(1))
            QSKIP("this machine lists no /dev/ttyS0");
        QTemporaryDir dir;
        const QString byId = dir.filePath(QStringLiteral("by-id"));
        const QString link = byId + QLatin1Char('/') + KitAdapter;
        const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
        writeFile(device, {});
        makeLink(device, link);
        const QString ini = dir.filePath(QStringLiteral("ports.ini"));
        writeFile(ini, "[Ports]\n" + ports.replace("{link}", link.toUtf8()));
        SettingsStore settings(ini);

        const PortNumbering numbering(settings, PortRange{1, 20}, byId);

        const QStringList onDisk = portsOnDisk(ini);
        QVERIFY2(onDisk.contains(QStringLiteral("%1=%2").arg(number).arg(link)), qPrintable(onDisk.join(' ')));
        QCOMPARE(onDisk.filter(QLatin1Char('=') + link).size(), 1);
        QCOMPARE(numbering.devicePath(number), link);
        QCOMPARE(numbering.describe(number), "Kit Maker Kit One SN0001: " + QFileInfo(device).canonicalFilePath());
    }

    // The folder appears with the first adapter; the number stays with the
    // adapter through unplugging and plugging into another socket.
    void adapterKeepsItsNumber()
    {
        if (machineTakesNumbersFrom10())
            QSKIP("this machine lists /dev/ttyS ports for the numbers 10 to 20");
        QTemporaryDir dir;
        const QString byId = dir.filePath(QStringLiteral("serial/by-id"));
        const QString link = byId + QLatin1Char('/') + KitAdapter;
        const QString firstSocket = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/ttyUSB0");
        const QString secondSocket = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/ttyUSB1");
        writeFile(firstSocket, {});
        writeFile(secondSocket, {});
        const QString ini = dir.filePath(QStringLiteral("ports.ini"));
        writeFile(ini, "[Ports]\n" + takenPorts(1, 9));
        SettingsStore settings(ini);
        const PortNumbering numbering(settings, PortRange{1, 20}, byId);

        makeLink(firstSocket, link);
        QTRY_VERIFY(portsOnDisk(ini).contains("10=" + link));
        QCOMPARE(numbering.describe(10), "Kit Maker Kit One SN0001: " + firstSocket);

        QVERIFY(QFile::remove(link));
        QTRY_COMPARE(numbering.describe(10), QStringLiteral("Kit Maker Kit One SN0001: not connected"));

        makeLink(secondSocket, link);
        QTRY_COMPARE(numbering.describe(10), "Kit Maker Kit One SN0001: " + secondSocket);
        makeLink(firstSocket, byId + QLatin1Char('/') + OtherAdapter);
        QTRY_VERIFY(portsOnDisk(ini).contains("11=" + byId + QLatin1Char('/') + OtherAdapter));
        QCOMPARE(numbering.describe(11), "Kit Maker Kit Two SN0002: " + firstSocket);
        QCOMPARE(portsOnDisk(ini).filter(QLatin1Char('=') + link), QStringList{"10=" + link});
    }

#endif

    // Another program maps a number after this one read the file: the number
    // picked next is another one, and the other program's key stays.
    void numberPickedFromTheFileAsItIsNow()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("ports.ini"));
        writeFile(ini, "[Ports]\n" + takenPorts(1, 9));
        SettingsStore settings(ini);
        QCOMPARE(settings.mappedPortNumbers().size(), 9);
        QSaveFile other(ini); // as QSettings in another program writes it
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("[Ports]\n" + takenPorts(1, 9) + "10=/dev/ttyUSB10\n");
        QVERIFY(other.commit());

        const SettingsStore::PortPick pick = settings.mapToFreePort(QStringLiteral("/dev/ttyACM0"), 1, 20, {});

        QCOMPARE(pick.number, std::optional<int>(11));
        QVERIFY(pick.written);
        const QStringList onDisk = portsOnDisk(ini);
        QVERIFY2(onDisk.contains(QStringLiteral("10=/dev/ttyUSB10")) && onDisk.contains(QStringLiteral("11=/dev/ttyACM0")),
                 qPrintable(onDisk.join(' ')));
    }

    // Every writer of "[Ports]" waits while another program holds the lock
    // file, then works on the file as that program left it: the number the
    // holder mapped meanwhile is neither lost nor given out again.
    void portWritersWaitForTheLock_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QStringList>("portsAfter");
        QTest::newRow("setMappedPort") << "set" << QStringList{"1=/dev/ttyUSB1", "2=/dev/ttyUSB2", "7=/dev/ttyACM0"};
        QTest::newRow("removeMappedPort") << "remove" << QStringList{"1=/dev/ttyUSB1", "2=/dev/ttyUSB2"};
        QTest::newRow("mapToFreePort")
            << "map to free" << QStringList{"1=/dev/ttyUSB1", "2=/dev/ttyUSB2", "3=/dev/ttyACM0", "7=/dev/ttyUSB7"};
    }
    void portWritersWaitForTheLock()
    {
        QFETCH(QString, writer);
        QFETCH(QStringList, portsAfter);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("KitUpdater.ini"));
        writeFile(ini, "[Ports]\n1=/dev/ttyUSB1\n7=/dev/ttyUSB7\n");
        SettingsStore settings(ini);
        QLockFile otherProgram(ini + QStringLiteral(".ports-lock"));
        QVERIFY(otherProgram.tryLock(0));

        std::future<bool> written = std::async(std::launch::async, [&] {
            if (writer == QLatin1String("set"))
                return settings.setMappedPort(7, QStringLiteral("/dev/ttyACM0"));
            if (writer == QLatin1String("remove"))
                return settings.removeMappedPort(7);
            return settings.mapToFreePort(QStringLiteral("/dev/ttyACM0"), 1, 20, {}).number == 3;
        });
        const bool waited = written.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
        QSaveFile file(ini); // the holder maps port 2, as QSettings in another program writes it
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Ports]\n1=/dev/ttyUSB1\n2=/dev/ttyUSB2\n7=/dev/ttyUSB7\n");
        QVERIFY(file.commit());
        otherProgram.unlock();

        QVERIFY(written.get());
        QVERIFY2(waited, "the writer went ahead while another program held the lock");
        QCOMPARE(portsOnDisk(ini), portsAfter);
    }

#ifdef Q_OS_UNIX
    // Settings that cannot be written (their folder would have to be made
    // where a file stands): adapters still get numbers for this run.
    void unwritableSettings()
    {
        if (machineTakesNumbersFrom10())
            QSKIP("this machine lists /dev/ttyS ports for the numbers 10 to 20");
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("config"));
        writeFile(blocker, {});
        SettingsStore settings(blocker + QStringLiteral("/KitUpdater.ini"));
        for (int number = 1; number <= 9; ++number)
            QVERIFY(!settings.setMappedPort(number, QStringLiteral("/dev/ttyUSB9%1").arg(number)));
        const QString byId = dir.filePath(QStringLiteral("by-id"));
        makeLink(QStringLiteral("/dev/null"), byId + QLatin1Char('/') + KitAdapter);
        makeLink(QStringLiteral("/dev/zero"), byId + QLatin1Char('/') + OtherAdapter);

        const PortNumbering numbering(settings, PortRange{1, 20}, byId);

        QCOMPARE(numbering.devicePath(10), byId + QLatin1Char('/') + KitAdapter);
        QCOMPARE(numbering.devicePath(11), byId + QLatin1Char('/') + OtherAdapter);
        QCOMPARE(numbering.describe(11), QStringLiteral("Kit Maker Kit Two SN0002: /dev/zero"));
        QVERIFY(QFileInfo(blocker).isFile());
    }
#endif
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
