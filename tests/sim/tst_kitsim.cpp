// The simulated kit, driven over its real pseudo-terminal by a raw termios
// client, as the host's serial port would drive it.

#include "KitSimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <stdexcept>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QVector<KitFrame>)

namespace {

constexpr int kPatienceMs = 5000;   // generous: only a broken kit makes a test wait this long

// The host end of the line: the slave device, raw, non-blocking, polled.
class PtyClient {
public:
    explicit PtyClient(const QString &path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios settings {};
        ::tcgetattr(fd_, &settings);
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B57600);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
    ~PtyClient() { close(); }

    bool isOpen() const { return fd_ >= 0; }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (!(n < 0 && (errno == EINTR || errno == EAGAIN)))
                return false;
        }
        return true;
    }

    // Up to count bytes; fewer only when the kit stays silent for the patience time.
    QByteArray read(int count, int patienceMs = kPatienceMs)
    {
        QByteArray received;
        QElapsedTimer timer;
        timer.start();
        while (received.size() < count && timer.elapsed() < patienceMs) {
            pollfd pfd {fd_, POLLIN, 0};
            if (::poll(&pfd, 1, int(patienceMs - timer.elapsed())) <= 0 || !(pfd.revents & POLLIN))
                break;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, size_t(qMin<qsizetype>(sizeof buffer, count - received.size())));
            if (n <= 0)
                break;
            received.append(buffer, n);
        }
        return received;
    }

    QByteArray exchange(const QByteArray &request, int answerSize)
    {
        if (!send(request))
            return "<send failed>";
        return read(answerSize);
    }

    // True when the line reports a hang-up: POLLHUP/POLLERR, end of file or EIO.
    bool waitForHangUp()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kPatienceMs) {
            pollfd pfd {fd_, POLLIN, 0};
            if (::poll(&pfd, 1, int(kPatienceMs - timer.elapsed())) <= 0)
                return false;
            if (pfd.revents & (POLLHUP | POLLERR))
                return true;
            char buffer[64];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno == EIO))
                return true;
        }
        return false;
    }

private:
    int fd_ = -1;
};

QByteArray frame(quint16 address, quint16 value)
{
    QByteArray bytes(1, '\x41');
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray crlfLines(const QStringList &lines)
{
    return (lines.join("\r\n") + "\r\n").toLatin1();
}

KitSimConfig withVersion(const QByteArray &version)
{
    KitSimConfig config;
    config.versionAnswer = version.toStdString();
    return config;
}

} // namespace

class TestKitSim : public QObject {
    Q_OBJECT

private slots:
    void versionAnswer_data();
    void versionAnswer();
    void answerToF_data();
    void answerToF();
    void frameAnswer_data();
    void frameAnswer();
    void splitFrame_data();
    void splitFrame();
    void commandBytesInsideAFrameAreData();
    void otherBytesAreIgnored();
    void framesAndMemoryRecorded();
    void silentAfterFrames_data();
    void silentAfterFrames();
    void hangUpAfterFrames_data();
    void hangUpAfterFrames();
    void stopHangsUpAndStartOpensANewLine();
    void clientCloseAndReopenKeepsTheLine();
    void frameDelayRespected_data();
    void frameDelayRespected();
    void strayBytesBeforeAnswer_data();
    void strayBytesBeforeAnswer();
    void hexDump_data();
    void hexDump();
    void hexDumpToUnwritablePathThrows();
    void logFile();
    void program();
    void programRejectsBadOptions_data();
    void programRejectsBadOptions();
};

void TestKitSim::versionAnswer_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::newRow("16 bytes") << QByteArray("KIT-FW Ver1.00  ");
    QTest::newRow("15 bytes") << QByteArray("KIT-FW Ver1.00 ");
    QTest::newRow("20 bytes") << QByteArray("KIT-FW Ver2.10 ABCD");
}

