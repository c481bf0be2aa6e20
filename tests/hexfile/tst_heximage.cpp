// Reading and checking Intel HEX files: words taken, files refused, the write window,
// and the file-level limits of HexFile::read.
#include "HexImage.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>

// Names that are not UTF-8, pipes, sockets, devices and permissions: POSIX files.
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using Words = QVector<HexWord>;
Q_DECLARE_METATYPE(Words)

namespace {

// One word per entry, e.g. "0x0008 hi 12 lo 34 kit": QCOMPARE then shows which word differs.
QStringList describe(const Words &words)
{
    QStringList lines;
    for (const HexWord &w : words)
        lines << QStringLiteral("0x%1 hi %2 lo %3 %4")
                     .arg(w.address, 4, 16, QLatin1Char('0'))
                     .arg(w.high, 2, 16, QLatin1Char('0'))
                     .arg(w.low, 2, 16, QLatin1Char('0'))
                     .arg(w.inKitMemory ? QStringLiteral("kit") : QStringLiteral("outside"));
    return lines;
}

HexWord word(quint32 address, quint8 high, quint8 low, bool inKitMemory = true)
{
    HexWord w;
    w.address = address;
    w.high = high;
    w.low = low;
    w.inKitMemory = inKitMemory;
    return w;
}

const Words WorkedExample{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78)};
// Closes every file a row does not itself cut short.
const QByteArray End(":00000001FF\n");

} // namespace

class TestHexImage : public QObject {
    Q_OBJECT

private slots:
    void goodFile_data();
    void goodFile();
    void refusedFile_data();
    void refusedFile();
    void truncatedFileIsReadOrRefused();

    void readsFileFromDisk();
    void fileSizeLimit_data();
    void fileSizeLimit();
    void missingFileIsRefused();
#ifdef Q_OS_UNIX
    void readsNameThatIsNotUtf8();
    void specialFileIsRefused_data();
    void specialFileIsRefused();
    void unreadableFileIsRefused();
#endif

private:
    QString writeFile(const QString &name, const QByteArray &content);
    QTemporaryDir m_dir;
#ifdef Q_OS_UNIX
    QString makeSpecialFile(const QString &kind);
    int m_socket = -1;
#endif
};

