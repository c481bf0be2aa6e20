// Whole updates against the simulated kit: frames, memory, texts, endings.
#include "ExpectedTexts.h"
#include "KitFrames.h"
#include "DeviceTestSupport.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

Q_DECLARE_METATYPE(KitLink::Outcome)


using namespace Expected;

namespace {

// Statuses of an update that got as far as the transfer.
QStringList statusesUpTo(const QString &last)
{
    return {QString(), QString(), VersionReadStatus, UpdatingStatus, last};
}



QVector<ProgressCall> progressOn(const QList<double> &positions)
{
    QVector<ProgressCall> calls;
    for (double w : positions)
        calls.append({QStringLiteral("on"), 0, 7936, w});
    return calls;
}

// Words 1 to count, value 0x1100 * w.
QByteArray wordsFile(int count)
{
    QByteArray text;
    for (int w = 1; w <= count; ++w)
        text += wordRecord(quint16(w), quint16(0x1100 * w)) + "\r\n";
    return text + ":00000001FF\r\n";
}

const QString Port = QStringLiteral("7");
const QString Speed = QStringLiteral(" 9600");
} // namespace

class TestKitLinkUpdate : public QObject {
    Q_OBJECT

private slots:
    void wholeUpdate_data()
    {
        QTest::addColumn<QByteArray>("hexText");
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<QList<double>>("progress");

        QTest::newRow("worked example, CR LF") << QByteArray(":0400100034127856D8\r\n:00000001FF\r\n")
                                               << Frames{{0x0008, 0x1234}, {0x0009, 0x5678}}
                                               << QList<double>{8, 9};
        QByteArray window;
        for (quint16 w : {0x1EFF, 0x1F00, 0x1FDF, 0x1FE0, 0x1FFE, 0x1FFF, 0x2000})
            window += wordRecord(w, quint16(w ^ 0xA5A5)) + "\n";
        window += ":04800000CAFEBABE3C\n:00000001FF\n";
        QTest::newRow("write window, record at 0x8000, LF")
            << window << Frames{{0x1EFF, 0x1EFF ^ 0xA5A5}, {0x1FE0, 0x1FE0 ^ 0xA5A5}, {0x1FFE, 0x1FFE ^ 0xA5A5}}
            << QList<double>{0x1EFF, 0x1F00, 0x1FDF, 0x1FE0, 0x1FFE, 0x1FFF, 0x2000, 0x4000, 0x4001};
        QTest::newRow("comments, lower case, lines after end of file")
            << QByteArray("; firmware\n\n:0400100034127856d8\n:00000001ff\n:02004000efbe11\n")
            << Frames{{0x0008, 0x1234}, {0x0009, 0x5678}, {0x0020, 0xBEEF}} << QList<double>{8, 9, 0x20};
        QTest::newRow("only an end-of-file record") << QByteArray(":00000001FF\r\n") << Frames{} << QList<double>{};
        QTest::newRow("words under a non-zero extended base are not sent")
            << QByteArray(":020000040000FA\n:020002001111DA\n:020000040001F9\n:020004002222B6\n:00000001FF\n")
            << Frames{{0x0001, 0x1111}} << QList<double>{1, 2};
    }
    void wholeUpdate()
    {
        QFETCH(QByteArray, hexText);
        QFETCH(Frames, frames);
        QFETCH(QList<double>, progress);
        SimulatedKitLine line;
        const QString file = line.writeFile(QStringLiteral("firmware.hex"), hexText);

        line.link->update(Port, Speed, file);

        QCOMPARE(framesOf(line.kit), frames);
        QCOMPARE(line.kit.memory(), memoryOf(frames));
        QCOMPARE(line.kit.commandBytes(), QByteArray("\x46\x3F"));
        QCOMPARE(line.host.progress, progressOn(progress));
        QCOMPARE(line.host.statuses, statusesUpTo(QStringLiteral("アップデート完了。  0sec")));
        QCOMPARE(line.host.messages, QStringList{DoneMessage});
        QCOMPARE(line.host.versions, QStringList{QStringLiteral("KIT-FW Ver1.00  ")});
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Done);
        QCOMPARE(line.link->commError(), false);
        QCOMPARE(line.port->PortOpen(), true);
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("frameAnswer");
        QTest::newRow("several bytes") << QByteArray("\x06\x06\x06");
        QTest::newRow("zero byte") << QByteArray(1, '\0');
        QTest::newRow("refusal byte") << QByteArray(1, '\x15');
    }
    // Any answer is acceptance; the next frame goes out once it is in.
    void answers()
    {
        QFETCH(QByteArray, frameAnswer);
        KitSimConfig config;
        config.frameAnswer = frameAnswer;
        SimulatedKitLine line(config);
        const QString file = line.writeFile(QStringLiteral("four.hex"), wordsFile(4));

        line.link->update(Port, Speed, file);

        QCOMPARE(framesOf(line.kit), (Frames{{1, 0x1100}, {2, 0x2200}, {3, 0x3300}, {4, 0x4400}}));
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Done);
        QCOMPARE(line.host.messages, QStringList{DoneMessage});
    }

    // Real waits: the 2-second limit itself is under test here.
    void slowKit_data()
    {
        QTest::addColumn<int>("words");
        QTest::addColumn<int>("silentAfterFrames");
        QTest::addColumn<int>("frameDelayUs");
        QTest::addColumn<int>("framesSent");
        QTest::addColumn<QVector<ProgressCall>>("progress");
        QTest::addColumn<QString>("lastStatusPattern");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<KitLink::Outcome>("outcome");
        QTest::newRow("silent after the first frame")
            << 3 << 1 << 0 << 2 << (progressOn({1}) << ProgressCall{QStringLiteral("off"), 0, 0, 0})
            << QStringLiteral("^%1$").arg(QRegularExpression::escape(FailedStatus)) << QStringList{TimeoutMessage} << KitLink::Outcome::TimedOut;
        QTest::newRow("answers after 1.9 s") << 1 << -1 << 1900000 << 1 << progressOn({1})
                                             << QStringLiteral("^アップデート完了。  [0-9]+sec$")
                                             << QStringList{DoneMessage} << KitLink::Outcome::Done;
    }
    void slowKit()
    {
        QFETCH(int, words);
        QFETCH(int, silentAfterFrames);
        QFETCH(int, frameDelayUs);
        QFETCH(int, framesSent);
        QFETCH(QVector<ProgressCall>, progress);
        QFETCH(QString, lastStatusPattern);
        QFETCH(QStringList, messages);
        QFETCH(KitLink::Outcome, outcome);
        KitSimConfig config;
        config.silentAfterFrames = silentAfterFrames;
        config.frameDelayUs = frameDelayUs;
        SimulatedKitLine line(config);
        const QString file = line.writeFile(QStringLiteral("slow.hex"), wordsFile(words));

        line.link->update(Port, Speed, file);

        QCOMPARE(line.kit.frames().size(), framesSent);
        QCOMPARE(line.host.progress, progress);
        QCOMPARE(line.host.statuses.size(), 5);
        QCOMPARE(line.host.statuses.mid(0, 4), statusesUpTo(QString()).mid(0, 4));
        QVERIFY2(QRegularExpression(lastStatusPattern).match(line.host.statuses.last()).hasMatch(),
                 qPrintable(line.host.statuses.last()));
        QCOMPARE(line.host.messages, messages);
        QCOMPARE(line.link->lastOutcome(), outcome);
        QCOMPARE(line.link->commError(), outcome == KitLink::Outcome::TimedOut);
    }

    // A refused file ends before the first frame, without a message box.
    void rejectedFile_data()
    {
        QTest::addColumn<QByteArray>("hexText");
        QTest::newRow("wrong checksum") << QByteArray(":0400100034127856D9\n:00000001FF\n");
        QTest::newRow("not hexadecimal") << QByteArray(":0400100034127856D8\n:04001400341278ZZD4\n:00000001FF\n");
        QTest::newRow("short line") << QByteArray(":0400100034127856D8\n:040014003412\n:00000001FF\n");
        QTest::newRow("odd byte count") << QByteArray(":03001000341278BF\n:00000001FF\n");
        QTest::newRow("no record at all") << QByteArray("<html><body>firmware</body></html>\n");
        QTest::newRow("missing file") << QByteArray();
    }
    void rejectedFile()
    {
        QFETCH(QByteArray, hexText);
        SimulatedKitLine line;
        const QString file = hexText.isEmpty() ? line.dir.filePath(QStringLiteral("missing.hex"))
                                               : line.writeFile(QStringLiteral("bad.hex"), hexText);

        line.link->update(Port, Speed, file);

        QCOMPARE(line.kit.frames().size(), 0);
        QCOMPARE(line.host.statuses, statusesUpTo(FailedStatus));
        QVERIFY(line.host.messages.isEmpty());
        QVERIFY(line.host.progress.isEmpty());
        QCOMPARE(line.host.failureDetails.size(), 1);
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::FileRejected);
        QCOMPARE(line.link->commError(), false);
    }

    // Checks before the handshake: nothing goes out on the line.
    void preconditions_data()
    {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<KitLink::Outcome>("outcome");
        QTest::newRow("empty port text, no file") << "" << false << false << QStringList() << QStringList{SetPortMessage}
                                                  << KitLink::Outcome::NoPort;
        QTest::newRow("no file") << "7" << false << false
                                 << QStringList{QString(), QStringLiteral("アップデートファイルがロードされていません。")}
                                 << QStringList() << KitLink::Outcome::NoFile;
        QTest::newRow("not a number") << "?" << true << false
                                      << QStringList{QString(), QStringLiteral("ポート番号が正しくありません。")}
                                      << QStringList() << KitLink::Outcome::BadPortText;
        QTest::newRow("refused number") << "-1" << true << false
                                        << QStringList{QString(), QStringLiteral("このポート番号は使用できません。")}
                                        << QStringList() << KitLink::Outcome::BadPortText;
        QTest::newRow("held by another opener")
            << "7" << true << true << QStringList{QString(), QStringLiteral("通信ポートをオープンできませんでした。")}
            << QStringList() << KitLink::Outcome::PortFailed;
    }
    void preconditions()
    {
        QFETCH(QString, portText);
        QFETCH(bool, withFile);
        QFETCH(bool, heldElsewhere);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, messages);
        QFETCH(KitLink::Outcome, outcome);
        SimulatedKitLine line;
        MSComm100 holder(*line.settings);
        if (heldElsewhere) {
            holder.setCommPort(SimPortNumber);
            holder.setPortOpen(true);
        }
        const QString file = withFile ? line.writeFile(QStringLiteral("ok.hex"), wordsFile(2)) : QString();

        line.link->update(portText, Speed, file);

        QCOMPARE(line.host.statuses, statuses);
        QCOMPARE(line.host.messages, messages);
        QCOMPARE(line.link->lastOutcome(), outcome);
        QCOMPARE(line.kit.commandBytes(), QByteArray());
        QCOMPARE(line.kit.frames().size(), 0);
    }

    void versionQueryFails()
    {
        KitSimConfig config;
        config.versionAnswer = "too short";
        SimulatedKitLine line(config);
        const QString file = line.writeFile(QStringLiteral("ok.hex"), wordsFile(2));

        line.link->update(Port, Speed, file);

        QCOMPARE(line.host.statuses, (QStringList{QString(), QString(), QStringLiteral("通信エラー")}));
        QCOMPARE(line.host.messages, QStringList{VersionTimeoutMessage});
        QCOMPARE(line.kit.frames().size(), 0);
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::CommError);
        QCOMPARE(line.link->commError(), true);
    }

    // The kit hangs up on its third frame: the transfer ends at once (a missed
    // hang-up would end 2 s later with the time-out box instead).
    void hangUpInTheMiddle()
    {
        KitSimConfig config;
        config.hangUpAfterFrames = 3;
        SimulatedKitLine line(config);
        const QString file = line.writeFile(QStringLiteral("six.hex"), wordsFile(6));

        line.link->update(Port, Speed, file);

        QCOMPARE(line.kit.frames().size(), 3);
        QCOMPARE(line.host.progress, progressOn({1, 2}));
        QCOMPARE(line.host.statuses, statusesUpTo(FailedStatus));
        QVERIFY(line.host.messages.isEmpty());
        QCOMPARE(line.host.failureDetails.size(), 1);
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Failed);
        QCOMPARE(line.port->PortOpen(), false);
    }

    void cancel_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("between two words") << "flag" << 2;
        QTest::newRow("during an answer wait") << "interrupt" << 3;
        QTest::newRow("port closed during an answer wait") << "close" << 3;
    }
    // No frame after the stop; a wait that missed it would end in the time-out box.
    void cancel()
    {
        QFETCH(QString, how);
        QFETCH(int, framesSent);
        KitSimConfig config;
        config.silentAfterFrames = 2;
        SimulatedKitLine line(config);
        const QString file = line.writeFile(QStringLiteral("six.hex"), wordsFile(6));
        QObject scope;
        line.host.onProgress = [&] {
            if (line.host.progress.size() != 2)
                return;
            if (how == QLatin1String("flag")) {
                line.host.cancel = true;
                return;
            }
            QTimer::singleShot(300, &scope, [&] {
                line.host.cancel = true; // what the window does when it is closed
                if (how == QLatin1String("interrupt"))
                    line.link->interruptWait();
                else
                    line.link->closePort();
            });
        };

        line.link->update(Port, Speed, file);

        QCOMPARE(line.kit.frames().size(), framesSent);
        QCOMPARE(line.host.progress, progressOn({1, 2}));
        QCOMPARE(line.host.statuses, statusesUpTo(FailedStatus));
        QVERIFY(line.host.messages.isEmpty());
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Cancelled);
        QCOMPARE(line.port->PortOpen(), false);
    }

    // The serial trace shows the bytes on the wire, and only when switched on.
    void serialTrace_data()
    {
        QTest::addColumn<bool>("switchedOn");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("off by default") << false << QStringList();
        QTest::newRow("switched on") << true
                                     << QStringList{"sent 46", "received ", "sent 3f",
                                                    "received 4b 49 54 2d 46 57 20 56 65 72 31 2e 30 30 20 20",
                                                    "sent 41 00 08 12 34", "received 06", "sent 41 00 09 56 78",
                                                    "received 06"};
    }
    void serialTrace()
    {
        QFETCH(bool, switchedOn);
        QFETCH(QStringList, lines);
        SimulatedKitLine line;
        const QString file = line.writeFile(QStringLiteral("example.hex"), ":0400100034127856D8\r\n:00000001FF\r\n");
        static QStringList traced;
        traced.clear();
        QLoggingCategory::setFilterRules(switchedOn ? QStringLiteral("kitupdater.serial.debug=true") : QString());
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &context, const QString &message) {
                if (QLatin1String(context.category) == QLatin1String("kitupdater.serial"))
                    traced << message;
            });

        line.link->update(Port, Speed, file);

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

    // Clicks that arrive while an update runs are ignored.
    void noInterleaving()
    {
        SimulatedKitLine line;
        const QString file = line.writeFile(QStringLiteral("four.hex"), wordsFile(4));
        bool sawBusy = false;
        line.host.onProgress = [&] {
            sawBusy = sawBusy || line.link->busy();
            line.link->versionQuery(Port, Speed);
            line.link->update(Port, Speed, file);
        };

        line.link->update(Port, Speed, file);

        QVERIFY(sawBusy);
        QCOMPARE(line.kit.commandBytes(), QByteArray("\x46\x3F"));
        QCOMPARE(line.kit.frames().size(), 4);
        QCOMPARE(line.host.statuses, statusesUpTo(QStringLiteral("アップデート完了。  0sec")));
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Done);
        QCOMPARE(line.link->busy(), false);
    }
};

QTEST_GUILESS_MAIN(TestKitLinkUpdate)
#include "tst_kitlink_update.moc"
