// Port set-up and the firmware version query against the simulated kit.
#include "ExpectedTexts.h"
#include "DeviceTestSupport.h"

#include <QTimer>

using namespace std::chrono_literals;
Q_DECLARE_METATYPE(KitLink::Outcome)

using namespace Expected;

namespace {
} // namespace

class TestKitLinkVersion : public QObject {
    Q_OBJECT

private slots:
    void comInitializeSpeed_data()
    {
        QTest::addColumn<QString>("speedText");
        QTest::addColumn<QString>("settings");
        QTest::newRow("9600 with its blank") << " 9600" << "9600,n,8,1";
        QTest::newRow("19200") << "19200" << "19200,n,8,1";
        QTest::newRow("57600") << "57600" << "57600,n,8,1";
        QTest::newRow("9600 without blank keeps") << "9600" << "57600,n,8,1";
        QTest::newRow("other speed keeps") << "115200" << "57600,n,8,1";
        QTest::newRow("empty keeps") << "" << "57600,n,8,1";
    }
    void comInitializeSpeed()
    {
        QFETCH(QString, speedText);
        QFETCH(QString, settings);
        SimulatedKitLine line;
        QVERIFY(line.link->Com_Initialize(QStringLiteral("7"), QStringLiteral("57600")));
        line.port->setPortOpen(true);
        QVERIFY(line.link->Com_Initialize(QStringLiteral(" 7 "), speedText));
        QCOMPARE(line.port->Settings(), settings);
        QCOMPARE(line.port->commPortNumber(), 7);
        QCOMPARE(line.port->PortOpen(), false); // closed, ready for the caller to open
        QCOMPARE(line.port->InBufferCount(), 0);
        QVERIFY(line.host.messages.isEmpty());
    }

    void comInitializeEmptyPortText()
    {
        SimulatedKitLine line;
        QVERIFY(line.link->Com_Initialize(QStringLiteral("7"), QStringLiteral("19200")));
        line.port->setPortOpen(true);
        QCOMPARE(line.link->Com_Initialize(QString(), QStringLiteral("57600")), false);
        QCOMPARE(line.host.messages, QStringList{SetPortMessage});
        QCOMPARE(line.port->PortOpen(), true); // nothing changed
        QCOMPARE(line.port->Settings(), QStringLiteral("19200,n,8,1"));
    }

