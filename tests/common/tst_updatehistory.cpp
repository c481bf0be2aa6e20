// The update history over a real file: appending after a line cut short,
// reading the last records back, and several programs appending at once.
// Run as `tst_updatehistory --append-records PORT N`, it is one of those
// programs: it appends N records for port PORT and ends.
#include "UpdateHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

UpdateRecord recordFor(const QString &port)
{
    UpdateRecord record;
    record.time = QDateTime::fromString(QStringLiteral("2026-12-07T10:00:00.000+09:00"), Qt::ISODateWithMs);
    record.program = QStringLiteral("kitupdater-cli");
    record.port = port;
    record.ending = QStringLiteral("done");
    record.file = QStringLiteral("/home/student/blink.hex");
    return record;
}

// A history line as the programs write it (its fields that matter here).
QByteArray line(const QByteArray &port, const QByteArray &time = "2026-12-07T10:00:00.000+09:00")
{
    return "{\"ending\":\"done\",\"port\":\"" + port + "\",\"time\":\"" + time + "\"}\n";
}

QByteArray line(int port) { return line(QByteArray::number(port)); }

QByteArray lines(int from, int to)
{
    QByteArray out;
    for (int port = from; port <= to; ++port)
        out += line(port);
    return out;
}

int appendRecords(const QString &port, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString error = UpdateHistory::append(recordFor(port));
        if (!error.isEmpty()) {
            qWarning("%s", qPrintable(error));
            return 1;
        }
    }
    return 0;
}

} // namespace