void TestKitSim::versionAnswer()
{
    QFETCH(QByteArray, version);
    KitSimulator kit;
    kit.start();
    kit.setConfig(withVersion(version));
    PtyClient client(kit.slavePath());
    QVERIFY(client.isOpen());

    QCOMPARE(client.exchange("?", version.size()), version);
    // A second request gets exactly the same: nothing more was sent the first time.
    QCOMPARE(client.exchange("?", version.size()), version);
    QCOMPARE(kit.commandBytes(), QByteArray("??"));
}

void TestKitSim::answerToF_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("no answer") << QByteArray();
    QTest::newRow("one byte") << QByteArray("\x06", 1);
    QTest::newRow("several bytes with NUL") << QByteArray("OK\x00\r\n", 5);
}

void TestKitSim::answerToF()
{
    QFETCH(QByteArray, answer);
    KitSimConfig config;
    config.answerToF = answer.toStdString();
    KitSimulator kit(config);
    kit.start();
    PtyClient client(kit.slavePath());

    QVERIFY(client.send("F"));
    QCOMPARE(client.exchange("?", answer.size() + 16), answer + QByteArray("KIT-FW Ver1.00  "));
    QCOMPARE(kit.commandBytes(), QByteArray("F?"));
}

void TestKitSim::frameAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("ACK") << QByteArray("\x06", 1);
    QTest::newRow("NUL") << QByteArray("\x00", 1);
    QTest::newRow("three bytes") << QByteArray("\x06\x15\x00", 3);
}

void TestKitSim::frameAnswer()
{
    QFETCH(QByteArray, answer);
    KitSimConfig config;
    config.frameAnswer = answer.toStdString();
    KitSimulator kit(config);
    kit.start();
    PtyClient client(kit.slavePath());

    QCOMPARE(client.exchange(frame(0x0008, 0x1234), answer.size()), answer);
    QCOMPARE(client.exchange(frame(0x0009, 0x5678), answer.size()), answer);
    QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
}

void TestKitSim::splitFrame_data()
{
    QTest::addColumn<int>("splitAt");
    for (int at = 1; at <= 4; ++at)
        QTest::addRow("after byte %d", at) << at;
}

void TestKitSim::splitFrame()
{
    QFETCH(int, splitAt);
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());
    const QByteArray bytes = QByteArray::fromHex("4100081234");

    QVERIFY(client.send(bytes.left(splitAt)));
    // Let the kit read the first part on its own before the rest follows.
    QThread::msleep(30);
    QCOMPARE(client.read(1, 100), QByteArray());
    QCOMPARE(client.exchange(bytes.mid(splitAt), 1), QByteArray("\x06", 1));

    const QVector<KitFrame> frames = kit.frames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].address, quint16(0x0008));
    QCOMPARE(frames[0].value, quint16(0x1234));
}

void TestKitSim::commandBytesInsideAFrameAreData()
{
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());

    QCOMPARE(client.exchange(QByteArray::fromHex("411F3F463F"), 1), QByteArray("\x06", 1));
    QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
    QCOMPARE(kit.commandBytes(), QByteArray("?"));
    QCOMPARE(kit.memory().value(0x1F3F), quint16(0x463F));
}

void TestKitSim::otherBytesAreIgnored()
{
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());

    QVERIFY(client.send(QByteArray::fromHex("0055FF0642")));
    QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
    QCOMPARE(kit.commandBytes(), QByteArray("?"));
    QVERIFY(kit.frames().isEmpty());
}