    void versionAnswer_data()
    {
        QTest::addColumn<QByteArray>("answerToF");
        QTest::addColumn<QByteArray>("versionAnswer");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("version");
        QTest::newRow("16 printable bytes") << QByteArray() << QByteArray("KIT-FW Ver1.00  ") << true
                                            << "KIT-FW Ver1.00  ";
        QTest::newRow("20 bytes show the first 16") << QByteArray() << QByteArray("ABCDEFGHIJKLMNOPQRST") << true
                                                    << "ABCDEFGHIJKLMNOP";
        QTest::newRow("answer to 0x46 thrown away") << QByteArray("ready\r\n") << QByteArray("0123456789abcdef")
                                                    << true << "0123456789abcdef";
        QTest::newRow("zero byte kept") << QByteArray() << QByteArray("AB\0CDEFGHIJKLMNO", 16) << true
                                        << QString(QStringLiteral("AB") + QChar(0) + QStringLiteral("CDEFGHIJKLMNO"));
        QTest::newRow("bytes from 0x80 up")
            << QByteArray() << QByteArray("\xA1\xB1\xDF\x80\xA0\xE0\xFF\x7F" "Ver1.00 ", 16) << true
            << QStringLiteral("\uFF61\uFF71\uFF9F\uFFFD\uFFFD\uFFFD\uFFFD\u007FVer1.00 ");
        QTest::newRow("15 bytes time out") << QByteArray() << QByteArray("ABCDEFGHIJKLMNO") << false << "";
        QTest::newRow("no answer times out") << QByteArray() << QByteArray() << false << "";
    }
    void versionAnswer()
    {
        QFETCH(QByteArray, answerToF);
        QFETCH(QByteArray, versionAnswer);
        QFETCH(bool, answered);
        QFETCH(QString, version);
        KitSimConfig config;
        config.answerToF = answerToF;
        config.versionAnswer = versionAnswer;
        SimulatedKitLine line(config);

        line.link->versionQuery(QStringLiteral("7"), QStringLiteral(" 9600"));

        QCOMPARE(line.kit.commandBytes(), QByteArray("\x46\x3F"));
        QCOMPARE(line.port->PortOpen(), true);
        QCOMPARE(line.link->busy(), false);
        QCOMPARE(line.link->commError(), !answered);
        if (answered) {
            QCOMPARE(line.host.versions, QStringList{version});
            QCOMPARE(line.host.statuses, (QStringList{QString(), VersionReadStatus}));
            QVERIFY(line.host.messages.isEmpty());
            QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Done);
        } else {
            QVERIFY(line.host.versions.isEmpty());
            QCOMPARE(line.host.statuses, QStringList{QString()});
            QCOMPARE(line.host.messages, QStringList{VersionTimeoutMessage});
            QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::CommError);
        }
    }

    // Failures before anything is sent.
    void portProblems_data()
    {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("commError");
        QTest::addColumn<KitLink::Outcome>("outcome");
        QTest::newRow("empty port text") << "" << false << QStringList{QString()} << QStringList{SetPortMessage}
                                         << false << KitLink::Outcome::NoPort;
        QTest::newRow("not a number") << "?" << false
                                      << QStringList{QString(), QStringLiteral("ポート番号が正しくありません。")}
                                      << QStringList() << false << KitLink::Outcome::BadPortText;
        QTest::newRow("refused number") << "0" << false
                                        << QStringList{QString(), QStringLiteral("このポート番号は使用できません。")}
                                        << QStringList() << false << KitLink::Outcome::BadPortText;
        QTest::newRow("held by another opener") << "7" << true << QStringList{QString(), PortOpenFailedStatus}
                                                << QStringList() << true << KitLink::Outcome::PortFailed;
    }
    void portProblems()
    {
        QFETCH(QString, portText);
        QFETCH(bool, heldElsewhere);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, messages);
        QFETCH(bool, commError);
        QFETCH(KitLink::Outcome, outcome);
        SimulatedKitLine line;
        MSComm100 holder(*line.settings);
        if (heldElsewhere) {
            holder.setCommPort(SimPortNumber);
            holder.setPortOpen(true);
        }

        line.link->versionQuery(portText, QStringLiteral(" 9600"));

        QCOMPARE(line.host.statuses, statuses);
        QCOMPARE(line.host.messages, messages);
        QCOMPARE(line.link->commError(), commError);
        QCOMPARE(line.link->lastOutcome(), outcome);
        QCOMPARE(line.kit.commandBytes(), QByteArray());
        QCOMPARE(line.host.failureDetails.isEmpty(), outcome == KitLink::Outcome::NoPort);
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("beforeFirstByte");
        QTest::addColumn<QByteArray>("commandsSent");
        QTest::newRow("before the first byte") << true << QByteArray();
        QTest::newRow("during the answer wait") << false << QByteArray("\x46\x3F");
    }
    // The query stops silently; a wait that missed the stop would end in the time-out box.
    void cancel()
    {
        QFETCH(bool, beforeFirstByte);
        QFETCH(QByteArray, commandsSent);
        KitSimConfig config;
        config.versionAnswer = "short";
        SimulatedKitLine line(config);
        line.host.cancel = beforeFirstByte;
        QObject scope;
        QTimer::singleShot(200, &scope, [&] {
            line.host.cancel = true;
            line.link->interruptWait();
        });

        line.link->versionQuery(QStringLiteral("7"), QStringLiteral(" 9600"));

        QCOMPARE(line.kit.commandBytes(), commandsSent);
        QCOMPARE(line.link->lastOutcome(), KitLink::Outcome::Cancelled);
        QCOMPARE(line.link->commError(), true);
        QVERIFY(line.host.messages.isEmpty());
        QCOMPARE(line.host.statuses, QStringList{QString()});
        QCOMPARE(line.port->PortOpen(), false);
    }
};

QTEST_GUILESS_MAIN(TestKitLinkVersion)
#include "tst_kitlink_version.moc"