void TestHexImage::goodFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Words>("words");
    QTest::addColumn<int>("recordCount");

    QTest::newRow("worked example, LF") << QByteArray(":0400100034127856D8\n:00000001FF\n") << WorkedExample << 2;
    QTest::newRow("CR LF") << QByteArray(":0400100034127856D8\r\n:00000001FF\r\n") << WorkedExample << 2;
    QTest::newRow("lone CR") << QByteArray(":0400100034127856D8\r:00000001FF\r") << WorkedExample << 2;
    QTest::newRow("mixed line ends, no final one")
        << QByteArray(":0400100034127856D8\r\n\r\n\n\r:0400000034127856E8\n:00000001FF")
        << Words{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78), word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}
        << 3;
    QTest::newRow("only end of file") << QByteArray(":00000001FF\n") << Words{} << 1;
    QTest::newRow("only end of file, no line end") << QByteArray(":00000001FF") << Words{} << 1;
    QTest::newRow("empty data record") << QByteArray(":0000000000\n") + End << Words{} << 2;
    QTest::newRow("lower-case digits") << QByteArray(":02000000abcd86\n:0400100034127856d8\n:00000001ff\n")
                                       << Words{word(0x0000, 0xCD, 0xAB), word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78)}
                                       << 3;
    QTest::newRow("trailing blanks and tabs") << QByteArray(":0400100034127856D8 \t \r\n:00000001FF\t\n") << WorkedExample << 2;
    QTest::newRow("skipped lines: empty, comment, blanks only, NUL, binary, mid-file byte-order mark")
        << QByteArray("; firmware for the kit\n\n \t \n") + QByteArray("\0\x01\xff\xfe", 4)
               + QByteArray("\n<html>\n\xEF\xBB\xBF:0400000034127856E8\n:0400100034127856D8\n") + End
        << WorkedExample << 2;
    QTest::newRow("UTF-8 byte-order mark before the first record")
        << QByteArray("\xEF\xBB\xBF:0400100034127856D8\r\n:00000001FF\r\n") << WorkedExample << 2;
    QTest::newRow("blanks and tabs before the colon")
        << QByteArray("  :0400100034127856D8\n\t:00000001FF\n") << WorkedExample << 2;
    QTest::newRow("byte-order mark, then an indented record")
        << QByteArray("\xEF\xBB\xBF \t:0400100034127856D8\n") + End << WorkedExample << 2;
    QTest::newRow("lines after end of file still count")
        << QByteArray(":0400100034127856D8\n:00000001FF\n:0400000034127856E8\n")
        << Words{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78), word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}
        << 3;
    QTest::newRow("sixteen bytes")
        << QByteArray(":10000000000102030405060708090A0B0C0D0E0F78\n") + End
        << Words{word(0, 0x01, 0x00), word(1, 0x03, 0x02), word(2, 0x05, 0x04), word(3, 0x07, 0x06),
                 word(4, 0x09, 0x08), word(5, 0x0B, 0x0A), word(6, 0x0D, 0x0C), word(7, 0x0F, 0x0E)}
        << 2;
    QTest::newRow("window edge 0x1EFF/0x1F00 both listed")
        << QByteArray(":043DFE00AABBCCDDB3\n") + End << Words{word(0x1EFF, 0xBB, 0xAA), word(0x1F00, 0xDD, 0xCC)} << 2;
    QTest::newRow("address 0x8000 gives word 0x4000")
        << QByteArray(":02800000AABB19\n") + End << Words{word(0x4000, 0xBB, 0xAA)} << 2;
    QTest::newRow("top of 16-bit address space does not wrap")
        << QByteArray(":04FFFE001122334455\n") + End << Words{word(0x7FFF, 0x22, 0x11), word(0x8000, 0x44, 0x33)} << 2;
    QTest::newRow("linear base 0 changes nothing")
        << QByteArray(":020000040000FA\n:0400100034127856D8\n:00000001FF\n") << WorkedExample << 3;
    QTest::newRow("segment base 0 changes nothing")
        << QByteArray(":020000020000FC\n:0400100034127856D8\n") + End << WorkedExample << 3;
    QTest::newRow("linear base 0x10000 puts words outside, then base 0 back")
        << QByteArray(":020000040001F9\n:0400100034127856D8\n:020000040000FA\n:0400000034127856E8\n") + End
        << Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false),
                 word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}
        << 5;
    QTest::newRow("linear base 0xFFFF0000")
        << QByteArray(":02000004FFFFFC\n:0400100034127856D8\n") + End
        << Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false)} << 3;
    QTest::newRow("segment base 0x10000 puts words outside")
        << QByteArray(":020000021000EC\n:0400100034127856D8\n") + End
        << Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false)} << 3;
    QTest::newRow("segment base 0xF0000 then linear base 0")
        << QByteArray(":02000002F0000C\n:02000000ABCD86\n:020000040000FA\n:02000000ABCD86\n") + End
        << Words{word(0x0000, 0xCD, 0xAB, false), word(0x0000, 0xCD, 0xAB)} << 5;
    QTest::newRow("start addresses 03 and 05 yield no words")
        << QByteArray(":0400000300001234B3\n:04000005000000CD2A\n:0400100034127856D8\n") + End << WorkedExample << 4;
}

void TestHexImage::goodFile()
{
    QFETCH(QByteArray, content);
    QFETCH(Words, words);
    QFETCH(int, recordCount);

    const HexImage image = HexFile::parse(content);
    QCOMPARE(describe(image.words), describe(words));
    QCOMPARE(image.recordCount, recordCount);
}

