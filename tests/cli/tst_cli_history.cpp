// `kitupdater-cli history` as a user runs it, over a real history file.
#include "CliProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

QByteArray record(int port, const QByteArray &file = "/home/student/blink.hex")
{
    return "{\"device\":\"/dev/ttyUSB0\",\"ending\":\"done\",\"file\":\"" + file + "\",\"kit_version\":\"KIT-FW Ver3.10 b\","
           "\"port\":\"" + QByteArray::number(port) + "\",\"program\":\"kitupdater-cli\",\"seconds\":1.5,"
           "\"serial\":\"A5\",\"sha256\":\"\",\"time\":\"2026-12-07T10:00:0" + QByteArray::number(port % 10)
           + ".000+09:00\",\"words_sent\":66}\n";
}

QByteArray records(int from, int to)
{
    QByteArray out;
    for (int port = from; port <= to; ++port)
        out += record(port);
    return out;
}

QString row(int port, const QString &file = QStringLiteral("/home/student/blink.hex"))
{
    return QStringLiteral("2026-12-07T10:00:0%1+09:00  %2  KIT-FW Ver3.10 b  done         66 words  1.5 s  %3")
        .arg(port % 10)
        .arg(port)
        .arg(file);
}

} // namespace

class CliHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void history_data();
    void history();
    void jsonList();

private:
    CliRun run(const QStringList &arguments, const QByteArray &history);

    std::unique_ptr<QTemporaryDir> m_state;
};

CliRun CliHistoryTest::run(const QStringList &arguments, const QByteArray &history)
{
    m_state = std::make_unique<QTemporaryDir>();
    [&] {
        QVERIFY(QDir().mkpath(m_state->filePath(QStringLiteral("KitUpdater"))));
        QFile file(m_state->filePath(QStringLiteral("KitUpdater/history.jsonl")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(history);
    }();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_state->path());
    return runCli(QStringList{QStringLiteral(KITUPDATER_CLI_PATH)} + arguments, env);
}

void CliHistoryTest::history_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("history");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("err"); // null: empty

    QStringList lastTen;
    for (int port = 3; port <= 12; ++port)
        lastTen << row(port);
    QTest::newRow("-n 10 of 12") << QStringList{"history", "-n", "10"} << records(1, 12) << lastTen << QString();
    // A file name can carry an escape sequence and a line break; they are
    // shown escaped, the row stays one line.
    QTest::newRow("escape sequence and line break in the file name")
        << QStringList{"history", "-n", "1"} << record(4, "/tmp/\\u001b[2J\\u001b]0;owned\\u0007a\\nb\\\\c.hex")
        << QStringList{row(4, QStringLiteral("/tmp/\\x1b[2J\\x1b]0;owned\\x07a\\nb\\\\c.hex"))} << QString();
    // A crash cut record 2 short; record 3 was written on a line of its own.
    QTest::newRow("not records: a cut line, {}")
        << QStringList{"history", "-n", "5"} << record(1) + record(2).left(40) + "\n{}\n" + record(3)
        << QStringList{row(1), row(3)}
        << "kitupdater-cli: 2 lines among these entries in %1 are no update record and were skipped\n";
}

void CliHistoryTest::history()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, history);
    QFETCH(QStringList, rows);
    QFETCH(QString, err);

    const CliRun result = run(arguments, history);

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, rows);
    QCOMPARE(result.err, err.isNull() ? QString() : err.arg(m_state->filePath("KitUpdater/history.jsonl")));
}

// The JSON list holds the records whole, oldest first, and is one document.
void CliHistoryTest::jsonList()
{
    const CliRun result = run({"--json", "history", "-n", "10"}, records(1, 12) + "{}\n");

    QCOMPARE(result.exitCode, 0);
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(result.out.join(QLatin1Char('\n')).toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray list = json.array();
    QCOMPARE(list.size(), 10);
    QCOMPARE(list.first().toObject().value("port").toString(), QStringLiteral("3"));
    QCOMPARE(list.last().toObject(), QJsonDocument::fromJson(record(12)).object());
    QVERIFY2(result.err.contains(QStringLiteral("1 line among these entries")), qPrintable(result.err));
}

QTEST_MAIN(CliHistoryTest)
#include "tst_cli_history.moc"