void TestKitSim::framesAndMemoryRecorded()
{
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());
    const QList<QPair<quint16, quint16>> sent = {
        {0x0000, 0x1111}, {0x1FFF, 0x2222}, {0x2000, 0x3333}, {0xFFFF, 0x4444}, {0x0000, 0x5555}};
    for (const auto &word : sent)
        QCOMPARE(client.exchange(frame(word.first, word.second), 1), QByteArray("\x06", 1));

    const QVector<KitFrame> frames = kit.frames();
    QCOMPARE(frames.size(), sent.size());
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(frames[i].address, sent[i].first);
        QCOMPARE(frames[i].value, sent[i].second);
    }
    const QMap<quint16, quint16> expectedMemory {{0x0000, 0x5555}, {0x1FFF, 0x2222}};
    QCOMPARE(kit.memory(), expectedMemory);
    QVERIFY(kit.commandBytes().isEmpty());

    kit.clearRecord();
    QVERIFY(kit.frames().isEmpty());
    QVERIFY(kit.memory().isEmpty());
}

void TestKitSim::silentAfterFrames_data()
{
    QTest::addColumn<int>("answered");
    QTest::newRow("silent from the first") << 0;
    QTest::newRow("one answered") << 1;
    QTest::newRow("three answered") << 3;
}

void TestKitSim::silentAfterFrames()
{
    QFETCH(int, answered);
    KitSimConfig config;
    config.silentAfterFrames = answered;
    KitSimulator kit(config);
    kit.start();
    PtyClient client(kit.slavePath());

    for (int i = 0; i < answered; ++i)
        QCOMPARE(client.exchange(frame(quint16(i), 0xABCD), 1), QByteArray("\x06", 1));
    // The version answer must come first: the silent frames sent nothing before it.
    QVERIFY(client.send(frame(0x0100, 0x0001)));
    QVERIFY(client.send(frame(0x0101, 0x0002)));
    QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));

    QCOMPARE(kit.frames().size(), answered + 2);
    QCOMPARE(kit.memory().value(0x0101), quint16(0x0002));
}

void TestKitSim::hangUpAfterFrames_data()
{
    QTest::addColumn<int>("hangUpAfter");
    QTest::newRow("at once, set while running") << 0;
    QTest::newRow("after the first frame") << 1;
    QTest::newRow("after the third frame") << 3;
}

void TestKitSim::hangUpAfterFrames()
{
    QFETCH(int, hangUpAfter);
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());
    QVERIFY(client.isOpen());
    KitSimConfig config;
    config.hangUpAfterFrames = hangUpAfter;
    kit.setConfig(config);

    for (int i = 1; i < hangUpAfter; ++i)
        QCOMPARE(client.exchange(frame(quint16(i), 0x0101), 1), QByteArray("\x06", 1));
    if (hangUpAfter > 0)
        QVERIFY(client.send(frame(0x0200, 0x0202)));

    QVERIFY(client.waitForHangUp());
    QTRY_VERIFY(!kit.isRunning());
    QCOMPARE(kit.frames().size(), hangUpAfter);

    // A new start gives a fresh, working line.
    kit.clearRecord();
    kit.setConfig({});
    kit.start();
    PtyClient again(kit.slavePath());
    QCOMPARE(again.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
}

void TestKitSim::stopHangsUpAndStartOpensANewLine()
{
    KitSimulator kit;
    kit.start();
    {
        PtyClient client(kit.slavePath());
        QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
        kit.stop();
        QVERIFY(!kit.isRunning());
        QVERIFY(client.waitForHangUp());
    }
    kit.start();
    PtyClient client(kit.slavePath());
    QCOMPARE(client.exchange(frame(0x0001, 0x0203), 1), QByteArray("\x06", 1));
    QCOMPARE(kit.commandBytes(), QByteArray("?"));   // the record outlives stop()
}

void TestKitSim::clientCloseAndReopenKeepsTheLine()
{
    KitSimulator kit;
    kit.start();
    const QString path = kit.slavePath();
    for (int round = 0; round < 3; ++round) {
        PtyClient client(path);
        QVERIFY2(client.isOpen(), qPrintable(QString("round %1").arg(round)));
        QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
        QCOMPARE(client.exchange(frame(quint16(round), 0x0001), 1), QByteArray("\x06", 1));
    }
    QVERIFY(kit.isRunning());
    QCOMPARE(kit.frames().size(), 3);
}

