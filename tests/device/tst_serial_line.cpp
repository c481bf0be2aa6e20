// The serial line over a real pseudo-terminal, with the simulated kit on the
// other side: what reaches the terminal's settings, other programs holding
// the port, a kit that keeps sending, and a kit that hangs up.
#include "DeviceTestSupport.h"
#include "ExpectedTexts.h"
#include "KitSimulator.h"
#include "QtSerialLine.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Expected;

namespace {

// The kit on a pseudo-terminal, reached through the real serial line.
struct TerminalKit {
    explicit TerminalKit(const KitSimConfig &config = {}) : kit(config)
    {
        kit.start();
        port = std::make_unique<MSComm100>(std::make_unique<QtSerialLine>());
        link = std::make_unique<KitLink>(*port, StandardKit, reports);
    }
    void run(const std::function<void()> &start) { runToEnd(reports, *link, start); }
    void version(const QString &lineSettings = QStringLiteral("9600,n,8,1"))
    {
        run([&] { link->startVersionQuery({kit.slavePath(), lineSettings}); });
    }

    KitSimulator kit;
    std::unique_ptr<MSComm100> port;
    RecordingReports reports;
    std::unique_ptr<KitLink> link;
};

// Another program's descriptor of the same terminal.
class OtherOpener {
public:
    explicit OtherOpener(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~OtherOpener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestSerialLine : public QObject {
    Q_OBJECT
private slots:
    // Read back from the terminal itself: raw 8N1 at the chosen speed, no flow control.
    void lineSettingsReachTheTerminal_data()
    {
        QTest::addColumn<QString>("lineSettings");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600") << "9600,n,8,1" << int(B9600);
        QTest::newRow("19200") << "19200,n,8,1" << int(B19200);
        QTest::newRow("57600") << "57600,n,8,1" << int(B57600);
    }
    void lineSettingsReachTheTerminal()
    {
        QFETCH(QString, lineSettings);
        QFETCH(int, speed);
        TerminalKit kit;
        kit.version(lineSettings);
        QCOMPARE(kit.reports.statuses.last(), VersionReadStatus);

        const OtherOpener reader(kit.kit.slavePath());
        termios t {};
        QCOMPARE(::tcgetattr(reader.fd(), &t), 0);

        QCOMPARE(int(::cfgetospeed(&t)), speed);
        QCOMPARE(int(::cfgetispeed(&t)), speed);
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    }

    // The pause after 0x46 lasts 100 ms and ends with the buffer emptied: an
    // answer to 0x46 within it is thrown away, a later one is taken as the
    // start of the version. A kit answering at once ends the query at its
    // 16th byte, not at the one-second limit.
    void pauseAfterPrepare_data()
    {
        QTest::addColumn<int>("answerToFAfterMs"); // -1: no answer to 0x46
        QTest::addColumn<QString>("version");
        QTest::newRow("no answer to 0x46, version at once") << -1 << "KIT-FW Ver1.00  ";
        QTest::newRow("0x46 answered after 60 ms: thrown away") << 60 << "KIT-FW Ver1.00  ";
        QTest::newRow("0x46 answered after 150 ms: taken as the version") << 150 << "ANSWER-TO-F-150 ";
    }
    void pauseAfterPrepare()
    {
        QFETCH(int, answerToFAfterMs);
        QFETCH(QString, version);
        KitSimConfig config;
        if (answerToFAfterMs >= 0) {
            config.answerToF = QByteArrayLiteral("ANSWER-TO-F-150 ").toStdString();
            config.answerToFDelayUs = answerToFAfterMs * 1000;
        }
        TerminalKit kit(config);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("kit.log"));
        kit.kit.setLogFile(log);

        kit.version();

        QCOMPARE(kit.reports.result.ending, LinkResult::Ending::Done);
        QCOMPARE(kit.reports.versions, QStringList{version});
        QVERIFY2(kit.reports.result.seconds < 0.5, qPrintable(QString::number(kit.reports.result.seconds)));
        // The kit reads nothing while it waits to answer 0x46, so it notes 0x3F late then.
        if (answerToFAfterMs < 100) {
            const QStringList lines = readLines(log);
            QCOMPARE(lines.size(), 2);
            const double pauseMs = (lines.at(1).section(' ', 0, 0).toLongLong()
                                    - lines.at(0).section(' ', 0, 0).toLongLong()) / 1000.0;
            QVERIFY2(lines.at(0).endsWith(" F") && lines.at(1).endsWith(" ?"), qPrintable(lines.join('|')));
            QVERIFY2(pauseMs >= 80 && pauseMs <= 120, qPrintable(QString::number(pauseMs)));
        }
    }

    // A port another program holds for itself is refused, for root too, and the
    // holder keeps it as it was.
    void heldByAnotherProgram_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("exclusive use (TIOCEXCL)") << "exclusive";
        QTest::newRow("a lock (flock)") << "flock";
        QTest::newRow("a shared lock (flock LOCK_SH)") << "shared flock";
    }
    void heldByAnotherProgram()
    {
        QFETCH(QString, how);
        TerminalKit kit;
        const OtherOpener holder(kit.kit.slavePath());
        if (how == QLatin1String("exclusive"))
            QCOMPARE(::ioctl(holder.fd(), TIOCEXCL), 0);
        else
            QCOMPARE(::flock(holder.fd(), (how == QLatin1String("flock") ? LOCK_EX : LOCK_SH) | LOCK_NB), 0);

        kit.version();

        QCOMPARE(kit.reports.statuses, (QStringList{QString(), PortOpenFailedStatus}));
        QVERIFY2(kit.reports.details.value(0).contains("another program holds the port"),
                 qPrintable(kit.reports.details.value(0)));
        QVERIFY(kit.kit.commandBytes().isEmpty());
        if (how == QLatin1String("exclusive")) {
            int exclusive = 0;
            QCOMPARE(::ioctl(holder.fd(), TIOCGEXCL, &exclusive), 0);
            QCOMPARE(exclusive, 1);
        }
    }

