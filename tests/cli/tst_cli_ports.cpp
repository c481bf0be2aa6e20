// kitupdater-cli ports, map and unmap as a user runs them: a separate process
// with its own settings folder and a by-id folder of links to simulated kits.
#include "AsNobody.h"
#include "CliProcess.h"
#include "KitSimulator.h"
#include "MachinePorts.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString KitAdapter = QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00");

enum class Holder { None, QtProgram, Flock, SharedFlock };

} // namespace

class CliPortsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void ports_data();
    void ports();
    void portsAsJson();
    void mapAndUnmap_data();
    void mapAndUnmap();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();

private:
    // program: the program, or runuser and a copy of it.
    CliRun run(const QStringList &arguments, const QStringList &program = {QStringLiteral(KITUPDATER_CLI_PATH)});
    QString iniPath() const { return m_config->filePath(QStringLiteral("KitUpdater/KitUpdater.ini")); }
    QString kitLink() const { return m_byId->filePath(KitAdapter); }
    QString withPaths(QString text) const;
    QByteArray readIni() const;
    void writeIni(const QString &content);

    std::unique_ptr<QTemporaryDir> m_config; // $XDG_CONFIG_HOME of the program
    std::unique_ptr<QTemporaryDir> m_byId;   // $KITUPDATER_SERIAL_BY_ID
    std::unique_ptr<KitSimulator> m_kit;
    QString m_configHome; // another $XDG_CONFIG_HOME than m_config; empty: none
};

void CliPortsTest::init()
{
    if (machineTakesNumbersFrom10())
        QSKIP("this machine lists /dev/ttyS ports for the numbers 10 to 20");
    m_config = std::make_unique<QTemporaryDir>();
    m_byId = std::make_unique<QTemporaryDir>();
    // Another user must find the settings and the links (but may not write).
    const QFile::Permissions everyoneReads = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
        | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(m_config->path(), everyoneReads));
    QVERIFY(QFile::setPermissions(m_byId->path(), everyoneReads));
    m_kit = std::make_unique<KitSimulator>();
    m_kit->start();
}

void CliPortsTest::cleanup()
{
    m_kit.reset();
    m_configHome.clear();
}

// {slave}: the kit's device; {link}: the kit adapter's link; {config}: the settings folder.
QString CliPortsTest::withPaths(QString text) const
{
    return text.replace(QStringLiteral("{slave}"), m_kit->slavePath())
        .replace(QStringLiteral("{link}"), kitLink())
        .replace(QStringLiteral("{config}"), m_config->path());
}

QByteArray CliPortsTest::readIni() const
{
    QFile file(iniPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void CliPortsTest::writeIni(const QString &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(iniPath()).absolutePath()));
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(withPaths(content).toUtf8());
}

CliRun CliPortsTest::run(const QStringList &arguments, const QStringList &program)
{
    QStringList command = program;
    for (const QString &argument : arguments)
        command.append(withPaths(argument));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome.isEmpty() ? m_config->path() : m_configHome);
    env.insert(QStringLiteral("KITUPDATER_SERIAL_BY_ID"), m_byId->path());
    return runCli(command, env);
}

void CliPortsTest::ports_data()
{
    QTest::addColumn<QString>("ports");       // "[Ports]" before: numbers 1-9 are always taken
    QTest::addColumn<bool>("plugged");        // the kit's link is in the by-id folder
    QTest::addColumn<Holder>("holder");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<QString>("line");        // the kit's line of the output
    QTest::addColumn<bool>("numberWritten");  // "10={link}" is in the file afterwards

    QTest::newRow("plugged in for the first time: lowest free number")
        << "" << true << Holder::None << false << "10\t" + KitAdapter + "\t{slave}\t-\t-\t-\tok" << true;
    QTest::newRow("plugged in, 10 taken by a key with a leading zero")
        << "010=/dev/ttyUSB10\n" << true << Holder::None << false
        << "11\t" + KitAdapter + "\t{slave}\t-\t-\t-\tok" << false;
    QTest::newRow("held by a Qt program (its lock file)")
        << "" << true << Holder::QtProgram << false << "10\t" + KitAdapter + "\t{slave}\t-\t-\t-\tbusy" << true;
    QTest::newRow("held by the window (its flock)")
        << "" << true << Holder::Flock << false << "10\t" + KitAdapter + "\t{slave}\t-\t-\t-\tbusy" << true;
    QTest::newRow("held with a shared lock (flock LOCK_SH)")
        << "" << true << Holder::SharedFlock << false << "10\t" + KitAdapter + "\t{slave}\t-\t-\t-\tbusy" << true;
    QTest::newRow("unplugged, numbered before")
        << "10={link}\n" << false << Holder::None << false
        << "10\t" + KitAdapter + "\tnot connected\t-\t-\t-\tmissing" << true;
    // nobody may neither open the kit's terminal nor write the settings.
    QTest::newRow("another user: numbered for this run only")
        << "" << true << Holder::None << true << "10\t" + KitAdapter + "\t{slave}\t-\t-\t-\tpermission denied"
        << false;
}