void TestKitSim::frameDelayRespected_data()
{
    QTest::addColumn<int>("delayUs");
    QTest::newRow("100 ms") << 100000;
    QTest::newRow("300 ms") << 300000;
}

void TestKitSim::frameDelayRespected()
{
    QFETCH(int, delayUs);
    KitSimConfig config;
    config.frameDelayUs = delayUs;
    KitSimulator kit(config);
    kit.start();
    PtyClient client(kit.slavePath());

    QElapsedTimer sinceSend;
    sinceSend.start();
    QCOMPARE(client.exchange(frame(0x0010, 0x0020), 1), QByteArray("\x06", 1));
    QVERIFY2(sinceSend.nsecsElapsed() >= qint64(delayUs) * 1000,
             qPrintable(QString("answered after %1 us").arg(sinceSend.nsecsElapsed() / 1000)));
}

void TestKitSim::strayBytesBeforeAnswer_data()
{
    QTest::addColumn<int>("silentAfterFrames");
    QTest::addColumn<QByteArray>("expected");
    // The stray bytes come at once, the answer only after the 300 ms delay.
    QTest::newRow("answered frame") << -1 << QByteArray("\x15\xFF\x06", 3);
    QTest::newRow("silent frame: no stray bytes either") << 0 << QByteArray();
}

void TestKitSim::strayBytesBeforeAnswer()
{
    QFETCH(int, silentAfterFrames);
    QFETCH(QByteArray, expected);
    KitSimConfig config;
    config.strayBeforeAnswer = QByteArray("\x15\xFF", 2).toStdString();
    config.frameDelayUs = 300000;
    config.silentAfterFrames = silentAfterFrames;
    KitSimulator kit(config);
    kit.start();
    PtyClient client(kit.slavePath());

    QVERIFY(client.send(frame(0x0010, 0x0020)));
    QCOMPARE(client.read(2, 150), expected.left(2));
    QCOMPARE(client.read(1, 1000), expected.mid(2));
    QCOMPARE(kit.frames().size(), 1);
}

void TestKitSim::hexDump_data()
{
    QTest::addColumn<QVector<KitFrame>>("frames");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty memory") << QVector<KitFrame>() << QStringList {":00000001FF"};
    QTest::newRow("two words") << QVector<KitFrame> {{0x0008, 0x1234}, {0x0009, 0x5678}}
                               << QStringList {":0400100034127856D8", ":00000001FF"};

    QVector<KitFrame> sixteen;
    for (quint16 i = 0; i < 16; ++i)
        sixteen.append({quint16(0x0100 + i), quint16(0x1111 * i)});
    QTest::newRow("sixteen words in two records")
        << sixteen
        << QStringList {":100200000000111122223333444455556666777736",
                        ":1002100088889999AAAABBBBCCCCDDDDEEEEFFFFA6", ":00000001FF"};

    QVector<KitFrame> runs;
    for (quint16 i = 0; i < 9; ++i)
        runs.append({i, quint16(0xA000 + i)});
    runs.append({0x0003, 0x0303});   // overwritten
    runs.append({0x0010, 0x1234});
    runs.append({0x1FFF, 0xBEEF});
    runs.append({0x2000, 0xFFFF});   // beyond memory: not dumped
    QTest::newRow("runs, gaps and the last word")
        << runs
        << QStringList {":1000000000A001A002A0030304A005A006A007A071", ":0200100008A046",
                        ":02002000341298", ":023FFE00EFBE14", ":00000001FF"};
}

void TestKitSim::hexDump()
{
    QFETCH(QVector<KitFrame>, frames);
    QFETCH(QStringList, lines);
    KitSimulator kit;
    kit.start();
    PtyClient client(kit.slavePath());
    for (const KitFrame &word : frames)
        QCOMPARE(client.exchange(frame(word.address, word.value), 1), QByteArray("\x06", 1));

    QTemporaryDir dir;
    const QString path = dir.filePath("dump.hex");
    kit.writeHexDump(path);
    QCOMPARE(readFile(path), crlfLines(lines));
}

