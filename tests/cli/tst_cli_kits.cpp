// kitupdater-cli with several kits, signals, the station and machine-readable
// output: separate processes against simulated kits on real pseudo-terminals.
#include "AsNobody.h"
#include "CliProcess.h"
#include "ExpectedTexts.h"
#include "HexWriter.h"
#include "KitFrames.h"
#include "KitSimulator.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <sys/file.h>
#include <thread>
#include <memory>
#include <optional>
#include <vector>

using namespace Expected;

namespace {

// Words 1 to 20, value 0x1100 * w.
QByteArray twentyWords()
{
    QMap<quint16, quint16> words;
    for (int w = 1; w <= 20; ++w)
        words.insert(quint16(w), quint16(0x1100 * w));
    return HexWriter::words(words);
}

Frames firstWords(int count)
{
    Frames frames;
    for (int w = 1; w <= count; ++w)
        frames.append({quint16(w), quint16(0x1100 * w)});
    return frames;
}

bool canBeOpened(const QString &device)
{
    QSerialPort other(device);
    return other.open(QIODevice::ReadWrite);
}

} // namespace

class CliKitsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void severalKitsAtOnce_data();
    void severalKitsAtOnce();
    void silentKitOutweighsARefusedFile();
    void stopSignals_data();
    void stopSignals();
    void station();
    void stationUpdatesADeviceOnce_data();
    void stationUpdatesADeviceOnce();
    void stationFolderReplacedByARename();
    void stationOverFoldersComingAndGoing();
    void stationEnds_data();
    void stationEnds();
    void findTheKit_data();
    void findTheKit();
    void machineReadable_data();
    void machineReadable();
    void closedOutputDoesNotStopTheUpdate();
    void latencyHint_data();
    void latencyHint();

private:
    KitSimulator &addKit(const KitSimConfig &config = {});
    QStringList command(const QStringList &arguments) const;
    QProcessEnvironment environment() const;
    CliRun run(const QStringList &arguments) { return runCli(command(arguments), environment()); }
    QList<QJsonObject> history() const;
    void plugIn(const QString &name, const KitSimulator &kit);
    void startStation(QProcess &process, const QStringList &options = {}, const QString &byId = {});
    QStringList stopStation(QProcess &process);

    std::unique_ptr<QTemporaryDir> m_home; // config, state and the HEX file
    std::unique_ptr<QTemporaryDir> m_byId;
    std::vector<std::unique_ptr<KitSimulator>> m_kits;
    QString m_file;
};

void CliKitsTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    m_byId = std::make_unique<QTemporaryDir>();
    m_file = m_home->filePath(QStringLiteral("twenty.hex"));
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(twentyWords());
}

void CliKitsTest::cleanup() { m_kits.clear(); }

KitSimulator &CliKitsTest::addKit(const KitSimConfig &config)
{
    m_kits.push_back(std::make_unique<KitSimulator>(config));
    m_kits.back()->start();
    return *m_kits.back();
}

QStringList CliKitsTest::command(const QStringList &arguments) const
{
    return QStringList{QStringLiteral(KITUPDATER_CLI_PATH)} + arguments;
}

QProcessEnvironment CliKitsTest::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_home->filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("KITUPDATER_SERIAL_BY_ID"), m_byId->path());
    return env;
}

QList<QJsonObject> CliKitsTest::history() const
{
    QFile file(m_home->filePath(QStringLiteral("state/KitUpdater/history.jsonl")));
    QList<QJsonObject> lines;
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd())
            lines << QJsonDocument::fromJson(file.readLine()).object();
    }
    return lines;
}

void CliKitsTest::plugIn(const QString &name, const KitSimulator &kit)
{
    QVERIFY(QFile::link(kit.slavePath(), m_byId->filePath(name)));
}

