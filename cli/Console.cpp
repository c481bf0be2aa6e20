#include "Console.h"

#include "CliTexts.h"
#include "ExitStatus.h"

#include <QJsonDocument>

namespace {
constexpr int BarWidth = 40;
// ANSI: clear the line, and go up to the start of a line above.
const QString ClearLine = QStringLiteral("\x1b[2K");
QString up(int lines) { return QStringLiteral("\x1b[%1F").arg(lines); }
} // namespace

Console::Console(Mode mode) : m_mode(mode), m_out(stdout), m_err(stderr) {}

void Console::status(const QString &line)
{
    if (m_mode == Mode::Human)
        write(m_out, line + QLatin1Char('\n'));
}

void Console::result(const QString &line)
{
    if (m_mode == Mode::Human || m_mode == Mode::Quiet)
        write(m_out, line + QLatin1Char('\n'));
}

void Console::line(const QString &text) { write(m_out, text + QLatin1Char('\n')); }

void Console::note(const QString &text)
{
    if (m_mode == Mode::Human || m_mode == Mode::Json)
        write(m_err, QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")) + QLatin1Char('\n'));
}

void Console::error(const QString &text) { write(m_err, text + QLatin1Char('\n')); }

QString Console::fromProgram(const QString &text) { return CliTexts::Program + QStringLiteral(": ") + text; }

void Console::programError(const QString &text) { error(fromProgram(text)); }

int Console::usageError(const QString &text)
{
    programError(text + QLatin1Char('\n') + CliTexts::UsageHint);
    return UsageError;
}

void Console::programNote(const QString &text) { note(fromProgram(text)); }

void Console::jsonLine(const QJsonObject &object)
{
    if (m_mode == Mode::Json)
        write(m_out, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
}

void Console::jsonDocument(const QJsonDocument &document)
{
    if (m_mode == Mode::Json)
        write(m_out, QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
}

void Console::jsonText(const QString &text)
{
    if (m_mode == Mode::Json)
        write(m_out, text);
}

// Lines go above the bars: the bars are taken away, the line written, and
// the bars drawn again below it.
void Console::write(OutputStream &stream, const QString &text)
{
    eraseBars();
    stream.write(text);
    drawBars();
}

int Console::addBar(const QString &label)
{
    m_bars.insert(m_nextBar, {label, -1, QString()});
    return m_nextBar++;
}

void Console::setBar(int bar, int done, int total)
{
    if (total <= 0 || !m_bars.contains(bar) || !drawsBars())
        return;
    const int percent = int(qint64(100) * qBound(0, done, total) / total);
    if (percent == m_bars[bar].percent)
        return;
    m_bars[bar].percent = percent;
    eraseBars();
    drawBars();
}

void Console::finishBar(int bar, double seconds)
{
    if (!m_bars.contains(bar) || !drawsBars())
        return;
    m_bars[bar].percent = 100;
    m_bars[bar].tail = QStringLiteral("  %1 s").arg(seconds, 0, 'f', 1);
    eraseBars();
    drawBars();
}

void Console::removeBar(int bar)
{
    eraseBars();
    m_bars.remove(bar);
    drawBars();
}

QString Console::barLine(const Bar &bar) const
{
    int labelWidth = 0;
    for (const Bar &b : m_bars)
        labelWidth = qMax(labelWidth, int(b.label.size()));
    const int filled = bar.percent * BarWidth / 100;
    const QString label = m_bars.size() > 1 ? bar.label.leftJustified(labelWidth) + QLatin1Char(' ') : QString();
    return label + QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char('.'))
           + QStringLiteral("] %1%").arg(bar.percent, 3) + bar.tail;
}

void Console::eraseBars()
{
    if (m_barsDrawn == 0)
        return;
    m_err.write(up(m_barsDrawn) + QStringLiteral("\x1b[J"));
    m_barsDrawn = 0;
}

// Bars with nothing to show yet take no line.
void Console::drawBars()
{
    if (m_bars.isEmpty() || !drawsBars())
        return;
    QString lines;
    for (const Bar &bar : std::as_const(m_bars)) {
        if (bar.percent < 0)
            continue;
        lines += ClearLine + barLine(bar) + QLatin1Char('\n');
        ++m_barsDrawn;
    }
    if (!lines.isEmpty())
        m_err.write(lines);
}
