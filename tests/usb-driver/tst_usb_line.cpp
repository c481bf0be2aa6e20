// kitupdater-cli through the real ftdi_sio driver to the simulated kit: the
// line settings the driver is asked for, the latency timer, the adapter's
// USB details, --port auto and a port that another program holds. One guest
// boot serves them all.
#include "DriverRequests.h"
#include "GuestMachine.h"
#include "HexWriter.h"
#include "KitFrames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

const QString Cli = GuestCli;
const QString Latency = QStringLiteral("/sys/bus/usb-serial/devices/ttyUSB0/latency_timer");

QStringList framesAsText(const Frames &frames)
{
    QStringList texts;
    for (const auto &[address, value] : frames)
        texts.append(QStringLiteral("%1 %2").arg(address, 4, 16, QLatin1Char('0')).arg(value, 4, 16, QLatin1Char('0')).toUpper());
    return texts;
}

// 2,000 words from word 0: long enough to look at the line while it runs.
QByteArray longFile()
{
    QMap<quint16, quint16> words;
    for (quint16 address = 0; address < 2000; ++address)
        words.insert(address, quint16(address * 7));
    return HexWriter::words(words);
}

} // namespace

class UsbLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<KitProcess> m_kit;
    GuestMachine m_guest;
    QString m_boundaryFile;
    QString m_longFile;

    // kitupdater-cli with these arguments, as a guest command.
    static QString cli(const QString &arguments) { return Cli + QLatin1Char(' ') + arguments; }