void TestHexImage::refusedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("wrong checksum") << QByteArray(":0400100034127856D9\n") << 1 << "checksum 0xD9 is wrong, 0xD8 expected";
    QTest::newRow("checksum of zero-length record")
        << QByteArray(":00000001FF\n:0000000001\n") << 2 << "checksum 0x01 is wrong, 0x00 expected";
    QTest::newRow("letter G") << QByteArray(":04001000341G7856D8\n") << 1 << "character 'G' at column 13 is not a hexadecimal digit";
    QTest::newRow("blank inside") << QByteArray(":0400100034 127856D8\n") << 1 << "a blank at column 12 is not a hexadecimal digit";
    QTest::newRow("NUL inside a record") << QByteArray(":04001000\0\x34\x31\x32\x37\x38\x35\x36\x44\x38\n", 21) << 1
                                         << "byte 0x00 at column 10 is not a hexadecimal digit";
    QTest::newRow("second colon") << QByteArray(":00000001FF\n::00000001FF\n") << 2 << "character ':' at column 2";
    QTest::newRow("colon alone") << QByteArray(":\n") << 1 << "record is too short: 1 characters, a record has at least 11";
    QTest::newRow("header cut short") << QByteArray(":04001000\n") << 1 << "record is too short: 9 characters";
    QTest::newRow("colon and blanks") << QByteArray(":   \n:00000001FF\n") << 1 << "record is too short: 1 characters";
    QTest::newRow("data missing") << QByteArray(":04001000341278D8\n") << 1
                                  << "record is 17 characters long, but its byte count 0x04 needs 19";
    QTest::newRow("data beyond byte count") << QByteArray(":0400100034127856AAD8\n") << 1
                                            << "record is 21 characters long, but its byte count 0x04 needs 19";
    QTest::newRow("odd length") << QByteArray(":00000001FF0\n") << 1 << "record is 12 characters long, but its byte count 0x00 needs 11";
    QTest::newRow("odd byte count") << QByteArray(":030010003412782F\n") << 1 << "data record has an odd byte count (3)";
    QTest::newRow("odd address") << QByteArray(":02001100AABB88\n") << 1 << "data record has an odd address 0x0011";
    QTest::newRow("unknown type 06") << QByteArray(":00000006FA\n") << 1 << "unknown record type 0x06";
    QTest::newRow("linear address with 3 bytes") << QByteArray(":03000004000000F9\n") << 1
                                                 << "address record (type 0x04) has 3 bytes, it must have 2";
    QTest::newRow("segment address with 1 byte") << QByteArray(":0100000210ED\n") << 1
                                                 << "address record (type 0x02) has 1 bytes, it must have 2";
    QTest::newRow("line number counts skipped lines")
        << QByteArray("; header\n\n:0400100034127856D8\n:0400100034127856D9\n") << 4 << "checksum";
    QTest::newRow("line number after end of file")
        << QByteArray(":00000001FF\n\n:0400100034127856D9\n") << 3 << "checksum";
    QTest::newRow("CR LF counts as one line end")
        << QByteArray("a\r\nb\r\n:0400100034127856D9\r\n") << 3 << "checksum";
    QTest::newRow("lone CR ends a line")
        << QByteArray("a\rb\r\r:0400100034127856D9\r") << 4 << "checksum";
    QTest::newRow("first fault wins")
        << QByteArray(":00000006FA\n:0400100034127856D9\n") << 1 << "unknown record type";
    QTest::newRow("column counts the blanks before the colon")
        << QByteArray(" \t:04001000341G7856D8\n") << 1 << "character 'G' at column 15 is not a hexadecimal digit";

    QTest::newRow("no end-of-file record: cut short at a line end")
        << QByteArray(":020000040000FA\r\n:0400100034127856D8\r\n") << 0
        << "the end-of-file record (:00000001FF) is missing; the file may be cut short";
    QTest::newRow("end-of-file record only in a comment")
        << QByteArray(":0400100034127856D8\n; :00000001FF\n") << 0 << "the end-of-file record (:00000001FF) is missing";

    QTest::newRow("empty file") << QByteArray() << 0 << "no Intel HEX record found";
    QTest::newRow("only line ends") << QByteArray("\r\n\n\r") << 0 << "no Intel HEX record found";
    QTest::newRow("binary file") << QByteArray("\x7f" "ELF\0\0\x01\x02\n\xff\r", 12) << 0 << "no Intel HEX record found";
    QTest::newRow("HTML page") << QByteArray("<!DOCTYPE html>\n<html><body>Not found</body></html>\n") << 0
                               << "no Intel HEX record found";
}

void TestHexImage::refusedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QString, reasonPart);

    try {
        HexFile::parse(content);
        QFAIL("the file was accepted");
    } catch (const HexFileError &error) {
        QCOMPARE(error.line(), line);
        QVERIFY2(error.reason().startsWith(reasonPart), qPrintable(error.reason()));
    }
}

// Every cut of a good file must end in a result or a HexFileError, never in anything else.
void TestHexImage::truncatedFileIsReadOrRefused()
{
    const QByteArray good(":020000040000FA\r\n:0400100034127856D8\r\n:00000001FF\r\n");
    int accepted = 0;
    for (int length = 0; length <= good.size(); ++length) {
        try {
            HexFile::parse(good.left(length));
            ++accepted;
        } catch (const HexFileError &) {
        }
    }
    // Only cuts after the whole end-of-file record are good: without a line end,
    // with its CR, and with its CR LF.
    QCOMPARE(accepted, 3);
}

QString TestHexImage::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

// The checksum covers the bytes as they are on disk, byte-order mark and CR LF included.
void TestHexImage::readsFileFromDisk()
{
    const QString path = writeFile("firmware.hex", "\xEF\xBB\xBF:020000040000FA\r\n:0400100034127856D8\r\n:00000001FF\r\n");
    const HexImage image = HexFile::read(path);
    QCOMPARE(describe(image.words), describe(WorkedExample));
    QCOMPARE(image.recordCount, 3);
    QCOMPARE(image.sha256, QByteArray("1c7e84ce9167c9f1e0c26147b4d3f60cd5bac33b39c4c4476255a9d16de607c0"));
}

void TestHexImage::fileSizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("16 MiB exactly") << qint64(16777216) << true;
    QTest::newRow("16 MiB + 1") << qint64(16777217) << false;
    QTest::newRow("1 GiB") << qint64(1073741824) << false;
}

