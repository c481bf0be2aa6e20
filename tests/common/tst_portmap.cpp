// Port texts to port numbers, port numbers to devices.
#include "PortMap.h"
#include "SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
        file.write("[Ports]\n7=/dev/ttyUSB0\n300=/dev/pts/12\n");
        file.close();
        const SettingsStore settings(ini);
        QCOMPARE(::devicePathForPort(number, settings), path);
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