// Each kit gets the frames of a one-kit update and its own ending; the worst
// ending decides the exit status, and a table ends the run.
void CliKitsTest::severalKitsAtOnce_data()
{
    QTest::addColumn<int>("kits"); // a good kit, one that falls silent, one that hangs up
    QTest::newRow("two kits") << 2;
    QTest::newRow("three kits") << 3;
}
void CliKitsTest::severalKitsAtOnce()
{
    QFETCH(int, kits);
    KitSimConfig silent;
    silent.silentAfterFrames = 4;
    KitSimConfig hangsUp;
    hangsUp.hangUpAfterFrames = 3;
    KitSimulator &good = addKit();
    KitSimulator &quiet = addKit(silent);
    KitSimulator &gone = addKit(hangsUp);
    QStringList arguments{"--port", good.slavePath(), "--port", quiet.slavePath()};
    if (kits == 3)
        arguments << "--port" << gone.slavePath();

    const CliRun result = run(arguments + QStringList{"update", m_file});

    QCOMPARE(result.exitCode, 1);
    QCOMPARE(framesOf(good), firstWords(20));
    QCOMPARE(framesOf(quiet), firstWords(5));
    for (const KitSimulator *kit : {&good, &quiet})
        QCOMPARE(kit->commandBytes(), QByteArray("\x46\x3F"));
    QVERIFY(result.out.contains(good.slavePath() + QStringLiteral(": ") + DoneStatus));
    QVERIFY(result.out.contains(quiet.slavePath() + QStringLiteral(": ") + FailedStatus));
    const QStringList table = result.out.mid(result.out.size() - 1 - kits);
    QVERIFY2(table.at(0).startsWith(QStringLiteral("port")) && table.at(1).contains(QStringLiteral(" done "))
                 && table.at(2).contains(QStringLiteral(" timeout ")),
             qPrintable(table.join('\n')));
    if (kits == 2) {
        QCOMPARE(history().size(), 2);
        QVERIFY(gone.commandBytes().isEmpty());
        return;
    }
    QCOMPARE(framesOf(gone), firstWords(3));
    QVERIFY2(result.err.contains(gone.slavePath() + QStringLiteral(": ") + gone.slavePath()
                                 + QStringLiteral(": the device went away")),
             qPrintable(result.err));
    QVERIFY2(table.at(3).contains(QStringLiteral(" failed ")), qPrintable(table.join('\n')));

    const QList<QJsonObject> lines = history();
    QCOMPARE(lines.size(), 3);
    const QStringList keys{"device", "ending",  "file",   "kit_version", "median_answer_wait_ms", "port",
                           "program", "seconds", "serial", "sha256",      "time",                  "words_sent"};
    QCOMPARE(lines.at(0).keys(), keys);
    QCOMPARE(lines.at(0).value("ending").toString(), QStringLiteral("done"));
    QCOMPARE(lines.at(0).value("words_sent").toInt(), 20);
    QCOMPARE(lines.at(1).value("ending").toString(), QStringLiteral("timeout"));
    QCOMPARE(lines.at(1).value("words_sent").toInt(), 4);
    QCOMPARE(lines.at(2).value("ending").toString(), QStringLiteral("failed"));
    QCOMPARE(lines.at(0).value("file").toString(), m_file);
    QCOMPARE(lines.at(0).value("program").toString(), QStringLiteral("kitupdater-cli"));
    QCOMPARE(lines.at(0).value("kit_version").toString(), QStringLiteral("KIT-FW Ver1.00  "));
    QCOMPARE(lines.at(0).value("sha256").toString().size(), 64);
    QVERIFY(QDateTime::fromString(lines.at(0).value("time").toString(), Qt::ISODateWithMs).isValid());
}

// The worst ending decides the exit status: a kit that never answered (1)
// counts worse than a file refused before anything was written (3).
void CliKitsTest::silentKitOutweighsARefusedFile()
{
    KitSimConfig silent;
    silent.versionAnswer.clear();
    KitSimulator &answering = addKit();
    KitSimulator &quiet = addKit(silent);
    const QString refused = m_home->filePath(QStringLiteral("bad-checksum.hex"));
    QFile file(refused);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":0400020011223344E1\n:00000001FF\n");
    file.close();

    const CliRun result = run({"--port", answering.slavePath(), "--port", quiet.slavePath(), "update", refused});

    QCOMPARE(result.exitCode, 1);
    QVERIFY(answering.frames().isEmpty());
    QCOMPARE(history().value(0).value("ending").toString(), QStringLiteral("rejected"));
    QCOMPARE(history().value(1).value("ending").toString(), QStringLiteral("timeout"));
}

