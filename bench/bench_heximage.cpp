// Parsing speed of a realistic 1 MiB file and of a 16 MiB file (the largest read).
// Prints figures only; run by hand: build/bench/bench_heximage
#include "HexFile.h"

#include <QtTest>

namespace {

// Data records of 16 bytes with the checksum each record needs, CR LF line ends.
QByteArray hexFileOfSize(qsizetype size)
{
    QByteArray content;
    content.reserve(size + 64);
    quint32 address = 0;
    while (content.size() < size) {
        QByteArray bytes;
        bytes.append(char(0x10)).append(char(address >> 8)).append(char(address & 0xFF)).append(char(0));
        for (int i = 0; i < 16; ++i)
            bytes.append(char((address + i) & 0xFF));
        quint8 sum = 0;
        for (char b : bytes)
            sum += quint8(b);
        bytes.append(char(quint8(0x100 - sum)));
        content += ':' + bytes.toHex().toUpper() + "\r\n";
        address = (address + 16) & 0xFFFF;
    }
    return content + ":00000001FF\r\n";
}

} // namespace

class BenchHexImage : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("1 MiB") << hexFileOfSize(1024 * 1024);
        QTest::newRow("16 MiB") << hexFileOfSize(16 * 1024 * 1024 - 64);
    }

    void parse()
    {
        QFETCH(QByteArray, content);
        QBENCHMARK {
            HexFile::parse(content);
        }
    }
};

QTEST_GUILESS_MAIN(BenchHexImage)
#include "bench_heximage.moc"
