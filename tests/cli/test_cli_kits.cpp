// kitupdater-cli with several kits, signals, the station and machine-readable
// output: separate processes against simulated kits on real pseudo-terminals.
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
#include <csignal>
#include <memory>
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

    void threeKitsAtOnce();
    void stopSignals_data();
    void stopSignals();
    void station();
    void findTheKit_data();
    void findTheKit();
    void machineReadable_data();
    void machineReadable();
    void closedOutputDoesNotStopTheUpdate();

private:
    KitSimulator &addKit(const KitSimConfig &config = {});
    QStringList command(const QStringList &arguments) const;
    QProcessEnvironment environment() const;
    CliRun run(const QStringList &arguments) { return runCli(command(arguments), environment()); }
    QList<QJsonObject> history() const;
    void plugIn(const QString &name, const KitSimulator &kit);

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
// ending decides the exit status.
void CliKitsTest::threeKitsAtOnce()
{
    KitSimConfig silent;
    silent.silentAfterFrames = 4;
    KitSimConfig hangsUp;
    hangsUp.hangUpAfterFrames = 3;
    KitSimulator &good = addKit();
    KitSimulator &quiet = addKit(silent);
    KitSimulator &gone = addKit(hangsUp);

    const CliRun result = run({"--port", good.slavePath(), "--port", quiet.slavePath(), "--port", gone.slavePath(),
                               "update", m_file});

    QCOMPARE(result.exitCode, 1);
    QCOMPARE(framesOf(good), firstWords(20));
    QCOMPARE(framesOf(quiet), firstWords(5));
    QCOMPARE(framesOf(gone), firstWords(3));
    for (const KitSimulator *kit : {&good, &quiet, &gone})
        QCOMPARE(kit->commandBytes(), QByteArray("\x46\x3F"));
    QVERIFY(result.out.contains(good.slavePath() + QStringLiteral(": ") + DoneStatus));
    QVERIFY(result.out.contains(quiet.slavePath() + QStringLiteral(": ") + FailedStatus));
    QVERIFY2(result.err.contains(gone.slavePath() + QStringLiteral(": ") + gone.slavePath()
                                 + QStringLiteral(": the device went away")),
             qPrintable(result.err));
    const QStringList table = result.out.mid(result.out.size() - 4);
    QVERIFY2(table.at(0).startsWith(QStringLiteral("port")) && table.at(1).contains(QStringLiteral(" done "))
                 && table.at(2).contains(QStringLiteral(" timeout ")) && table.at(3).contains(QStringLiteral(" failed ")),
             qPrintable(table.join('\n')));

    const QList<QJsonObject> lines = history();
    QCOMPARE(lines.size(), 3);
    const QStringList keys{"device", "ending", "file", "kit_version", "port", "program", "seconds", "serial",
                           "sha256", "time", "words_sent"};
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
    process.setProcessEnvironment(environment());
    const QStringList cmd = command({"station", m_file});
    process.start(cmd.first(), cmd.mid(1));
    QVERIFY(process.waitForStarted());
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

    ::kill(pid_t(process.processId()), SIGINT);

    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const QStringList out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(out.filter(QStringLiteral(": done after ")).size(), 3);
    QCOMPARE(out.filter(QRegularExpression(QStringLiteral("^\\S+ +- +KIT-FW Ver1.00 +done "))).size(), 3);
}

void CliKitsTest::findTheKit_data()
{
    QTest::addColumn<int>("adapters");
    QTest::addColumn<int>("answering");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no adapter") << 0 << 0 << 1;
    QTest::newRow("one kit among two adapters") << 2 << 1 << 0;
    QTest::newRow("no kit answers") << 1 << 0 << 1;
    QTest::newRow("two kits answer") << 2 << 2 << 2;
}
void CliKitsTest::findTheKit()
{
    QFETCH(int, adapters);
    QFETCH(int, answering);
    QFETCH(int, exitCode);
    KitSimConfig mute;
    mute.versionAnswer.clear();
    for (int i = 0; i < adapters; ++i)
        plugIn(QStringLiteral("usb-Maker_Adapter_SN%1-if00-port0").arg(i), addKit(i < answering ? KitSimConfig{} : mute));

    const CliRun result = run({"--port", "auto", "-q", "version"});

    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, exitCode == 0 ? QStringList{"KIT-FW Ver1.00  "} : QStringList());
    for (const auto &kit : m_kits)
        QVERIFY(kit->frames().isEmpty()); // the search writes nothing into a kit
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

QTEST_GUILESS_MAIN(CliKitsTest)
#include "test_cli_kits.moc"
