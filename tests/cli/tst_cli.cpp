// kitupdater-cli as a script uses it: a separate process with its own settings
// folder, talking to the simulated kit over a real pseudo-terminal.
#include "CliProcess.h"
#include "ExpectedTexts.h"
#include "KitFrames.h"
#include "KitSimulator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace Expected;

namespace {

// Message boxes go to stderr, their CR LF as a plain line end.
QString onStderr(const QString &message)
{
    return QString(message).replace(QLatin1String("\r\n"), QLatin1String("\n")) + QLatin1Char('\n');
}
const QString DoneMessageOnStderr = onStderr(DoneMessage);
const QString TimeoutMessageOnStderr = onStderr(TimeoutMessage);

const QString KitVersion = QString::fromLatin1(BoundaryKitVersion);



// The checksum of line 3 is one too high.
const QByteArray BadChecksumFile =
    QByteArrayLiteral(":020000040000FA\r\n:02002000341298\r\n:0200220078560F\r\n:00000001FF\r\n");
// Line 2 starts a word at an odd byte address.
const QByteArray OddAddressFile = QByteArrayLiteral(":02002000341298\n:020101000102F9\n:00000001FF\n");
const QByteArray WebPageFile = QByteArrayLiteral("<html><body>Not Found</body></html>\n");

const QStringList UpdateDoneOutput{KitVersion, VersionReadStatus, UpdatingStatus, DoneStatus};



using Run = CliRun;

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void exitStatus_data();
    void exitStatus();
    void help();
    void check_data();
    void check();

private:
    Run run(QStringList arguments);
    QString withPaths(QString text) const;
    void writeFile(const QString &path, const QByteArray &content);
    QString hexPath() const { return m_files->filePath(QStringLiteral("firmware.hex")); }

    std::unique_ptr<QTemporaryDir> m_config; // $XDG_CONFIG_HOME of the program
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<KitSimulator> m_kit;
};

void CliTest::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_files = std::make_unique<QTemporaryDir>();
    KitSimConfig config;
    config.versionAnswer = KitVersion.toLatin1().toStdString();
    m_kit = std::make_unique<KitSimulator>(config);
    m_kit->start();
    QVERIFY(QFile::link(m_kit->slavePath(), m_config->filePath(QStringLiteral("kit-link"))));
}

void CliTest::cleanup() { m_kit.reset(); }

// {slave}: the kit's device; {file}: the HEX file of the test; {config}: the settings folder.
QString CliTest::withPaths(QString text) const
{
    return text.replace(QStringLiteral("{slave}"), m_kit->slavePath())
        .replace(QStringLiteral("{file}"), hexPath())
        .replace(QStringLiteral("{config}"), m_config->path());
}

void CliTest::writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

Run CliTest::run(QStringList arguments)
{
    for (QString &argument : arguments)
        argument = withPaths(argument);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_config->path());
    return runCli(QStringList{QStringLiteral(KITUPDATER_CLI_PATH)} + arguments, env);
}

