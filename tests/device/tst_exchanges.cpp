// The desktop's driver of the exchanges: KitLink over the serial-port component
// and an in-memory line to the simulated kit, on the real event loop. The
// exchanges' own rules are the core's tests; these check what the driver adds:
// texts through QString, the port's settings, its failures, the trace, timers.
#include "DeviceTestSupport.h"
#include "ExpectedTexts.h"
#include "KitFrames.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

using namespace Expected;
using Ending = LinkResult::Ending;
Q_DECLARE_METATYPE(LinkResult::Ending)
Q_DECLARE_METATYPE(KitSimConfig)

namespace {

const QString DoneStatusPattern = QStringLiteral("^アップデート完了。  [0-9]+sec$");

Frames framesOf(const KitBehaviour &kit)
{
    Frames frames;
    for (const KitFrame &frame : kit.frames())
        frames.append({frame.address, frame.value});
    return frames;
}

QList<quint32> addressesOf(const QVector<WordProgress> &words)
{
    QList<quint32> addresses;
    for (const WordProgress &w : words)
        addresses << w.address;
    return addresses;
}

// Statuses of an update that got as far as the transfer.
QStringList statusesUpTo(const QString &last) { return {QString(), VersionReadStatus, UpdatingStatus, last}; }

KitSimConfig silentAfter(int frames)
{
    KitSimConfig config;
    config.silentAfterFrames = frames;
    return config;
}

} // namespace

class TestExchanges : public QObject {
    Q_OBJECT

private slots:
    void versionAnswer_data()
    {
        QTest::addColumn<KitSimConfig>("config");
        QTest::addColumn<QString>("shown"); // null: the query times out
        auto answering = [](const QByteArray &answer, int delayUs = 0, int pieceBytes = 0) {
            KitSimConfig c;
            c.versionAnswer = answer.toStdString();
            c.versionDelayUs = delayUs;
            c.versionPieceBytes = pieceBytes;
            c.versionPieceGapUs = 40000;
            return c;
        };
        KitSimConfig answersF = answering("0123456789abcdef");
        answersF.answerToF = "ready\r\n";

        QTest::newRow("answer to 0x46 thrown away") << answersF << "0123456789abcdef";
        QTest::newRow("zero byte kept") << answering(QByteArray("AB\0CDEFGHIJKLMNO", 16))
                                        << QString::fromUtf16(u"AB\u0000CDEFGHIJKLMNO", 16);
        QTest::newRow("bytes from 0x80 up")
            << answering(QByteArray("\xB1\xDD\x80 V1.0 build 7", 16))
            << QString::fromUtf16(u"\uFF71\uFF9D\uFFFD V1.0 build 7");
        QTest::newRow("in pieces of 3 bytes, 40 ms apart") << answering("KIT-FW Ver1.00  ", 0, 3) << "KIT-FW Ver1.00  ";
        QTest::newRow("no answer") << answering(QByteArray()) << QString();
    }
    void versionAnswer()
    {
        QFETCH(KitSimConfig, config);
        QFETCH(QString, shown);
        InMemoryKit kit(config);

        kit.version();

        const bool answered = !shown.isNull();
        QCOMPARE(kit.kit.commandBytes(), QByteArray("\x46\x3F"));
        QCOMPARE(kit.reports.versions, answered ? QStringList{shown} : QStringList());
        QCOMPARE(kit.reports.statuses, answered ? (QStringList{QString(), VersionReadStatus}) : QStringList{QString()});
        QCOMPARE(kit.reports.messages, answered ? QStringList() : QStringList{VersionTimeoutMessage});
        QCOMPARE(kit.reports.result.ending, answered ? Ending::Done : Ending::CommError);
        QCOMPARE(kit.link->commError(), !answered);
        QVERIFY(kit.port->PortOpen()); // answered or not, the port stays open
    }

