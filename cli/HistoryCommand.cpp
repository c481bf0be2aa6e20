#include "HistoryCommand.h"

#include "Console.h"
#include "ExitStatus.h"
#include "UpdateHistory.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Output is handed to the console in pieces of about this size: a history of
// any length is printed without being held whole, and without a write per line.
constexpr qsizetype PieceSize = 1 << 16;

// A text from the history as it may reach a terminal: a file name can hold
// escape sequences, which would drive the terminal, and line breaks, which
// would split its row. Such characters, and the backslash, are written as
// escapes (\x1b, \n, \u202e, \\); everything else stays as it is. Where the
// backslash separates folders (Windows, whose names hold no control
// characters) it stays too: C:\Users\kit, not C:\\Users\\kit.
QString printable(const QString &text)
{
    const bool backslashSeparates = QDir::separator() == QLatin1Char('\\');
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        switch (c) {
        case '\\': out += backslashSeparates ? QLatin1String("\\") : QLatin1String("\\\\"); continue;
        case '\n': out += QLatin1String("\\n"); continue;
        case '\r': out += QLatin1String("\\r"); continue;
        case '\t': out += QLatin1String("\\t"); continue;
        }
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            out += c <= 0xFF ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
            break;
        default:
            out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

// The kit's answer time where the record knows it (older ones do not).
QString answerWait(const UpdateRecord &r)
{
    return r.medianAnswerWaitMs ? QStringLiteral("answer %1 ms  ").arg(*r.medianAnswerWaitMs, 0, 'f', 1) : QString();
}

QString row(const UpdateRecord &r)
{
    const QString version = r.kitVersion.trimmed();
    return QStringLiteral("%1  %2  %3  %4  %5 words  %6 s  %7%8")
        .arg(r.time.toString(Qt::ISODate), printable(r.port), version.isEmpty() ? QStringLiteral("-") : printable(version),
             printable(r.ending).leftJustified(8))
        .arg(r.wordsSent, 5)
        .arg(r.seconds, 0, 'f', 1)
        .arg(answerWait(r), printable(r.file));
}

// The records as rows of text, or as one indented JSON list written element
// by element, exactly as the list would be written whole.
class HistoryOutput {
public:
    explicit HistoryOutput(Console &console) : m_console(console) {}

    void add(const UpdateRecord &record)
    {
        if (m_console.json())
            addJson(record);
        else
            addRow(record);
        if (m_piece.size() >= PieceSize)
            flush();
    }

    // Ends the JSON list; nothing when reading failed before the first record.
    void finish(bool failed)
    {
        if (m_console.json() && (m_records > 0 || !failed))
            m_piece += m_records > 0 ? QStringLiteral("\n]\n") : QStringLiteral("[\n]\n");
        flush();
    }

private:
    void addRow(const UpdateRecord &record)
    {
        if (!m_piece.isEmpty())
            m_piece += QLatin1Char('\n');
        m_piece += row(record);
        ++m_records;
    }

    void addJson(const UpdateRecord &record)
    {
        QString element = QString::fromUtf8(QJsonDocument(UpdateHistory::toJson(record)).toJson(QJsonDocument::Indented));
        element.chop(1); // its newline; the list puts its own separator
        element.replace(QLatin1Char('\n'), QLatin1String("\n    "));
        m_piece += (m_records == 0 ? QStringLiteral("[\n    ") : QStringLiteral(",\n    ")) + element;
        ++m_records;
    }

    void flush()
    {
        if (m_piece.isEmpty())
            return;
        if (m_console.json())
            m_console.jsonText(m_piece);
        else
            m_console.result(m_piece);
        m_piece.clear();
    }

    Console &m_console;
    QString m_piece;
    int m_records = 0;
};

// Said on stderr, so that the rows and the JSON list keep their shape.
QString skippedNote(int lines)
{
    return QStringLiteral("%1 %2 among these entries in %3 %4 no update record and %5 skipped")
        .arg(QString::number(lines), lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
             printable(UpdateHistory::filePath()), lines == 1 ? QStringLiteral("is") : QStringLiteral("are"),
             lines == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

} // namespace

int showHistory(Console &console, int count)
{
    HistoryOutput output(console);
    const UpdateHistory::Reading reading =
        UpdateHistory::readLast(count, [&output](const UpdateRecord &record) { output.add(record); });
    output.finish(!reading.error.isEmpty());
    if (!reading.error.isEmpty()) {
        console.programError(reading.error);
        return DeviceFailure;
    }
    if (reading.skippedLines > 0)
        console.programNote(skippedNote(reading.skippedLines));
    return Success;
}
