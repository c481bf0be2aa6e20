// HEX files read from the file system: the file-level limits of HexFile::read,
// names and special files, and the digest of the bytes read.
#include "HexFile.h"

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

namespace {

// The words as "0008=1234": QCOMPARE then shows which word differs.
QStringList describe(const std::vector<HexWord> &words)
{
    QStringList shown;
    for (const HexWord &w : words)
        shown << QStringLiteral("%1=%2%3").arg(w.address, 4, 16, QLatin1Char('0')).arg(w.high, 2, 16, QLatin1Char('0'))
                     .arg(w.low, 2, 16, QLatin1Char('0'));
    return shown;
}

const QStringList WorkedExample{"0008=1234", "0009=5678"};

} // namespace

class TestHexFile : public QObject {
    Q_OBJECT

private slots:
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

QString TestHexFile::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

// The checksum covers the bytes as they are on disk, byte-order mark and CR LF included.
void TestHexFile::readsFileFromDisk()
{
    const QString path = writeFile("firmware.hex", "\xEF\xBB\xBF:020000040000FA\r\n:0400100034127856D8\r\n:00000001FF\r\n");
    const HexImage image = HexFile::read(path);
    QCOMPARE(describe(image.words), WorkedExample);
    QCOMPARE(image.recordCount, 3);
    QCOMPARE(image.sha256, std::string("1c7e84ce9167c9f1e0c26147b4d3f60cd5bac33b39c4c4476255a9d16de607c0"));
}

void TestHexFile::fileSizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("16 MiB exactly") << qint64(16777216) << true;
    QTest::newRow("16 MiB + 1") << qint64(16777217) << false;
    QTest::newRow("1 GiB") << qint64(1073741824) << false;
}

// A record followed by a sparse run of NUL bytes (one skipped line) up to the size.
void TestHexFile::fileSizeLimit()
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
        QVERIFY2(!accepted, qPrintable(QString::fromStdString(error.reason())));
        QCOMPARE(error.line(), 0);
        QVERIFY2(QString::fromStdString(error.reason()).contains(QStringLiteral("too large: %1 bytes, at most 16777216").arg(size)),
                 qPrintable(QString::fromStdString(error.reason())));
    }
    QFile::remove(path);
}

void TestHexFile::missingFileIsRefused()
{
    const QString path = m_dir.filePath("no-such-file.hex");
    try {
        HexFile::read(path);
        QFAIL("a missing file was accepted");
    } catch (const HexFileError &error) {
        QCOMPARE(error.line(), 0);
        QVERIFY2(QString::fromStdString(error.reason()).contains(QStringLiteral("cannot open \"%1\": ").arg(path)), qPrintable(QString::fromStdString(error.reason())));
        // The system's own words for it.
        QVERIFY2(QString::fromStdString(error.reason()).contains("No such file or directory") || QString::fromStdString(error.reason()).endsWith("File not found."),
                 qPrintable(QString::fromStdString(error.reason())));
    }
}

#ifdef Q_OS_UNIX
// Names from an older system or a FAT stick may be in Latin-1 or Shift JIS; a QString cannot carry them.
void TestHexFile::readsNameThatIsNotUtf8()
{
    const QByteArray name = QFile::encodeName(m_dir.path()) + "/firmware-\xFF\xFE.hex";
    const QByteArray content(":0400100034127856D8\n:00000001FF\n");
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY2(fd >= 0, strerror(errno));
    // QTemporaryDir lists its files by QString too, so it could not remove this one.
    const auto removeFile = qScopeGuard([&name] { ::unlink(name.constData()); });
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);

    QCOMPARE(describe(HexFile::readEncoded(name).words), WorkedExample);
}

QString TestHexFile::makeSpecialFile(const QString &kind)
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

void TestHexFile::specialFileIsRefused_data()
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

void TestHexFile::specialFileIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);

    const QString path = makeSpecialFile(kind);
    try {
        HexFile::read(path);
        QFAIL("it was accepted");
    } catch (const HexFileError &error) {
        QCOMPARE(error.line(), 0);
        QCOMPARE(QString::fromStdString(error.reason()), QStringLiteral("cannot open \"%1\": %2").arg(path, why));
    }
    if (m_socket >= 0)
        ::close(std::exchange(m_socket, -1));
}

void TestHexFile::unreadableFileIsRefused()
{
    if (geteuid() == 0)
        QSKIP("running as root: file permissions do not stop reading");
    const QString path = writeFile("locked.hex", ":00000001FF\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    try {
        HexFile::read(path);
        QFAIL("an unreadable file was accepted");
    } catch (const HexFileError &error) {
        QVERIFY2(QString::fromStdString(error.reason()).contains(QStringLiteral("cannot open \"%1\": ").arg(path)), qPrintable(QString::fromStdString(error.reason())));
        QVERIFY2(QString::fromStdString(error.reason()).contains("Permission denied"), qPrintable(QString::fromStdString(error.reason())));
    }
}

#endif

QTEST_GUILESS_MAIN(TestHexFile)
#include "tst_hexfile.moc"
