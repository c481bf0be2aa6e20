#include "UpdateHistory.h"

#include "AppendFile.h"
#include "StateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace {

const QString MedianAnswerWaitKey = QStringLiteral("median_answer_wait_ms");

QString stateFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    return xdg.isEmpty() ? defaultStateFolder() : xdg;
}

UpdateRecord fromJson(const QJsonObject &o)
{
    UpdateRecord r;
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    r.program = o.value(QStringLiteral("program")).toString();
    r.port = o.value(QStringLiteral("port")).toString();
    r.device = o.value(QStringLiteral("device")).toString();
    r.serial = o.value(QStringLiteral("serial")).toString();
    r.kitVersion = o.value(QStringLiteral("kit_version")).toString();
    r.file = o.value(QStringLiteral("file")).toString();
    r.sha256 = o.value(QStringLiteral("sha256")).toString();
    r.wordsSent = o.value(QStringLiteral("words_sent")).toInt();
    r.ending = o.value(QStringLiteral("ending")).toString();
    r.seconds = o.value(QStringLiteral("seconds")).toDouble();
    if (const QJsonValue wait = o.value(MedianAnswerWaitKey); wait.isDouble())
        r.medianAnswerWaitMs = wait.toDouble();
    return r;
}

// A line is a record when it is a JSON object with a time and an ending: a
// line cut short is no JSON, and other JSON ({}) would show as an empty row.
std::optional<UpdateRecord> recordOf(const QByteArray &line)
{
    const QJsonDocument json = QJsonDocument::fromJson(line);
    if (!json.isObject())
        return std::nullopt;
    UpdateRecord record = fromJson(json.object());
    if (!record.time.isValid() || record.ending.isEmpty())
        return std::nullopt;
    return record;
}

bool isBlank(const QByteArray &line) { return line.trimmed().isEmpty(); }

// A record is a few hundred bytes; a longer line is none, and is not kept
// whole while it is passed over.
constexpr qsizetype LongestLine = 1 << 20;
constexpr qint64 BlockSize = 1 << 16;

struct FoundLine {
    QByteArray text; // without its newline; empty for a line that was too long
    qint64 start = 0;
    bool tooLong = false;
};

// The file's lines from the last to the first, read in blocks from the end.
class LinesFromEnd {
public:
    explicit LinesFromEnd(QFile &file) : m_file(file), m_bufferStart(file.size()) {}

    // The line before the last one given; nothing at the start of the file or
    // on a read error (then error() says why).
    std::optional<FoundLine> previous()
    {
        for (;;) {
            const qsizetype newline = m_searched > 0 ? m_buffer.lastIndexOf('\n', m_searched - 1) : -1;
            if (newline >= 0)
                return take(newline + 1);
            if (m_bufferStart == 0) {
                if (m_atStart)
                    return std::nullopt;
                m_atStart = true;
                return take(0);
            }
            if (!readBlockBefore())
                return std::nullopt;
        }
    }

    QString error() const { return m_error; }

private:
    FoundLine take(qsizetype from)
    {
        FoundLine line{m_buffer.mid(from), m_bufferStart + from, m_tooLong};
        if (line.tooLong)
            line.text.clear();
        m_buffer.truncate(qMax<qsizetype>(from - 1, 0));
        m_searched = m_buffer.size();
        m_tooLong = false;
        return line;
    }

    bool readBlockBefore()
    {
        const qint64 from = qMax<qint64>(0, m_bufferStart - BlockSize);
        QByteArray block(m_bufferStart - from, Qt::Uninitialized);
        if (!m_file.seek(from) || m_file.read(block.data(), block.size()) != block.size()) {
            m_error = QStringLiteral("cannot read %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        m_searched = block.size(); // the rest of the buffer holds no newline
        if (m_buffer.size() > LongestLine) {
            m_tooLong = true;
            m_buffer.clear();
        }
        m_buffer.prepend(block);
        m_bufferStart = from;
        return true;
    }

    QFile &m_file;
    qint64 m_bufferStart;  // where the unread part's first byte lies in the file
    QByteArray m_buffer;   // the file from m_bufferStart up to the lines already given
    qsizetype m_searched = 0; // newlines are looked for in m_buffer below this
    bool m_tooLong = false;
    bool m_atStart = false;
    QString m_error;
};

// Reads forward from the oldest of the starts and gives the records that
// begin there. Returns why the file could not be read, or the empty text.
QString giveRecords(QFile &file, const std::vector<qint64> &startsNewestFirst,
                    const std::function<void(const UpdateRecord &)> &each, int *skippedLines)
{
    auto next = startsNewestFirst.rbegin();
    qint64 at = *next;
    if (!file.seek(at))
        return QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
    while (next != startsNewestFirst.rend()) {
        const QByteArray line = file.readLine(LongestLine + 1);
        if (line.isEmpty())
            return file.atEnd() ? QStringLiteral("%1 became shorter while it was read").arg(file.fileName())
                                : QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        const bool wanted = at == *next;
        at += line.size();
        if (!wanted)
            continue;
        ++next;
        // The file may have been replaced since its end was read.
        if (const std::optional<UpdateRecord> record = recordOf(line))
            each(*record);
        else
            ++*skippedLines;
    }
    return QString();
}

} // namespace

namespace UpdateHistory {

QString filePath() { return stateFolder() + QStringLiteral("/KitUpdater/history.jsonl"); }

QJsonObject toJson(const UpdateRecord &r)
{
    QJsonObject json{
        // With its offset from UTC, so that lines from machines in other zones compare.
        {QStringLiteral("time"), r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {QStringLiteral("program"), r.program},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("device"), r.device},
        {QStringLiteral("serial"), r.serial},
        {QStringLiteral("kit_version"), r.kitVersion},
        {QStringLiteral("file"), r.file},
        {QStringLiteral("sha256"), r.sha256},
        {QStringLiteral("words_sent"), r.wordsSent},
        {QStringLiteral("ending"), r.ending},
        {QStringLiteral("seconds"), qRound(r.seconds * 1000) / 1000.0},
    };
    if (r.medianAnswerWaitMs)
        json.insert(MedianAnswerWaitKey, qRound(*r.medianAnswerWaitMs * 1000) / 1000.0);
    return json;
}

QString append(const UpdateRecord &record)
{
    const QString path = filePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    return AppendFile::appendLine(path, QJsonDocument(toJson(record)).toJson(QJsonDocument::Compact) + '\n');
}

// Two passes: from the end, where the last `count` records start; then each
// of them again, oldest first.
Reading readLast(int count, const std::function<void(const UpdateRecord &)> &each)
{
    Reading reading;
    QFile file(filePath());
    if (!file.exists())
        return reading;
    if (!file.open(QIODevice::ReadOnly)) {
        reading.error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return reading;
    }
    std::vector<qint64> starts; // newest first
    LinesFromEnd lines(file);
    while (int(starts.size()) < count) {
        const std::optional<FoundLine> line = lines.previous();
        if (!line)
            break;
        if (isBlank(line->text) && !line->tooLong)
            continue;
        if (!line->tooLong && recordOf(line->text))
            starts.push_back(line->start);
        else
            ++reading.skippedLines;
    }
    reading.error = lines.error();
    if (reading.error.isEmpty() && !starts.empty())
        reading.error = giveRecords(file, starts, each, &reading.skippedLines);
    return reading;
}

} // namespace UpdateHistory
