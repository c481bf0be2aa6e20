#include "Console.h"

#include "CliPlatform.h"

#include <QJsonDocument>
#include <cstdio>

namespace {
constexpr int BarWidth = 40;
// ANSI: clear the line, and go up to the start of a line above.
const char *const ClearLine = "\x1b[2K";
QString up(int lines) { return QStringLiteral("\x1b[%1F").arg(lines); }
} // namespace

Console::Console(Mode mode) : m_mode(mode), m_out(stdout), m_err(stderr), m_terminal(stderrIsTerminal()) {}

void Console::status(const QString &line)
{
    if (m_mode == Mode::Human)
        write(m_out, line + QLatin1Char('\n'));
}

void Console::result(const QString &line)
{
    if (m_mode != Mode::Json)
        write(m_out, line + QLatin1Char('\n'));
}

void Console::note(const QString &text)
{
    if (m_mode != Mode::Quiet)
        write(m_err, QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")) + QLatin1Char('\n'));
}

void Console::error(const QString &text) { write(m_err, text + QLatin1Char('\n')); }

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

// Lines go above the bars: the bars are taken away, the line written, and
// the bars drawn again below it.
void Console::write(QTextStream &stream, const QString &text)
{
    eraseBars();
    stream << text;
    stream.flush();
    drawBars();
}

int Console::addBar(const QString &label)
{
    m_bars.append({label, -1, QString()});
    m_labelWidth = qMax(m_labelWidth, int(label.size()));
    return int(m_bars.size()) - 1;
}

void Console::setBar(int bar, int done, int total)
{
    if (!m_terminal || m_mode != Mode::Human || total <= 0)
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
    if (!m_terminal || m_mode != Mode::Human || m_bars[bar].percent < 0)
        return;
    m_bars[bar].percent = 100;
    m_bars[bar].tail = QStringLiteral("  %1 s").arg(seconds, 0, 'f', 1);
    eraseBars();
    drawBars();
}

QString Console::barLine(int bar) const
{
    const Bar &b = m_bars.at(bar);
    const int filled = b.percent * BarWidth / 100;
    QString line;
    if (m_bars.size() > 1)
        line += b.label.leftJustified(m_labelWidth) + QLatin1Char(' ');
    return line + QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char('.'))
           + QStringLiteral("] %1%").arg(b.percent, 3) + b.tail;
}

void Console::eraseBars()
{
    if (!m_barsDrawn)
        return;
    m_err << up(int(m_bars.size())) << "\x1b[J";
    m_err.flush();
    m_barsDrawn = false;
}

void Console::drawBars()
{
    if (!m_terminal || m_mode != Mode::Human)
        return;
    bool any = false;
    for (int i = 0; i < m_bars.size(); ++i) {
        if (m_bars.at(i).percent < 0) {
            m_err << ClearLine << '\n'; // keeps the block's height fixed
            continue;
        }
        m_err << ClearLine << barLine(i) << '\n';
        any = true;
    }
    m_err.flush();
    m_barsDrawn = true;
    if (!any) { // nothing to show yet: take the empty lines back
        eraseBars();
    }
}
