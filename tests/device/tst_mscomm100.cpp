// The serial port over a real pseudo-terminal with the simulated kit on the other end.
#include "DeviceTestSupport.h"

#include <QSerialPort>
#include <QTimer>

using namespace std::chrono_literals;
Q_DECLARE_METATYPE(SerialError::Kind)

namespace {
void openPort7(SimulatedKitLine &line)
{
    line.port->setCommPort(SimPortNumber);
    line.port->setPortOpen(true);
}

SerialError::Kind kindOfFailure(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SerialError &error) {
        return error.kind();
    }
    qFatal("the operation did not fail");
}
} // namespace

class TestMSComm100 : public QObject {
    Q_OBJECT

private slots:
    void closedPort()
    {
        SimulatedKitLine line;
        MSComm100 &port = *line.port;
        QCOMPARE(port.PortOpen(), false);
        QCOMPARE(port.InBufferCount(), 0);
        port.setInBufferCount(0); // accepted while closed
        QCOMPARE(kindOfFailure([&] { port.Output(QByteArray(1, '?')); }), SerialError::Kind::NotOpen);
        QCOMPARE(kindOfFailure([&] { port.Input(); }), SerialError::Kind::NotOpen);
        QCOMPARE(kindOfFailure([&] { port.waitForInput(1, QDeadlineTimer(10s)); }), SerialError::Kind::NotOpen);
        port.setPortOpen(false); // closing a closed port changes nothing
        QCOMPARE(port.PortOpen(), false);
    }