void CliTest::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("ini");           // $XDG_CONFIG_HOME/KitUpdater/KitUpdater.ini; empty: none
    QTest::addColumn<QByteArray>("hexText");       // the file {file}
    QTest::addColumn<int>("silentAfterFrames");
    QTest::addColumn<bool>("heldElsewhere");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("errHas");
    QTest::addColumn<QByteArray>("commands");      // 0x46 / 0x3F bytes the kit received
    QTest::addColumn<Frames>("frames");

    const QByteArray mapped7 = "[Ports]\n7={slave}\n";
    const QStringList none;
    const QByteArray handshake("\x46\x3F");

    QTest::newRow("update, --port PATH")
        << QStringList{"--port", "{slave}", "update", "{file}"} << QByteArray() << BoundaryFile << -1 << false << 0
        << UpdateDoneOutput << DoneMessageOnStderr << handshake << BoundaryFrames;
    QTest::newRow("update, --port 7 mapped in the settings")
        << QStringList{"--port", "7", "update", "{file}"} << mapped7 << BoundaryFile << -1 << false << 0
        << UpdateDoneOutput << DoneMessageOnStderr << handshake << BoundaryFrames;
    QTest::newRow("update, the port last picked in the window")
        << QStringList{"update", "{file}"} << QByteArray("[Settings]\nCom=7\n\n" + mapped7) << BoundaryFile << -1
        << false << 0 << UpdateDoneOutput << DoneMessageOnStderr << handshake << BoundaryFrames;
    QTest::newRow("version at 57600")
        << QStringList{"--port", "{slave}", "--speed", "57600", "version"} << QByteArray() << QByteArray() << -1
        << false << 0 << QStringList{KitVersion, VersionReadStatus} << QString() << handshake << Frames();
    // A real 2-second wait for the first frame's answer.
    QTest::newRow("silent kit during the update")
        << QStringList{"--port", "{slave}", "update", "{file}"} << QByteArray() << BoundaryFile << 0 << false << 1
        << QStringList{KitVersion, VersionReadStatus, UpdatingStatus, FailedStatus} << TimeoutMessageOnStderr << handshake
        << Frames{{0x0000, 0x0201}};
    QTest::newRow("port held by another program")
        << QStringList{"--port", "7", "update", "{file}"} << mapped7 << BoundaryFile << -1 << true << 1
        << QStringList{PortOpenFailedStatus} << QString() << QByteArray() << Frames();
    QTest::newRow("missing device")
        << QStringList{"--port", "{config}/no-such-tty", "version"} << QByteArray() << QByteArray() << -1 << false
        << 1 << QStringList{PortOpenFailedStatus} << QString() << QByteArray() << Frames();
    // The port fails before the file is read: a port or device failure.
    QTest::newRow("missing device and a bad file")
        << QStringList{"--port", "{config}/no-such-tty", "update", "{file}"} << QByteArray() << BadChecksumFile << -1
        << false << 1 << QStringList{PortOpenFailedStatus} << "no-such-tty" << QByteArray() << Frames();
    QTest::newRow("rejected file: bad checksum")
        << QStringList{"--port", "{slave}", "update", "{file}"} << QByteArray() << BadChecksumFile << -1 << false << 3
        << QStringList{KitVersion, VersionReadStatus, UpdatingStatus, FailedStatus} << "line 3" << handshake
        << Frames();
    QTest::newRow("rejected file: missing")
        << QStringList{"--port", "{slave}", "update", "{config}/missing.hex"} << QByteArray() << QByteArray() << -1
        << false << 3 << QStringList{KitVersion, VersionReadStatus, UpdatingStatus, FailedStatus} << "missing.hex"
        << handshake << Frames();
    QTest::newRow("usage: no command") << QStringList{"--port", "{slave}"} << QByteArray() << QByteArray() << -1
                                       << false << 2 << none << "--help" << QByteArray() << Frames();
    QTest::newRow("usage: unknown command") << QStringList{"--port", "{slave}", "flash", "{file}"} << QByteArray()
                                            << BoundaryFile << -1 << false << 2 << none << "flash" << QByteArray()
                                            << Frames();
    QTest::newRow("usage: update without FILE") << QStringList{"--port", "{slave}", "update"} << QByteArray()
                                                << QByteArray() << -1 << false << 2 << none << "update"
                                                << QByteArray() << Frames();
    QTest::newRow("usage: version with a FILE") << QStringList{"--port", "{slave}", "version", "{file}"}
                                                << QByteArray() << BoundaryFile << -1 << false << 2 << none
                                                << "version" << QByteArray() << Frames();
    QTest::newRow("usage: bad --speed") << QStringList{"--port", "{slave}", "--speed", "4800", "update", "{file}"}
                                        << QByteArray() << BoundaryFile << -1 << false << 2 << none << "speed"
                                        << QByteArray() << Frames();
    QTest::newRow("usage: COM5 is no port name on Linux")
        << QStringList{"--port", "COM5", "version"} << QByteArray() << QByteArray() << -1 << false << 2 << none
        << "kitupdater-cli: 'COM5' is neither a port number nor a device path" << QByteArray() << Frames();
    QTest::newRow("usage: no port given, none stored") << QStringList{"version"} << mapped7 << QByteArray() << -1
                                                       << false << 2 << none << "port" << QByteArray() << Frames();
    QTest::newRow("usage: the same port number twice")
        << QStringList{"--port", "7", "--port", "7", "update", "{file}"} << mapped7 << BoundaryFile << -1 << false << 2
        << none << "--port 7 and --port 7 are the same device {slave}" << QByteArray() << Frames();
    QTest::newRow("usage: a number and the device it maps to")
        << QStringList{"--port", "7", "--port", "{slave}", "version"} << mapped7 << QByteArray() << -1 << false << 2
        << none << "--port 7 and --port {slave} are the same device {slave}" << QByteArray() << Frames();
    QTest::newRow("usage: a link and its device")
        << QStringList{"--port", "{config}/kit-link", "--port", "{slave}", "update", "{file}"} << QByteArray()
        << BoundaryFile << -1 << false << 2 << none << "--port {config}/kit-link and --port {slave} are the same device"
        << QByteArray() << Frames();
    QTest::newRow("usage: station with --port")
        << QStringList{"--port", "{slave}", "station", "{file}"} << QByteArray() << BoundaryFile << -1 << false << 2
        << none << "station updates every adapter that is plugged in; it takes no --port" << QByteArray() << Frames();
    QTest::newRow("usage: unknown option") << QStringList{"--baud", "9600", "version"} << QByteArray() << QByteArray()
                                           << -1 << false << 2 << none << "baud" << QByteArray() << Frames();
}