    void wholeUpdate_data()
    {
        QTest::addColumn<QByteArray>("hexText");
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<QList<quint32>>("progress");

        QTest::newRow("worked example, CR LF") << QByteArray(":0400100034127856D8\r\n:00000001FF\r\n")
                                               << Frames{{0x0008, 0x1234}, {0x0009, 0x5678}} << QList<quint32>{8, 9};
    }
    void wholeUpdate()
    {
        QFETCH(QByteArray, hexText);
        QFETCH(Frames, frames);
        QFETCH(QList<quint32>, progress);
        InMemoryKit kit;

        kit.update(hexText);

        QCOMPARE(framesOf(kit.kit), frames);
        QCOMPARE(kit.kit.commandBytes(), QByteArray("\x46\x3F"));
        QCOMPARE(addressesOf(kit.reports.words), progress);
        QCOMPARE(kit.reports.statuses, statusesUpTo(DoneStatus));
        QCOMPARE(kit.reports.messages, QStringList{DoneMessage});
        QCOMPARE(kit.reports.versions, QStringList{QStringLiteral("KIT-FW Ver1.00  ")});
        QCOMPARE(kit.reports.result.ending, Ending::Done);
        QCOMPARE(kit.reports.result.wordsSent, frames.size());
        QCOMPARE(kit.reports.result.wordsToSend, frames.size());
        QVERIFY(!kit.link->commError());
        QVERIFY(kit.port->PortOpen());
        QCOMPARE(kit.line->settings().baudRate, 9600);
    }

    // Failures before the transfer: no frame goes out.
    void handshakeFails_data()
    {
        QTest::addColumn<bool>("portHeld");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<Ending>("ending");
        QTest::newRow("port held by another program")
            << true << QStringList{PortOpenFailedStatus} << QStringList() << QByteArray() << Ending::PortFailed;
    }
    void handshakeFails()
    {
        QFETCH(bool, portHeld);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, commands);
        QFETCH(Ending, ending);
        KitSimConfig config;
        config.versionAnswer = "too short";
        InMemoryKit kit(config);
        if (portHeld)
            kit.line->failNextOpen(SerialError::Kind::Busy, QStringLiteral("/dev/kit: another program holds the port"));

        kit.update(wordsFile(2));