    void refusedPort_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("failsAtSetCommPort");
        QTest::addColumn<SerialError::Kind>("kind");
        QTest::newRow("zero") << 0 << true << SerialError::Kind::Refused;
        QTest::newRow("negative") << -5 << true << SerialError::Kind::Refused;
        QTest::newRow("missing device") << 8 << false << SerialError::Kind::OpenFailed;
        QTest::newRow("not a serial device") << 9 << false << SerialError::Kind::OpenFailed;
    }
    void refusedPort()
    {
        QFETCH(int, number);
        QFETCH(bool, failsAtSetCommPort);
        QFETCH(SerialError::Kind, kind);
        SimulatedKitLine line;
        const QString plainFile = line.writeFile(QStringLiteral("plain.txt"), "not a tty");
        const auto settings = line.storeMapping({{8, line.dir.filePath(QStringLiteral("no-such-tty"))}, {9, plainFile}});
        MSComm100 port(*settings);
        if (failsAtSetCommPort) {
            QCOMPARE(kindOfFailure([&] { port.setCommPort(number); }), kind);
        } else {
            port.setCommPort(number);
            QCOMPARE(kindOfFailure([&] { port.setPortOpen(true); }), kind);
        }
        QCOMPARE(port.PortOpen(), false);
    }

    void heldByAnotherOpener_data()
    {
        QTest::addColumn<bool>("holderIsQSerialPort");
        QTest::newRow("another port object") << false;
        QTest::newRow("a plain QSerialPort") << true;
    }
    void heldByAnotherOpener()
    {
        QFETCH(bool, holderIsQSerialPort);
        SimulatedKitLine line;
        MSComm100 holder(*line.settings);
        QSerialPort qtHolder(line.kit.slavePath());
        if (holderIsQSerialPort) {
            QVERIFY(qtHolder.open(QIODevice::ReadWrite));
        } else {
            holder.setCommPort(SimPortNumber);
            holder.setPortOpen(true);
        }
        line.port->setCommPort(SimPortNumber);
        QCOMPARE(kindOfFailure([&] { line.port->setPortOpen(true); }), SerialError::Kind::Busy);
        QCOMPARE(line.port->PortOpen(), false);

        holder.setPortOpen(false);
        qtHolder.close();
        line.port->setPortOpen(true); // free again
        QVERIFY(line.port->PortOpen());
    }

    void lineSettings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("9600") << "9600,n,8,1" << true;
        QTest::newRow("19200") << "19200,n,8,1" << true;
        QTest::newRow("57600, capital N") << "57600,N,8,1" << true;
        QTest::newRow("even parity, 7 bits, 2 stop") << "4800,e,7,2" << true;
        QTest::newRow("three parts") << "9600,n,8" << false;
        QTest::newRow("speed not a number") << "fast,n,8,1" << false;
        QTest::newRow("unknown parity") << "9600,x,8,1" << false;
        QTest::newRow("nine data bits") << "9600,n,9,1" << false;
        QTest::newRow("three stop bits") << "9600,n,8,3" << false;
    }
    void lineSettings()
    {
        QFETCH(QString, settings);
        QFETCH(bool, accepted);
        SimulatedKitLine line;
        MSComm100 &port = *line.port;
        QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
        if (accepted) {
            port.setSettings(settings);
            QCOMPARE(port.Settings(), settings);
            openPort7(line); // the line takes them
        } else {
            QCOMPARE(kindOfFailure([&] { port.setSettings(settings); }), SerialError::Kind::Refused);
            QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
        }
    }

    void answerArrives()
    {
        SimulatedKitLine line;
        openPort7(line);
        line.port->Output(QByteArray(1, '\x3F'));
        QCOMPARE(line.port->waitForInput(16, QDeadlineTimer(10s)), CommPort::WaitResult::Ready);
        QCOMPARE(line.port->InBufferCount(), 16);
        QCOMPARE(line.port->Input(), QByteArray("KIT-FW Ver1.00  "));
        QCOMPARE(line.port->InBufferCount(), 0);
        QCOMPARE(line.port->Input(), QByteArray()); // nothing waiting is no failure
    }

    void receivedBytesDiscarded()
    {
        SimulatedKitLine line;
        openPort7(line);
        line.port->Output(QByteArray(1, '\x3F'));
        QCOMPARE(line.port->waitForInput(16, QDeadlineTimer(10s)), CommPort::WaitResult::Ready);
        line.port->setInBufferCount(0);
        QCOMPARE(line.port->InBufferCount(), 0);
        QCOMPARE(line.port->Input(), QByteArray());
    }

    void deadlinePasses()
    {
        SimulatedKitLine line;
        openPort7(line);
        QCOMPARE(line.port->waitForInput(1, QDeadlineTimer(200ms)), CommPort::WaitResult::TimedOut);
        QVERIFY(line.port->PortOpen());
    }

    // Every wake-up below comes long before the 30-second deadline; a wait
    // that missed it would end in TimedOut instead.
    void wakeUp_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("expected");
        QTest::newRow("interrupt before the wait") << "interrupt first" << "Interrupted";
        QTest::newRow("interrupt during the wait") << "interrupt" << "Interrupted";
        QTest::newRow("kit hangs up") << "hang up" << "IoFailed";
        QTest::newRow("port closed under the wait") << "close" << "NotOpen";
    }
    void wakeUp()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, expected);
        SimulatedKitLine line;
        openPort7(line);
        if (trigger == QLatin1String("interrupt first"))
            line.port->interruptWait();
        QObject scope; // ends the pending timer with the test
        QTimer::singleShot(50, &scope, [&] {
            if (trigger == QLatin1String("interrupt"))
                line.port->interruptWait();
            else if (trigger == QLatin1String("hang up"))
                line.kit.stop();
            else if (trigger == QLatin1String("close"))
                line.port->setPortOpen(false);
        });
        QString outcome;
        try {
            const CommPort::WaitResult result = line.port->waitForInput(1, QDeadlineTimer(30s));
            outcome = result == CommPort::WaitResult::Interrupted ? QStringLiteral("Interrupted") : QStringLiteral("other");
        } catch (const SerialError &error) {
            outcome = error.kind() == SerialError::Kind::IoFailed ? QStringLiteral("IoFailed")
                : error.kind() == SerialError::Kind::NotOpen      ? QStringLiteral("NotOpen")
                                                                  : QStringLiteral("other failure");
        }
        QCOMPARE(outcome, expected);
        QCOMPARE(line.port->PortOpen(), expected == QLatin1String("Interrupted"));
    }

    // A line that fails between exchanges is closed on the next pass of the
    // event loop (so it cannot keep signalling), and the next use reports why.
    void hangUpWhileIdle()
    {
        SimulatedKitLine line;
        openPort7(line);
        line.kit.stop();
        QTRY_VERIFY(!line.port->PortOpen());
        QCOMPARE(kindOfFailure([&] { line.port->Output(QByteArray(1, '?')); }), SerialError::Kind::IoFailed);
    }

    void interruptIsUsedOnce()
    {
        SimulatedKitLine line;
        openPort7(line);
        line.port->interruptWait();
        QCOMPARE(line.port->waitForInput(1, QDeadlineTimer(30s)), CommPort::WaitResult::Interrupted);
        QCOMPARE(line.port->waitForInput(1, QDeadlineTimer(100ms)), CommPort::WaitResult::TimedOut);
    }
};

QTEST_GUILESS_MAIN(TestMSComm100)
#include "tst_mscomm100.moc"