// Any of the three stop signals ends an update the same orderly way.
void CliKitsTest::stopSignals_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("afterFrames"); // 0: during the pause after 0x46
    QTest::newRow("SIGINT during the transfer") << int(SIGINT) << 3;
    QTest::newRow("SIGTERM during the transfer") << int(SIGTERM) << 3;
    QTest::newRow("SIGHUP during the transfer") << int(SIGHUP) << 3;
    QTest::newRow("SIGINT during the pause after 0x46") << int(SIGINT) << 0;
}
void CliKitsTest::stopSignals()
{
    QFETCH(int, signalNumber);
    QFETCH(int, afterFrames);
    KitSimConfig slow;
    slow.frameDelayUs = 50000;
    KitSimulator &kit = addKit(slow);
    QProcess process;
    process.setProcessEnvironment(environment());
    const QStringList cmd = command({"--port", kit.slavePath(), "update", m_file});
    process.start(cmd.first(), cmd.mid(1));
    QVERIFY(process.waitForStarted());
    // Watched closely: the pause after 0x46 lasts only 100 ms.
    QElapsedTimer waited;
    waited.start();
    while (afterFrames == 0 ? kit.commandBytes().isEmpty() : kit.frames().size() < afterFrames) {
        QVERIFY(waited.elapsed() < 10000);
        QThread::usleep(200);
    }
    const int framesAtSignal = int(kit.frames().size());

    ::kill(pid_t(process.processId()), signalNumber);

    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signalNumber);
    QVERIFY(kit.frames().size() <= framesAtSignal + 1); // at most the frame already on its way
    QCOMPARE(kit.commandBytes(), afterFrames == 0 ? QByteArray("\x46") : QByteArray("\x46\x3F"));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("the update was stopped")) && err.contains(QStringLiteral("must be updated again")),
             qPrintable(err));
    if (afterFrames > 0)
        QVERIFY2(err.contains(QStringLiteral("of 20 words")), qPrintable(err));
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).contains(FailedStatus));
    QVERIFY(canBeOpened(kit.slavePath()));
    QCOMPARE(history().value(0).value("ending").toString(), QStringLiteral("stopped"));
}