void CliPortsTest::ports()
{
    QFETCH(QString, ports);
    QFETCH(bool, plugged);
    QFETCH(Holder, holder);
    QFETCH(bool, asNobody);
    QFETCH(QString, line);
    QFETCH(bool, numberWritten);
    std::optional<AsNobody> nobody;
    if (asNobody) {
        nobody.emplace(QStringLiteral(KITUPDATER_CLI_PATH));
        if (!nobody->whyNot().isEmpty())
            QSKIP(qPrintable(nobody->whyNot()));
    }
    writeIni("[Ports]\n" + QString::fromUtf8(takenPorts(1, 9)) + ports);
    const QByteArray iniBefore = readIni();
    if (plugged)
        QVERIFY(QFile::link(m_kit->slavePath(), kitLink()));
    QSerialPort qtProgram(m_kit->slavePath());
    if (holder == Holder::QtProgram)
        QVERIFY(qtProgram.open(QIODevice::ReadWrite));
    QFile window(m_kit->slavePath());
    if (holder == Holder::Flock || holder == Holder::SharedFlock) {
        QVERIFY(window.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        QCOMPARE(::flock(window.handle(), (holder == Holder::Flock ? LOCK_EX : LOCK_SH) | LOCK_NB), 0);
    }

    const CliRun result = nobody ? run({QStringLiteral("ports")}, nobody->command()) : run({QStringLiteral("ports")});

    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(withPaths(line)), qPrintable(result.out.join('\n')));
    QVERIFY2(result.out.contains(QStringLiteral("9\t-\tnot connected\t-\t-\t-\tmissing")),
             qPrintable(result.out.join('\n')));
    QCOMPARE(readIni().contains(withPaths(QStringLiteral("\n10={link}")).toUtf8()), numberWritten);
    if (asNobody)
        QCOMPARE(readIni(), iniBefore);
    QVERIFY(m_kit->commandBytes().isEmpty()); // nothing was sent
}

void CliPortsTest::portsAsJson()
{
    writeIni("[Ports]\n" + QString::fromUtf8(takenPorts(1, 9)));
    QVERIFY(QFile::link(m_kit->slavePath(), kitLink()));

    const CliRun result = run({QStringLiteral("--json"), QStringLiteral("ports")});

    QCOMPARE(result.exitCode, 0);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(result.out.join('\n').toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(document.isArray());
    QJsonObject kit;
    for (const QJsonValue &port : document.array()) {
        if (port[QLatin1String("number")] == 10)
            kit = port.toObject();
    }
    const QJsonObject expected{{"number", 10},
                               {"device", m_kit->slavePath()},
                               {"by_id", KitAdapter},
                               {"vendor_id", QJsonValue()},
                               {"product_id", QJsonValue()},
                               {"serial", QJsonValue()},
                               {"manufacturer", QJsonValue()},
                               {"access", "ok"}};
    QCOMPARE(kit, expected);
    QCOMPARE(document.array().at(8).toObject().value(QLatin1String("device")), QJsonValue()); // 9: not connected
}

void CliPortsTest::mapAndUnmap_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("portsBefore");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("portsAfter");   // as the file holds them
    QTest::addColumn<QString>("errHas");
    QTest::addColumn<bool>("unwritable");      // $XDG_CONFIG_HOME where a file stands: nothing can be written

    QTest::newRow("map a by-id link") << QStringList{"map", "7", "{link}"} << "3=/dev/ttyUSB3\n" << 0
                                      << "3=/dev/ttyUSB3\n7={link}\n" << "" << false;
    QTest::newRow("map 07 replaces 7") << QStringList{"map", "07", "/dev/ttyACM0"} << "07=/dev/ttyUSB7\n" << 0
                                       << "7=/dev/ttyACM0\n" << "" << false;
    QTest::newRow("unmap 7 removes 07") << QStringList{"unmap", "7"} << "07=/dev/ttyUSB7\n3=/dev/ttyUSB3\n" << 0
                                        << "3=/dev/ttyUSB3\n" << "" << false;
    QTest::newRow("unmap a number not mapped") << QStringList{"unmap", "5"} << "3=/dev/ttyUSB3\n" << 0
                                               << "3=/dev/ttyUSB3\n" << "" << false;
    QTest::newRow("usage: number 21") << QStringList{"map", "21", "/dev/ttyUSB0"} << "3=/dev/ttyUSB3\n" << 2
                                      << "3=/dev/ttyUSB3\n" << "21" << false;
    QTest::newRow("usage: number 0") << QStringList{"unmap", "0"} << "3=/dev/ttyUSB3\n" << 2 << "3=/dev/ttyUSB3\n"
                                     << "0" << false;
    QTest::newRow("usage: no number") << QStringList{"map", "COM3", "/dev/ttyUSB0"} << "3=/dev/ttyUSB3\n" << 2
                                      << "3=/dev/ttyUSB3\n" << "COM3" << false;
    QTest::newRow("usage: no device path") << QStringList{"map", "3", "ttyUSB0"} << "3=/dev/ttyUSB3\n" << 2
                                           << "3=/dev/ttyUSB3\n" << "ttyUSB0" << false;
    // COM ports are Windows' names; here they are neither a path nor a port.
    QTest::newRow("usage: COM5 is no device on Linux") << QStringList{"map", "3", "COM5"} << "3=/dev/ttyUSB3\n" << 2
                                                       << "3=/dev/ttyUSB3\n"
                                                       << "DEVICE is a device path such as /dev/ttyUSB0, not 'COM5'"
                                                       << false;
    QTest::newRow("usage: map without DEVICE") << QStringList{"map", "3"} << "3=/dev/ttyUSB3\n" << 2
                                               << "3=/dev/ttyUSB3\n" << "map" << false;
    QTest::newRow("settings cannot be written") << QStringList{"map", "7", "{link}"} << "3=/dev/ttyUSB3\n" << 1
                                                << "3=/dev/ttyUSB3\n" << "cannot write" << true;
}