void CliTest::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, hexText);
    QFETCH(int, silentAfterFrames);
    QFETCH(bool, heldElsewhere);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, errHas);
    QFETCH(QByteArray, commands);
    QFETCH(Frames, frames);
    if (!ini.isEmpty())
        writeFile(m_config->filePath(QStringLiteral("KitUpdater/KitUpdater.ini")), withPaths(QString::fromUtf8(ini)).toUtf8());
    if (!hexText.isEmpty())
        writeFile(hexPath(), hexText);
    KitSimConfig config = m_kit->config();
    config.silentAfterFrames = silentAfterFrames;
    m_kit->setConfig(config);
    QSerialPort holder(m_kit->slavePath());
    if (heldElsewhere)
        QVERIFY(holder.open(QIODevice::ReadWrite));

    const Run result = run(arguments);

    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    QVERIFY2(result.err.contains(withPaths(errHas)), qPrintable(result.err));
    // No progress bar when stderr is no terminal: it would redraw with CR.
    QVERIFY2(!result.err.contains(QLatin1Char('\r')), qPrintable(result.err));
    QCOMPARE(m_kit->commandBytes(), commands);
    QCOMPARE(framesOf(*m_kit), frames);
    QCOMPARE(m_kit->memory(), memoryOf(frames));
}

void CliTest::help()
{
    const Run result = run({QStringLiteral("--help")});
    QCOMPARE(result.exitCode, 0);
    const QString text = result.out.join(QLatin1Char('\n'));
    for (const char *part : {"--port", "--speed", "version", "update FILE", "check FILE", "ports"})
        QVERIFY2(text.contains(QLatin1String(part)), part);
    QVERIFY(m_kit->commandBytes().isEmpty());
}

void CliTest::check_data()
{
    QTest::addColumn<QByteArray>("hexText");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("errHas");

    QTest::newRow("boundary words") << BoundaryFile << 0
                                    << QStringList{"words to send: 9", "words outside the write window: 4"} << "";
    QTest::newRow("only an end-of-file record") << QByteArray(":00000001FF\r\n") << 0
                                                << QStringList{"words to send: 0", "words outside the write window: 0"}
                                                << "";
    QTest::newRow("bad checksum") << BadChecksumFile << 3 << QStringList() << "line 3";
    QTest::newRow("odd address") << OddAddressFile << 3 << QStringList() << "line 2";
    QTest::newRow("no record at all") << WebPageFile << 3 << QStringList() << "firmware.hex";
}

// check reads the file as an update would, and sends nothing.
void CliTest::check()
{
    QFETCH(QByteArray, hexText);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, errHas);
    writeFile(hexPath(), hexText);

    const Run result = run({QStringLiteral("--port"), QStringLiteral("{slave}"), QStringLiteral("check"),
                            QStringLiteral("{file}")});

    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    if (errHas.isEmpty())
        QCOMPARE(result.err, QString());
    else
        QVERIFY2(result.err.contains(errHas), qPrintable(result.err));
    QVERIFY(m_kit->commandBytes().isEmpty());
    QVERIFY(m_kit->frames().isEmpty());
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