// A record followed by a sparse run of NUL bytes (one skipped line) up to the size.
void TestHexImage::fileSizeLimit()
{
    QFETCH(qint64, size);
    QFETCH(bool, accepted);

    const QString path = writeFile("big.hex", ":00000001FF\n");
    QVERIFY(QFile::resize(path, size));
    QCOMPARE(QFileInfo(path).size(), size);

    try {
        const HexImage image = HexFile::read(path);
        QVERIFY2(accepted, "a file over 16 MiB was read");
        QCOMPARE(image.recordCount, 1);
    } catch (const HexFileError &error) {
        QVERIFY2(!accepted, qPrintable(error.reason()));
        QCOMPARE(error.line(), 0);
        QVERIFY2(error.reason().contains(QStringLiteral("too large: %1 bytes, at most 16777216").arg(size)),
                 qPrintable(error.reason()));
    }
    QFile::remove(path);
}

void TestHexImage::missingFileIsRefused()
{
    const QString path = m_dir.filePath("no-such-file.hex");
    try {
        HexFile::read(path);
        QFAIL("a missing file was accepted");
    } catch (const HexFileError &error) {
        QCOMPARE(error.line(), 0);
        QVERIFY2(error.reason().contains(QStringLiteral("cannot open \"%1\": ").arg(path)), qPrintable(error.reason()));
        // The system's own words for it.
        QVERIFY2(error.reason().contains("No such file or directory") || error.reason().endsWith("File not found."),
                 qPrintable(error.reason()));
    }
}

#ifdef Q_OS_UNIX
// Names from an older system or a FAT stick may be in Latin-1 or Shift JIS; a QString cannot carry them.
void TestHexImage::readsNameThatIsNotUtf8()
{
    const QByteArray name = QFile::encodeName(m_dir.path()) + "/firmware-\xFF\xFE.hex";
    const QByteArray content(":0400100034127856D8\n:00000001FF\n");
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY2(fd >= 0, strerror(errno));
    // QTemporaryDir lists its files by QString too, so it could not remove this one.
    const auto removeFile = qScopeGuard([&name] { ::unlink(name.constData()); });
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);

    QCOMPARE(describe(HexFile::readEncoded(name).words), describe(WorkedExample));
}

QString TestHexImage::makeSpecialFile(const QString &kind)
{
    if (kind == QLatin1String("device"))
        return QStringLiteral("/dev/zero");
    const QString path = m_dir.filePath(kind + QStringLiteral(".hex"));
    const QByteArray encoded = QFile::encodeName(path);
    if (kind == QLatin1String("fifo")) {
        if (::mkfifo(encoded.constData(), 0600) != 0)
            qFatal("mkfifo %s: %s", encoded.constData(), strerror(errno));
    } else if (kind == QLatin1String("folder")) {
        if (!QDir().mkpath(path))
            qFatal("cannot make folder %s", encoded.constData());
    } else if (kind == QLatin1String("socket")) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_socket, 1) != 0)
            qFatal("cannot make socket %s: %s", encoded.constData(), strerror(errno));
    }
    return path;
}

void TestHexImage::specialFileIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");

    // Opening a FIFO without a writer for reading would wait for one for ever.
    QTest::newRow("FIFO without a writer") << "fifo" << "it is a pipe (FIFO), not a regular file";
    QTest::newRow("folder") << "folder" << "it is a folder, not a regular file";
    QTest::newRow("Unix socket") << "socket" << "it is a socket, not a regular file";
    // Never ends: it must not be read at all, not even up to the size limit.
    QTest::newRow("/dev/zero") << "device" << "it is a character device, not a regular file";
}

void TestHexImage::specialFileIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);

    const QString path = makeSpecialFile(kind);
    try {
        HexFile::read(path);
        QFAIL("it was accepted");
    } catch (const HexFileError &error) {
        QCOMPARE(error.line(), 0);
        QCOMPARE(error.reason(), QStringLiteral("cannot open \"%1\": %2").arg(path, why));
    }
    if (m_socket >= 0)
        ::close(std::exchange(m_socket, -1));
}

void TestHexImage::unreadableFileIsRefused()
{
    if (geteuid() == 0)
        QSKIP("running as root: file permissions do not stop reading");
    const QString path = writeFile("locked.hex", ":00000001FF\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    try {
        HexFile::read(path);
        QFAIL("an unreadable file was accepted");
    } catch (const HexFileError &error) {
        QVERIFY2(error.reason().contains(QStringLiteral("cannot open \"%1\": ").arg(path)), qPrintable(error.reason()));
        QVERIFY2(error.reason().contains("Permission denied"), qPrintable(error.reason()));
    }
}

#endif

QTEST_GUILESS_MAIN(TestHexImage)
#include "tst_heximage.moc"