void TestKitSim::hexDumpToUnwritablePathThrows()
{
    QTemporaryDir dir;
    KitSimulator kit;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, kit.writeHexDump(dir.filePath("missing/dump.hex")));
}

void TestKitSim::logFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kit.log");
    KitSimulator kit;
    kit.setLogFile(path);
    kit.start();
    PtyClient client(kit.slavePath());
    QVERIFY(client.send("F"));
    QCOMPARE(client.exchange("?", 16), QByteArray("KIT-FW Ver1.00  "));
    QCOMPARE(client.exchange(frame(0x1EFF, 0x1234), 1), QByteArray("\x06", 1));
    KitSimConfig config;
    config.hangUpAfterFrames = 1;
    kit.setConfig(config);
    QVERIFY(client.waitForHangUp());
    QTRY_VERIFY(!kit.isRunning());

    const QStringList lines = QString::fromLatin1(readFile(path)).split('\n', Qt::SkipEmptyParts);
    const QStringList events {"F", "?", "A 1EFF 1234", "hangup"};
    QCOMPARE(lines.size(), events.size());
    const QRegularExpression line("^(\\d+) (.+)$");
    qint64 previous = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const auto match = line.match(lines[i]);
        QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
        QCOMPARE(match.captured(2), events[i]);
        QVERIFY(match.captured(1).toLongLong() >= previous);
        previous = match.captured(1).toLongLong();
    }
}

void TestKitSim::program()
{
    QTemporaryDir dir;
    const QString dumpPath = dir.filePath("out.hex");
    QProcess kitsim;
    kitsim.start(KITSIM_PROGRAM, {"--version-text", "TEST-KIT Ver9.99", "--answer-f", "4F4B",
                                  "--frame-answer", "06 00", "--dump", dumpPath});
    QVERIFY(kitsim.waitForStarted());
    while (!kitsim.canReadLine())
        QVERIFY(kitsim.waitForReadyRead(kPatienceMs));
    const QString slavePath = QString::fromLocal8Bit(kitsim.readLine()).trimmed();
    QVERIFY2(slavePath.startsWith("/dev/"), qPrintable(slavePath));

    {
        PtyClient client(slavePath);
        QVERIFY(client.isOpen());
        QCOMPARE(client.exchange("F", 2), QByteArray("OK"));
        QCOMPARE(client.exchange("?", 16), QByteArray("TEST-KIT Ver9.99"));
        QCOMPARE(client.exchange(frame(0x0008, 0x1234), 2), QByteArray("\x06\x00", 2));
        QCOMPARE(client.exchange(frame(0x0009, 0x5678), 2), QByteArray("\x06\x00", 2));
    }

    kitsim.terminate();   // SIGTERM
    QVERIFY(kitsim.waitForFinished(kPatienceMs));
    QCOMPARE(kitsim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kitsim.exitCode(), 0);
    QCOMPARE(readFile(dumpPath), QByteArray(":0400100034127856D8\r\n:00000001FF\r\n"));
}

void TestKitSim::programRejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("frame answer not hex") << QStringList {"--frame-answer", "zz"};
    QTest::newRow("frame answer odd digits") << QStringList {"--frame-answer", "060"};
    QTest::newRow("frame answer empty") << QStringList {"--frame-answer", ""};
    QTest::newRow("negative delay") << QStringList {"--delay-us", "-5"};
    QTest::newRow("hang-up count not a number") << QStringList {"--hangup-after", "three"};
}

void TestKitSim::programRejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess kitsim;
    kitsim.start(KITSIM_PROGRAM, arguments);
    QVERIFY(kitsim.waitForFinished(kPatienceMs));
    QCOMPARE(kitsim.exitCode(), 2);
    QVERIFY(kitsim.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestKitSim)
#include "tst_kitsim.moc"