class TestUpdateHistory : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->path()));
        QVERIFY(QDir().mkpath(QFileInfo(historyPath()).absolutePath()));
    }

    // A crash or a full disk leaves a last line without its newline: the next
    // record starts on a line of its own, and only the cut line is lost.
    void appendStartsAFreshLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("kept"); // what the new line follows
        QTest::addColumn<int>("skipped");
        QTest::newRow("whole lines") << line(1) << line(1) << 0;
        QTest::newRow("last line cut short") << line(1) + "{\"ending\":\"do" << line(1) + "{\"ending\":\"do\n" << 1;
    }

    void appendStartsAFreshLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, kept);
        QFETCH(int, skipped);
        writeHistory(before);

        QCOMPARE(UpdateHistory::append(recordFor(QStringLiteral("9"))), QString());

        const QByteArray after = historyBytes();
        QVERIFY2(after.startsWith(kept) && after.mid(kept.size()).count('\n') == 1, after.constData());
        QStringList ports;
        QCOMPARE(readLast(10, &ports).skippedLines, skipped);
        QCOMPARE(ports, (QStringList{"1", "9"}));
    }

    void readLast_data()
    {
        QTest::addColumn<QByteArray>("history");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("ports"); // oldest first
        QTest::addColumn<int>("skipped");

        QTest::newRow("-n 10 of 12") << lines(1, 12) << 10
                                     << QStringList{"3", "4", "5", "6", "7", "8", "9", "10", "11", "12"} << 0;
        QTest::newRow("last line without its newline")
            << lines(1, 2) + line(3).chopped(1) << 2 << QStringList{"2", "3"} << 0;
        QTest::newRow("not records among them: {}, [], no ending, a cut line, text; blank lines are no loss")
            << line(1) + "{}\n" + line(2) + "[1,2]\n\n  \n{\"port\":\"6\",\"time\":\"2026-12-07T10:00:00Z\"}\n"
                   + "{\"ending\":\"do\n" + "garbage\n" + line(3)
            << 3 << QStringList{"1", "2", "3"} << 5;
        QTest::newRow("lines older than those shown are not read")
            << "garbage\n{}\n" + lines(1, 4) << 2 << QStringList{"3", "4"} << 0;
        QTest::newRow("a line of 2 MiB")
            << line(1) + QByteArray(2 << 20, 'x') + "\n" + line(2) << 5 << QStringList{"1", "2"} << 1;
        // The file is read in blocks of 64 KiB from its end. Lines of about 70
        // bytes cross their edges; lines of 64 bytes end exactly at them.
        QStringList all;
        QByteArray edgeLines;
        QStringList edgePorts;
        for (int port = 1; port <= 5000; ++port) {
            all << QString::number(port);
            edgePorts << QString::number(port).rightJustified(6, QLatin1Char('0'));
            edgeLines += line(edgePorts.last().toLatin1(), "2026-12-07T10:00:00Z");
        }
        QTest::newRow("5000 records across block edges") << lines(1, 5000) << 5000 << all << 0;
        QTest::newRow("5000 records ending at block edges") << edgeLines << 5000 << edgePorts << 0;
    }

    void readLast()
    {
        QFETCH(QByteArray, history);
        QFETCH(int, count);
        QFETCH(QStringList, ports);
        QFETCH(int, skipped);
        writeHistory(history);

        QStringList read;
        const UpdateHistory::Reading reading = readLast(count, &read);

        QCOMPARE(reading.error, QString());
        QCOMPARE(read, ports);
        QCOMPARE(reading.skippedLines, skipped);
    }

    // The kit's answer time joined the records later: a record keeps it when
    // it is known, and older records, which lack it, read as they always did.
    void medianAnswerWait_data()
    {
        QTest::addColumn<QByteArray>("history"); // empty: the record below, appended
        QTest::addColumn<bool>("known");
        QTest::addColumn<double>("waitMs");
        QTest::newRow("appended with it") << QByteArray() << true << 16.013;
        QTest::newRow("a record of an older version")
            << QByteArray("{\"device\":\"COM5\",\"ending\":\"done\",\"file\":\"C:\\\\kit\\\\blink.hex\","
                          "\"kit_version\":\"KIT-FW Ver1.00  \",\"port\":\"5\",\"program\":\"kitupdater\","
                          "\"seconds\":9.5,\"serial\":\"\",\"sha256\":\"\",\"time\":\"2026-12-07T10:00:00.000+09:00\","
                          "\"words_sent\":7967}\n")
            << false << 0.0;
    }

    void medianAnswerWait()
    {
        QFETCH(QByteArray, history);
        QFETCH(bool, known);
        QFETCH(double, waitMs);
        if (history.isEmpty()) {
            UpdateRecord record = recordFor(QStringLiteral("5"));
            record.medianAnswerWaitMs = waitMs;
            QCOMPARE(UpdateHistory::append(record), QString());
            QVERIFY2(historyBytes().contains("\"median_answer_wait_ms\":16.013"), historyBytes().constData());
        } else {
            writeHistory(history);
        }

        QList<UpdateRecord> read;
        UpdateHistory::readLast(1, [&read](const UpdateRecord &record) { read.append(record); });

        QCOMPARE(read.size(), 1);
        QCOMPARE(read.first().port, QStringLiteral("5"));
        QCOMPARE(read.first().medianAnswerWaitMs.has_value(), known);
        QCOMPARE(read.first().medianAnswerWaitMs.value_or(0.0), waitMs);
    }

    // Each record is one write() on a file opened for appending; written in
    // two, the lines of programs appending at the same time would mix.
    void programsAppendingAtOnceWriteWholeLines()
    {
        constexpr int Programs = 6;
        constexpr int RecordsEach = 300;
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int program = 1; program <= Programs; ++program) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(QCoreApplication::applicationFilePath(),
                                  {QStringLiteral("--append-records"), QString::number(program),
                                   QString::number(RecordsEach)});
        }
        for (auto &writer : writers) {
            QVERIFY(writer->waitForFinished(60000));
            QCOMPARE(writer->exitCode(), 0);
        }

        QStringList ports;
        const UpdateHistory::Reading reading = readLast(Programs * RecordsEach + 1, &ports);

        QCOMPARE(reading.skippedLines, 0);
        QCOMPARE(ports.size(), Programs * RecordsEach);
        for (int program = 1; program <= Programs; ++program)
            QCOMPARE(ports.count(QString::number(program)), RecordsEach);
    }

private:
    QString historyPath() const { return m_state->path() + QStringLiteral("/KitUpdater/history.jsonl"); }

    void writeHistory(const QByteArray &content)
    {
        QFile file(historyPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }

    QByteArray historyBytes() const
    {
        QFile file(historyPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static UpdateHistory::Reading readLast(int count, QStringList *ports)
    {
        return UpdateHistory::readLast(count, [ports](const UpdateRecord &record) { ports->append(record.port); });
    }

    std::unique_ptr<QTemporaryDir> m_state;
};

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--append-records") == 0)
        return appendRecords(QString::fromLatin1(argv[2]), QByteArray(argv[3]).toInt());
    QCoreApplication app(argc, argv);
    TestUpdateHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatehistory.moc"