        QCOMPARE(kit.reports.statuses, statuses);
        QCOMPARE(kit.reports.messages, messages);
        QCOMPARE(kit.kit.commandBytes(), commands);
        QCOMPARE(kit.kit.frames().size(), 0);
        QCOMPARE(kit.reports.result.ending, ending);
        QVERIFY(kit.link->commError());
    }

    // The kit hangs up on its third frame: the transfer ends at once, and says where.
    void hangUpInTheMiddle()
    {
        KitSimConfig config;
        config.hangUpAfterFrames = 3;
        InMemoryKit kit(config);

        kit.update(wordsFile(6));

        QCOMPARE(kit.kit.frames().size(), 3);
        QCOMPARE(addressesOf(kit.reports.words), (QList<quint32>{1, 2}));
        QCOMPARE(kit.reports.statuses, statusesUpTo(FailedStatus));
        QVERIFY(kit.reports.messages.isEmpty());
        const QString detail = kit.reports.details.value(0);
        QVERIFY2(detail.contains("went away") && detail.contains("word 0x0003") && detail.contains("2 of 6 words"),
                 qPrintable(detail));
        QCOMPARE(kit.reports.result.ending, Ending::Failed);
        QVERIFY(!kit.port->PortOpen());
    }

    // A stop ends the exchange at once, wherever it is: nothing more goes out.
    void cancel_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("during the pause after 0x46") << "pause" << QByteArray("\x46") << 0;
        QTest::newRow("in a word's report") << "report" << QByteArray("\x46\x3F") << 2;
    }
    void cancel()
    {
        QFETCH(QString, when);
        QFETCH(QByteArray, commands);
        QFETCH(int, framesSent);
        InMemoryKit kit(silentAfter(2));
        kit.reports.onWord = [&] {
            if (kit.reports.words.size() == 2 && when == QLatin1String("report"))
                kit.link->cancel();
        };

        kit.run([&] {
            kit.link->startUpdate(kit.choice, [] { return HexFile::parse(wordsFile(6)); });
            if (when == QLatin1String("pause"))
                kit.link->cancel();
        });

        QCOMPARE(kit.kit.commandBytes(), commands);
        QCOMPARE(kit.kit.frames().size(), framesSent);
        QCOMPARE(kit.reports.statuses.last(), FailedStatus);
        QVERIFY(kit.reports.messages.isEmpty());
        QVERIFY2(kit.reports.details.last().contains("the kit must be updated again"), qPrintable(kit.reports.details.last()));
        QCOMPARE(kit.reports.result.ending, Ending::Stopped);
        QCOMPARE(kit.reports.endings, 1);
        QVERIFY(!kit.port->PortOpen());
        QTest::qWait(50); // nothing more happens after the stop
        QCOMPARE(kit.kit.frames().size(), framesSent);
    }

    // Two kits on one thread are served side by side, not one after the other.
    void twoKitsAtOnce()
    {
        KitSimConfig config;
        config.frameDelayUs = 3000;
        InMemoryKit first(config);
        InMemoryKit second(config);
        QStringList order;
        first.reports.onWord = [&] { order << QStringLiteral("A"); };
        second.reports.onWord = [&] { order << QStringLiteral("B"); };
        QSignalSpy firstEnded(&first.reports, &RecordingReports::ended);

        second.run([&] {
            first.link->startUpdate(first.choice, [] { return HexFile::parse(wordsFile(20)); });
            second.link->startUpdate(second.choice, [] { return HexFile::parse(wordsFile(20)); });
        });
        if (first.link->busy())
            QVERIFY(firstEnded.wait(10000));

        QCOMPARE(first.kit.frames().size(), 20);
        QCOMPARE(second.kit.frames().size(), 20);
        const QString sequence = order.join(QString());
        QVERIFY2(sequence.indexOf(QLatin1Char('A')) < sequence.lastIndexOf(QLatin1Char('B'))
                     && sequence.indexOf(QLatin1Char('B')) < sequence.lastIndexOf(QLatin1Char('A')),
                 qPrintable(sequence));
    }

    // The speed box's texts and what they select on the line.
    void speeds_data()
    {
        QTest::addColumn<QString>("speedText");
        QTest::addColumn<int>("baudRate");
        QTest::newRow("9600 with its blank") << " 9600" << 9600;
        QTest::newRow("19200") << "19200" << 19200;
        QTest::newRow("57600") << "57600" << 57600;
        QTest::newRow("9600 without the blank keeps 57600") << "9600" << 57600;
        QTest::newRow("another text keeps 57600") << "115200" << 57600;
    }
    void speeds()
    {
        QFETCH(QString, speedText);
        QFETCH(int, baudRate);
        InMemoryKit kit;
        kit.choice.lineSettings = QStringLiteral("57600,n,8,1");
        kit.version();
        kit.choice.lineSettings = lineSettingsFor(StandardKit, speedText);

        kit.version();

        QCOMPARE(kit.line->settings().baudRate, baudRate);
        QCOMPARE(kit.line->settings().dataBits, 8);
        QVERIFY(kit.line->settings().parity == LineSettings::Parity::None);
        QVERIFY(kit.line->settings().flowControl == LineSettings::FlowControl::None);
    }

    // The serial trace shows the bytes on the wire, and only when switched on.
    void serialTrace_data()
    {
        QTest::addColumn<bool>("switchedOn");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("off by default") << false << QStringList();
        QTest::newRow("switched on") << true
                                     << QStringList{"sent 46", "sent 3f",
                                                    "received 4b 49 54 2d 46 57 20 56 65 72 31 2e 30 30 20 20",
                                                    "sent 41 00 08 12 34", "received 06", "sent 41 00 09 56 78",
                                                    "received 06"};
    }
    void serialTrace()
    {
        QFETCH(bool, switchedOn);
        QFETCH(QStringList, lines);
        InMemoryKit kit;
        static QStringList traced;
        traced.clear();
        QLoggingCategory::setFilterRules(switchedOn ? QStringLiteral("kitupdater.serial.debug=true") : QString());
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &message) {
                if (QLatin1String(context.category) == QLatin1String("kitupdater.serial"))
                    traced << message;
            });

        kit.update(":0400100034127856D8\r\n:00000001FF\r\n");

        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
        const QRegularExpression stamp(QStringLiteral("^[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6} "));
        QStringList withoutStamps;
        for (const QString &message : std::as_const(traced)) {
            QVERIFY2(stamp.match(message).hasMatch(), qPrintable(message));
            withoutStamps << message.mid(16);
        }
        QCOMPARE(withoutStamps, lines);
    }
};

QTEST_GUILESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