    // Between exchanges the port stays open and nobody reads it: a kit that
    // keeps sending fills a bounded buffer only, and the next exchange starts clean.
    void kitThatKeepsSending()
    {
        TerminalKit kit;
        kit.version();
        const QByteArray chatter(4096, 'x');
        qint64 sent = 0;
        for (int round = 0; round < 200; ++round) {
            sent += kit.kit.sendUnasked(chatter);
            QTest::qWait(1);
        }

        QVERIFY2(sent > 2 * QtSerialLine::InputBufferSize, qPrintable(QString::number(sent)));
        QVERIFY2(kit.port->InBufferCount() <= QtSerialLine::InputBufferSize,
                 qPrintable(QString::number(kit.port->InBufferCount())));
        kit.reports.statuses.clear();
        kit.version();
        QCOMPARE(kit.reports.versions.last(), QStringLiteral("KIT-FW Ver1.00  "));
        QCOMPARE(kit.reports.statuses.last(), VersionReadStatus);
    }

    // The kit hangs up in the middle of an update: the reason says the device went away.
    void hangUpSaysTheDeviceWentAway()
    {
        KitSimConfig config;
        config.hangUpAfterFrames = 2;
        TerminalKit kit(config);

        kit.run([&] {
            kit.link->startUpdate({kit.kit.slavePath(), QString()}, [] { return HexFile::parse(wordsFile(4)); });
        });

        QCOMPARE(kit.reports.result.ending, LinkResult::Ending::Failed);
        const QString detail = kit.reports.details.value(0);
        QVERIFY2(detail.contains("the device went away (unplugged?)") && detail.contains("1 of 4 words"),
                 qPrintable(detail));
        QVERIFY(!kit.port->PortOpen());
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serial_line.moc"