void CliPortsTest::mapAndUnmap()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, portsBefore);
    QFETCH(int, exitCode);
    QFETCH(QString, portsAfter);
    QFETCH(QString, errHas);
    QFETCH(bool, unwritable);
    writeIni("[Settings]\nCom=3\n\n[Ports]\n" + portsBefore);
    if (unwritable) {
        m_configHome = m_config->filePath(QStringLiteral("a-file"));
        QFile blocker(m_configHome);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }

    const CliRun result = run(arguments);

    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(errHas), qPrintable(result.err));
    const QString ini = QString::fromUtf8(readIni());
    const QString ports = ini.section(QLatin1String("[Ports]\n"), 1).section(QLatin1String("\n["), 0, 0);
    QCOMPARE(ports.trimmed(), withPaths(portsAfter).trimmed());
    QVERIFY(ini.contains(QLatin1String("[Settings]\nCom=3\n"))); // the rest of the file stays
}

// A name with the byte 0xFF, which no UTF-8 text holds: {raw} in the
// arguments stands for it, passed by a shell since a QString cannot carry it.
void CliPortsTest::namesThatAreNotUtf8_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errHas");

    QTest::newRow("map 6 to it") << QStringList{"map", "6", "{raw}"} << 2 << "DEVICE \"{config}/kit\uFFFD\" is not valid UTF-8";
    QTest::newRow("--port it") << QStringList{"--port", "{raw}", "version"} << 2
                               << "--port \"{config}/kit\uFFFD\" is not valid UTF-8";
    QTest::newRow("a by-id link named so") << QStringList{"ports"} << 0
                                           << "usb-Kit\uFFFD: the name is not valid UTF-8, so the adapter cannot be opened by it";
}
void CliPortsTest::namesThatAreNotUtf8()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, errHas);
    writeIni(QStringLiteral("[Ports]\n3=/dev/ttyUSB3\n"));
    const QByteArray iniBefore = readIni();
    const QByteArray rawName = QFile::encodeName(m_config->path()) + "/kit\xff";
    QCOMPARE(::symlink(QFile::encodeName(m_kit->slavePath()).constData(), rawName.constData()), 0);
    const QByteArray rawLink = QFile::encodeName(m_byId->path()) + "/usb-Kit\xff";
    QCOMPARE(::symlink(QFile::encodeName(m_kit->slavePath()).constData(), rawLink.constData()), 0);
    QString script = QStringLiteral("exec \"$0\"");
    for (int i = 0; i < arguments.size(); ++i)
        script += arguments.at(i) == QLatin1String("{raw}") ? QStringLiteral(" \"$(printf '%s/kit\\377' \"$CONFIG\")\"")
                                                             : QStringLiteral(" \"$%1\"").arg(i + 1);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    env.insert(QStringLiteral("KITUPDATER_SERIAL_BY_ID"), m_byId->path());
    env.insert(QStringLiteral("CONFIG"), m_config->path());

    const CliRun result = runCli(QStringList{QStringLiteral("sh"), QStringLiteral("-c"), script,
                                             QStringLiteral(KITUPDATER_CLI_PATH)} + arguments, env);

    ::unlink(rawName.constData()); // QTemporaryDir cannot remove them by their decoded names
    ::unlink(rawLink.constData());
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(withPaths(errHas)), qPrintable(result.err));
    if (exitCode != 0)
        QCOMPARE(readIni(), iniBefore);
    else
        QVERIFY2(!result.out.join('\n').contains(QStringLiteral("usb-Kit")), qPrintable(result.out.join('\n')));
    QVERIFY(m_kit->commandBytes().isEmpty());
}

QTEST_GUILESS_MAIN(CliPortsTest)
#include "tst_cli_ports.moc"