// Adapters plugged in before and while the station runs get the firmware
// once each, and again after being unplugged and plugged in.
void CliKitsTest::station()
{
    KitSimulator &first = addKit();
    KitSimulator &second = addKit();
    plugIn(QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port0"), first);
    QProcess process;
    startStation(process);
    QTRY_COMPARE_WITH_TIMEOUT(first.frames().size(), 20, 10000);

    plugIn(QStringLiteral("usb-Kit_Maker_Kit_One_SN0002-if00-port0"), second);
    QTRY_COMPARE_WITH_TIMEOUT(second.frames().size(), 20, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 2, 5000);
    QTest::qWait(300);
    QCOMPARE(first.frames().size(), 20); // not again while it stays plugged in
    QVERIFY(QFile::remove(m_byId->filePath(QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port0"))));
    QTest::qWait(300);
    plugIn(QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port0"), first);
    QTRY_COMPARE_WITH_TIMEOUT(first.frames().size(), 40, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 3, 5000);

    const QStringList out = stopStation(process);

    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(out.filter(QStringLiteral(": done after ")).size(), 3);
    QCOMPARE(out.filter(QRegularExpression(QStringLiteral("^\\S+ +- +KIT-FW Ver1.00 +done "))).size(), 3);
}

void CliKitsTest::startStation(QProcess &process, const QStringList &options, const QString &byId)
{
    QProcessEnvironment env = environment();
    if (!byId.isEmpty())
        env.insert(QStringLiteral("KITUPDATER_SERIAL_BY_ID"), byId);
    process.setProcessEnvironment(env);
    const QStringList cmd = command(options + QStringList{"station", m_file});
    process.start(cmd.first(), cmd.mid(1));
    QVERIFY(process.waitForStarted());
}

// Ctrl+C, then stdout line by line.
QStringList CliKitsTest::stopStation(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGINT);
    if (!process.waitForFinished(5000))
        return {QStringLiteral("the station did not end")};
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// One device seen twice (two links to it, or its link gone and back while it
// is being updated) gets one run: no second run that finds the port held and
// fails a kit written correctly.
void CliKitsTest::stationUpdatesADeviceOnce_data()
{
    QTest::addColumn<bool>("flicker"); // false: a second link to the device
    QTest::newRow("two links to one device") << false;
    QTest::newRow("its link goes and comes back during the update") << true;
}
void CliKitsTest::stationUpdatesADeviceOnce()
{
    QFETCH(bool, flicker);
    KitSimConfig slow;
    slow.frameDelayUs = 50000; // the update lasts a second: the link comes back well before its end
    KitSimulator &kit = addKit(slow);
    const QString name = QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port0");
    plugIn(name, kit);
    QProcess process;
    startStation(process);
    QTRY_VERIFY_WITH_TIMEOUT(kit.frames().size() >= 3, 10000);

    if (flicker) {
        QVERIFY(QFile::remove(m_byId->filePath(name)));
        QTest::qWait(200);
        plugIn(name, kit);
    } else {
        plugIn(QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port1"), kit);
    }
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 10000);
    QTest::qWait(300);
    const QStringList out = stopStation(process);

    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(framesOf(kit), firstWords(20));
    QCOMPARE(kit.commandBytes(), QByteArray("\x46\x3F"));
    QCOMPARE(history().size(), 1);
    QCOMPARE(out.filter(QStringLiteral(": done after ")).size(), 1);
    QVERIFY2(out.filter(QStringLiteral("failed")).isEmpty(), qPrintable(out.join('\n')));
}

// udev may put a new by-id folder in place of the old one; the station
// watches the path, not the folder it first found there.
void CliKitsTest::stationFolderReplacedByARename()
{
    const QString byId = m_byId->filePath(QStringLiteral("by-id"));
    const QString next = m_byId->filePath(QStringLiteral("by-id.new"));
    QVERIFY(QDir().mkpath(byId));
    QVERIFY(QDir().mkpath(next));
    KitSimulator &first = addKit();
    KitSimulator &second = addKit();
    QProcess process;
    startStation(process, {}, byId);
    QByteArray out; // read as it comes: QTRY_VERIFY looks at its condition once more at the end
    QTRY_VERIFY((out += process.readAllStandardOutput()).contains("Waiting for kits"));

    QVERIFY(QFile::link(first.slavePath(), next + QStringLiteral("/usb-Kit_Maker_Kit_One_SN0001-if00-port0")));
    QVERIFY(QDir().rename(byId, m_byId->filePath(QStringLiteral("by-id.old"))));
    QVERIFY(QDir().rename(next, byId));
    QTRY_COMPARE_WITH_TIMEOUT(first.frames().size(), 20, 10000);
    // And the folder now there is watched too.
    QVERIFY(QFile::link(second.slavePath(), byId + QStringLiteral("/usb-Kit_Maker_Kit_One_SN0002-if00-port0")));
    QTRY_COMPARE_WITH_TIMEOUT(second.frames().size(), 20, 10000);
    stopStation(process);
    QCOMPARE(process.exitCode(), 0);
}

// With the last adapter udev removes the link, the by-id folder and its
// parent one after the other, and makes them again with the next plug. Each
// removal is seen half done now and then; every plug still gets its update.
void CliKitsTest::stationOverFoldersComingAndGoing()
{
    const QString serial = m_byId->filePath(QStringLiteral("serial"));
    const QString byId = serial + QStringLiteral("/by-id");
    const QString link = byId + QStringLiteral("/usb-Kit_Maker_Kit_One_SN0001-if00-port0");
    KitSimulator &kit = addKit();
    QProcess process;
    startStation(process, {}, byId);
    QByteArray out;
    QTRY_VERIFY((out += process.readAllStandardOutput()).contains("Waiting for kits"));

    constexpr int Plugs = 16;
    for (int plug = 1; plug <= Plugs; ++plug) {
        QVERIFY(QDir().mkpath(byId));
        QVERIFY(QFile::link(kit.slavePath(), link));
        QTRY_COMPARE_WITH_TIMEOUT(history().size(), plug, 10000);
        QVERIFY(QDir(serial).removeRecursively()); // the link, then each folder
        QTest::qWait(100);
    }
    stopStation(process);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(kit.frames().size(), Plugs * 20);
}

// What the station ends with: the table, a line saying no kit was updated, or
// (--json) a result object like update's.
void CliKitsTest::stationEnds_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("aKit");
    QTest::addColumn<QString>("last"); // the last line of stdout
    QTest::newRow("Ctrl+C before any kit") << QStringList{} << false << "no kit was updated";
    QTest::newRow("Ctrl+C before any kit, --json") << QStringList{"--json"} << false
                                                   << R"({"event":"result","exit_status":0,"kits":[]})";
    QTest::newRow("one kit, --json") << QStringList{"--json"} << true << "result 1 kit done";
}
void CliKitsTest::stationEnds()
{
    QFETCH(QStringList, options);
    QFETCH(bool, aKit);
    QFETCH(QString, last);
    QProcess process;
    if (aKit)
        plugIn(QStringLiteral("usb-Kit_Maker_Kit_One_SN0001-if00-port0"), addKit());
    startStation(process, options);
    if (aKit)
        QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 10000);
    else
        QTest::qWait(300);

    const QStringList out = stopStation(process);

    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!out.isEmpty());
    if (last != QLatin1String("result 1 kit done")) {
        QCOMPARE(out.last(), last);
        return;
    }
    const QJsonObject result = QJsonDocument::fromJson(out.last().toUtf8()).object();
    QCOMPARE(result.value("event").toString(), QStringLiteral("result"));
    QCOMPARE(result.value("exit_status").toInt(-1), 0);
    QCOMPARE(result.value("kits").toArray().size(), 1);
    QCOMPARE(result.value("kits").toArray().at(0).toObject().value("ending").toString(), QStringLiteral("done"));
}

// Each adapter is one of: "kit" (answers 0x3F with its 16 bytes, then quiet),
// "mute" (answers nothing), "streams" (sends all the time, as a GPS does),
// "more at once" (16 bytes and more in one go), "more later" (16 bytes, then
// more 50 ms later), "held" (a kit another program holds with a lock),
// "nobody's" (a kit, searched for by a user who may not open it).
void CliKitsTest::findTheKit_data()
{
    QTest::addColumn<QStringList>("adapters");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errHas");
    QTest::newRow("no adapter") << QStringList{} << 1 << "no USB serial adapter is plugged in";
    QTest::newRow("one kit among two adapters") << QStringList{"kit", "mute"} << 0 << "";
    QTest::newRow("no kit answers") << QStringList{"mute"} << 1 << "no kit answered on";
    QTest::newRow("two kits answer") << QStringList{"kit", "kit"} << 2 << "say which with --port";
    QTest::newRow("a streaming device beside the kit")
        << QStringList{"streams", "kit"} << 0 << "(adapter 0) left out: it sends without being asked";
    QTest::newRow("a streaming device alone") << QStringList{"streams"} << 1 << "it sends without being asked";
    QTest::newRow("more than 16 bytes at once, beside the kit")
        << QStringList{"more at once", "kit"} << 0 << "(adapter 0) left out: it ";
    QTest::newRow("more bytes after its 16, beside the kit")
        << QStringList{"kit", "more later"} << 0 << "(adapter 1) left out: it goes on sending after its 16-byte answer";
    QTest::newRow("a kit held by another program, beside the kit")
        << QStringList{"held", "kit"} << 0 << "(adapter 0) left out: {adapter 0}: another program holds the port (locked)";
    QTest::newRow("a kit this user may not open")
        << QStringList{"nobody's"} << 1 << "(adapter 0) left out: {adapter 0}: Permission denied\n"
                                           "kitupdater-cli: you may not open {adapter 0}";
}
void CliKitsTest::findTheKit()
{
    QFETCH(QStringList, adapters);
    QFETCH(int, exitCode);
    QFETCH(QString, errHas);
    std::optional<AsNobody> nobody;
    if (adapters.contains(QStringLiteral("nobody's"))) {
        nobody.emplace(QStringLiteral(KITUPDATER_CLI_PATH));
        if (!nobody->whyNot().isEmpty())
            QSKIP(qPrintable(nobody->whyNot()));
    }
    std::atomic<bool> streaming{true};
    std::vector<std::thread> streams;
    QFile holder;
    for (int i = 0; i < adapters.size(); ++i) {
        KitSimConfig config;
        if (adapters[i] == QLatin1String("mute"))
            config.versionAnswer.clear();
        if (adapters[i] == QLatin1String("more at once"))
            config.versionAnswer = QByteArrayLiteral("KIT-FW Ver1.00  \r\nready\r\n").toStdString();
        if (adapters[i] == QLatin1String("more later")) {
            config.versionAnswer = QByteArrayLiteral("KIT-FW Ver1.00  \r\nready\r\n").toStdString();
            config.versionPieceBytes = 16;
            config.versionPieceGapUs = 50000;
        }
        KitSimulator &kit = addKit(config);
        const QString link = QStringLiteral("usb-Maker_Adapter_SN%1-if00-port0").arg(i);
        plugIn(link, kit);
        errHas.replace(QStringLiteral("(adapter %1)").arg(i), QStringLiteral("(%1)").arg(m_byId->filePath(link)));
        errHas.replace(QStringLiteral("{adapter %1}").arg(i), m_byId->filePath(link));
        if (adapters[i] == QLatin1String("streams"))
            streams.emplace_back([&kit, &streaming] {
                while (streaming) {
                    kit.sendUnasked("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            });
        if (adapters[i] == QLatin1String("held")) {
            holder.setFileName(kit.slavePath());
            QVERIFY(holder.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
            QCOMPARE(::flock(holder.handle(), LOCK_EX | LOCK_NB), 0);
        }
    }

    QStringList cmd = command({"--port", "auto", "-q", "version"});
    if (nobody) {
        QVERIFY(QFile::setPermissions(m_byId->path(), QFile::permissions(m_byId->path()) | QFile::ReadOther
                                                          | QFile::ExeOther));
        cmd = nobody->command() + cmd.mid(1);
    }

    const CliRun result = runCli(cmd, environment());
    streaming = false;
    for (std::thread &stream : streams)
        stream.join();

    QVERIFY2(result.exitCode == exitCode, qPrintable(result.err));
    QCOMPARE(result.out, exitCode == 0 ? QStringList{"KIT-FW Ver1.00  "} : QStringList());
    QVERIFY2(result.err.contains(errHas), qPrintable(result.err));
    for (const auto &kit : m_kits) {
        QVERIFY(kit->frames().isEmpty()); // the search writes nothing into a kit
        // The probe's query, and the version query itself on the kit found.
        QVERIFY2(QByteArray(kit->commandBytes()).replace("\x46\x3F", "").isEmpty(),
                 kit->commandBytes().toHex().constData());
    }
}

void CliKitsTest::machineReadable_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("shape"); // what the output must hold
    QTest::newRow("--version") << QStringList{"--version"} << "kitupdater-cli 1.0.0";
    QTest::newRow("-q version") << QStringList{"-q", "--port", "{kit}", "version"} << "KIT-FW Ver1.00  ";
    QTest::newRow("--json check") << QStringList{"--json", "check", "{file}"}
                                  << "file words_to_send=20 words_outside_window=0 sha256";
    QTest::newRow("--json version") << QStringList{"--json", "--port", "{kit}", "version"} << "[kit_version ending=done";
    QTest::newRow("--json update") << QStringList{"--json", "--port", "{kit}", "update", "{file}"} << "lines result";
    QTest::newRow("--help names the program") << QStringList{"--help"} << "Usage: kitupdater-cli [options]";
    QTest::newRow("-v traces the line") << QStringList{"-v", "--port", "{kit}", "version"} << "trace";
}
void CliKitsTest::machineReadable()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, shape);
    const KitSimulator &kit = addKit();
    for (QString &a : arguments)
        a.replace(QStringLiteral("{kit}"), kit.slavePath()).replace(QStringLiteral("{file}"), m_file);

    const CliRun result = run(arguments);

    QCOMPARE(result.exitCode, 0);
    const QString out = result.out.join('\n');
    if (shape.startsWith(QStringLiteral("file "))) {
        const QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(o.value("file").toString(), m_file);
        QCOMPARE(o.value("words_to_send").toInt(), 20);
        QCOMPARE(o.value("words_outside_window").toInt(), 0);
        QCOMPARE(o.value("sha256").toString().size(), 64);
    } else if (shape.startsWith('[')) {
        const QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).array().at(0).toObject();
        QCOMPARE(o.value("kit_version").toString(), QStringLiteral("KIT-FW Ver1.00  "));
        QCOMPARE(o.value("ending").toString(), QStringLiteral("done"));
    } else if (shape == QLatin1String("lines result")) {
        for (const QString &line : result.out)
            QVERIFY2(QJsonDocument::fromJson(line.toUtf8()).isObject(), qPrintable(line));
        const QJsonObject last = QJsonDocument::fromJson(result.out.last().toUtf8()).object();
        QCOMPARE(last.value("event").toString(), QStringLiteral("result"));
        QCOMPARE(last.value("exit_status").toInt(), 0);
        QCOMPARE(last.value("kits").toArray().at(0).toObject().value("words_sent").toInt(), 20);
    } else if (shape == QLatin1String("trace")) {
        QVERIFY2(result.err.contains(QStringLiteral(" sent 46\n")) && result.err.contains(QStringLiteral(" sent 3f\n")),
                 qPrintable(result.err));
    } else {
        QVERIFY2(out.startsWith(shape), qPrintable(out));
        if (shape.startsWith(QStringLiteral("KIT")))
            QCOMPARE(result.out.size(), 1);
    }
}

// A reader that goes away (a pipe into head) does not stop the update midway.
void CliKitsTest::closedOutputDoesNotStopTheUpdate()
{
    KitSimConfig slow;
    slow.frameDelayUs = 5000;
    const KitSimulator &kit = addKit(slow);
    QProcess shell;
    shell.setProcessEnvironment(environment());
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("\"$0\" --port \"$1\" update \"$2\" | head -1"),
                                       QStringLiteral(KITUPDATER_CLI_PATH), kit.slavePath(), m_file});
    QVERIFY(shell.waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 5000);
    QCOMPARE(framesOf(kit), firstWords(20));
    QCOMPARE(history().at(0).value("ending").toString(), QStringLiteral("done"));
}

// A kit whose answers come 16 ms late, as through a USB adapter's latency
// timer, gets a line that says what that cost and how to shorten it; a kit
// that answers at once gets none. The JSON result and the history keep the
// wait, and history shows it.
void CliKitsTest::latencyHint_data()
{
    QTest::addColumn<int>("delayUs");
    QTest::addColumn<bool>("hint");
    QTest::newRow("kit answering at once") << 0 << false;
    QTest::newRow("kit answering after 16 ms") << 16000 << true;
}
void CliKitsTest::latencyHint()
{
    QFETCH(int, delayUs);
    QFETCH(bool, hint);
    KitSimConfig config;
    config.frameDelayUs = delayUs;
    const KitSimulator &kit = addKit(config);

    const CliRun update = run({"--json", "--port", kit.slavePath(), "update", m_file});

    QCOMPARE(update.exitCode, 0);
    const QJsonObject result = QJsonDocument::fromJson(update.out.last().toUtf8()).object();
    const double waitMs = result.value("kits").toArray().at(0).toObject().value("median_answer_wait_ms").toDouble();
    QVERIFY2(hint ? waitMs >= 16 && waitMs < 30 : waitMs > 0 && waitMs < 8, qPrintable(QString::number(waitMs)));
    const QRegularExpression latencyLine(
        QStringLiteral("^kitupdater-cli: the kit answered each word after \\d+\\.\\d ms \\(median\\), 0\\.[34] s of "
                       "waiting for 20 words: the USB serial adapter's latency timer holds its answers\\. Set the "
                       "driver's latency_timer to 1 ms: echo 1 \\| sudo tee /sys/bus/usb-serial/devices/ttyUSB\\*/"
                       "latency_timer$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(latencyLine.match(update.err).hasMatch() == hint, qPrintable(update.err));
    QCOMPARE(update.err.contains(QStringLiteral("latency")), hint);
    QCOMPARE(history().at(0).value("median_answer_wait_ms").toDouble(), waitMs);

    const CliRun shown = run({"history", "-n", "1"});
    QVERIFY2(shown.out.value(0).contains(QStringLiteral(" s  answer %1 ms  ").arg(waitMs, 0, 'f', 1)),
             qPrintable(shown.out.value(0)));
}

QTEST_GUILESS_MAIN(CliKitsTest)
#include "tst_cli_kits.moc"