private slots:
    void initTestCase()
    {
        m_kit = std::make_unique<KitProcess>(m_dir.filePath(QStringLiteral("kit.log")),
                                             QStringList{QStringLiteral("--version-text"), QStringLiteral("USB-KIT Ver3.10 ")});
        QVERIFY2(!m_kit->ptyPath().isEmpty(), qPrintable(m_kit->error()));
        const QString error = m_guest.boot(m_kit->ptyPath());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        m_boundaryFile = m_guest.putFile(QStringLiteral("boundary.hex"), BoundaryFile);
        m_longFile = m_guest.putFile(QStringLiteral("long.hex"), longFile());
    }

    // Every byte of the exchange leaves at the chosen speed, 8 data bits, no
    // parity, 1 stop bit, no flow control and a 1 ms latency timer, as the
    // driver was asked; the kit gets the version query and exactly the file's frames.
    void versionAndUpdate_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("divisor"); // FT232B: 3 MHz / speed, eighths in the top bits
        QTest::newRow("9600") << QStringLiteral("9600") << QStringLiteral("4138");
        QTest::newRow("19200") << QStringLiteral("19200") << QStringLiteral("809c");
        QTest::newRow("57600") << QStringLiteral("57600") << QStringLiteral("c034");
    }

    void versionAndUpdate()
    {
        QFETCH(QString, speed);
        QFETCH(QString, divisor);
        const qint64 kitLog = m_kit->logSize();
        const qint64 requests = m_guest.driverRequestsSize();
        const GuestRun result =
            m_guest.run(cli(QStringLiteral("--port /dev/ttyUSB0 --speed %1 version").arg(speed)) + QStringLiteral(" && ")
                        + cli(QStringLiteral("--port /dev/ttyUSB0 --speed %1 update %2").arg(speed, m_boundaryFile)));
        QVERIFY2(result.exitCode == 0, qPrintable(m_guest.lastError() + result.err));
        QVERIFY2(result.out.contains(QStringLiteral("USB-KIT Ver3.10 ")), qPrintable(result.out));
        QCOMPARE(m_kit->framesSince(kitLog), framesAsText(BoundaryFrames));

        const QList<LineState> states = lineStatesAtWrites(m_guest.driverRequestsSince(requests));
        QVERIFY(states.size() >= 2 + 2 + BoundaryFrames.size()); // two version queries, then the frames
        for (const LineState &state : states) {
            QCOMPARE(state.baudDivisor, divisor);
            QCOMPARE(state.dataFormat, QStringLiteral("0008"));       // 8 data bits, no parity, 1 stop bit
            QCOMPARE(state.flowControl, QStringLiteral("0000 0000")); // no flow control
            QCOMPARE(state.latency, QStringLiteral("0001"));          // answers handed over after 1 ms
        }
    }

    // The tool asks for 1 ms while it runs, and puts the adapter's own timer
    // back when it ends.
    void latencyTimer()
    {
        const qint64 kitLog = m_kit->logSize();
        const int update = m_guest.submit(
            QStringLiteral("echo 16 >%1 && (%2 --port /dev/ttyUSB0 update %3; echo $? >/tmp/long.status) >/tmp/long.out 2>&1 &")
                .arg(Latency, Cli, m_longFile));
        QCOMPARE(m_guest.result(update, 10000).exitCode, 0);
        QVERIFY2(m_kit->waitForFrames(kitLog, 100, 60000), "the update did not start");
        const GuestRun during = m_guest.run(QStringLiteral("cat ") + Latency);
        const GuestRun after = m_guest.run(QStringLiteral("while [ ! -e /tmp/long.status ]; do sleep 0.1; done; "
                                                          "cat /tmp/long.status %1").arg(Latency), 300000);
        QCOMPARE(during.out, QStringLiteral("1\n"));
        QCOMPARE(after.out, QStringLiteral("0\n16\n"));
        QCOMPARE(m_kit->framesSince(kitLog).size(), 2000);
    }

    // The adapter with its USB ids, serial number, maker and by-id name, and
    // the port number the tool gave it.
    void ports()
    {
        const GuestRun listing = m_guest.run(cli(QStringLiteral("ports")));
        const GuestRun json = m_guest.run(cli(QStringLiteral("--json ports")));
        QCOMPARE(listing.exitCode, 0);
        const QStringList lines = listing.out.split(QLatin1Char('\n')).filter(QStringLiteral("KIT14A01"));
        QCOMPARE(lines.size(), 1);
        const QStringList fields = lines.first().split(QLatin1Char('\t'));
        QCOMPARE(fields.mid(1), (QStringList{QStringLiteral("usb-QEMU_QEMU_USB_SERIAL_KIT14A01-if00-port0"),
                                             QStringLiteral("/dev/ttyUSB0"), QStringLiteral("0403:6001"),
                                             QStringLiteral("KIT14A01"), QStringLiteral("QEMU"), QStringLiteral("ok")}));
        const int number = fields.first().toInt();
        QVERIFY2(number >= 1 && number <= 20, qPrintable(fields.first()));

        QCOMPARE(json.exitCode, 0);
        QJsonObject adapter;
        for (const QJsonValue &port : QJsonDocument::fromJson(json.out.toUtf8()).array()) {
            if (port[QStringLiteral("serial")] == QStringLiteral("KIT14A01"))
                adapter = port.toObject();
        }
        QCOMPARE(adapter.value(QStringLiteral("number")).toInt(), number);
        QCOMPARE(adapter.value(QStringLiteral("by_id")).toString(), QStringLiteral("usb-QEMU_QEMU_USB_SERIAL_KIT14A01-if00-port0"));
        QCOMPARE(adapter.value(QStringLiteral("device")).toString(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(adapter.value(QStringLiteral("vendor_id")).toString(), QStringLiteral("0403"));
        QCOMPARE(adapter.value(QStringLiteral("product_id")).toString(), QStringLiteral("6001"));
        QCOMPARE(adapter.value(QStringLiteral("manufacturer")).toString(), QStringLiteral("QEMU"));
        QCOMPARE(adapter.value(QStringLiteral("access")).toString(), QStringLiteral("ok"));

        // The number is the adapter's from now on.
        const GuestRun byNumber = m_guest.run(cli(QStringLiteral("--port %1 version").arg(number)));
        QVERIFY2(byNumber.out.contains(QStringLiteral("USB-KIT Ver3.10 ")), qPrintable(byNumber.err));
    }

    // The one adapter whose kit answers, found by the version query alone.
    void portAuto()
    {
        const qint64 kitLog = m_kit->logSize();
        const GuestRun result = m_guest.run(cli(QStringLiteral("--port auto update ") + m_boundaryFile));
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(m_kit->framesSince(kitLog), framesAsText(BoundaryFrames));
    }

    // A port another program holds is refused, nothing reaches the kit, and
    // the listing says busy: also for root, whom TIOCEXCL lets in.
    void heldPort_data()
    {
        QTest::addColumn<QString>("hold"); // perl, on the open device $f
        QTest::addColumn<QString>("reason");
        QTest::newRow("TIOCEXCL") << QStringLiteral("ioctl($f, 0x540C, 0)") << QStringLiteral("opened for exclusive use");
        QTest::newRow("flock") << QStringLiteral("flock($f, LOCK_EX)") << QStringLiteral("locked");
    }

    void heldPort()
    {
        QFETCH(QString, hold);
        QFETCH(QString, reason);
        const qint64 kitLog = m_kit->logSize();
        const QString holder = QStringLiteral(
            "perl -MFcntl=:DEFAULT,:flock -e 'sysopen(my $f, \"/dev/ttyUSB0\", O_RDWR|O_NONBLOCK|O_NOCTTY) or die $!; "
            "%1 or die $!; open(my $h, \">\", \"/tmp/held\"); close $h; sleep 60'").arg(hold);
        const GuestRun result = m_guest.run(QStringLiteral("rm -f /tmp/held; %1 & holder=$!\n"
                                                           "while [ ! -e /tmp/held ]; do sleep 0.05; done\n"
                                                           "%2 ports | grep KIT14A01\n"
                                                           "%2 --port /dev/ttyUSB0 version; echo \"status $?\"\n"
                                                           "kill $holder; wait $holder 2>/dev/null\n"
                                                           "%2 ports | grep KIT14A01\n")
                                                .arg(holder, Cli));
        const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.size() == 4, qPrintable(result.out + result.err));
        QVERIFY2(lines[0].endsWith(QStringLiteral("\tbusy")), qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("通信ポートをオープンできませんでした。"));
        QCOMPARE(lines[2], QStringLiteral("status 1"));
        QVERIFY2(lines[3].endsWith(QStringLiteral("\tok")), qPrintable(lines[3]));
        QVERIFY2(result.err.contains(QStringLiteral("another program holds the port (") + reason), qPrintable(result.err));
        QCOMPARE(m_kit->logSize(), kitLog);
    }
};

QTEST_GUILESS_MAIN(UsbLineTest)
#include "tst_usb_line.moc"
