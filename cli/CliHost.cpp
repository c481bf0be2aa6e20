#include "CliHost.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int BarWidth = 40;
}

CliHost::CliHost() : m_out(stdout), m_err(stderr), m_progressOnTerminal(isatty(STDERR_FILENO) != 0) {}

void CliHost::msgCmt(const QString &cmt1)
{
    if (cmt1.isEmpty())
        return;
    endProgressLine();
    m_out << cmt1 << Qt::endl;
}

void CliHost::msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos)
{
    if (!m_progressOnTerminal || pmode.compare(QLatin1String("on"), Qt::CaseInsensitive) != 0 || pmax <= pmin
        || ppos < pmin || ppos >= pmax)
        return;
    const int percent = static_cast<int>(100 * (ppos - pmin) / (pmax - pmin));
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    const int filled = percent * BarWidth / 100;
    m_err << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(BarWidth - filled, QLatin1Char('.')) << "] "
          << qSetFieldWidth(3) << percent << qSetFieldWidth(0) << '%';
    m_err.flush();
    m_progressShown = true;
}

void CliHost::showMessage(const QString &text)
{
    endProgressLine();
    m_err << QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")) << Qt::endl;
}

void CliHost::showFirmwareVersion(const QString &version)
{
    m_version = version;
    endProgressLine();
    m_out << version << Qt::endl;
}

void CliHost::processEvents() { QCoreApplication::processEvents(); }

void CliHost::showFailureDetail(const QString &reason)
{
    if (reason.isEmpty())
        return;
    endProgressLine();
    m_err << reason << Qt::endl;
}

void CliHost::endProgressLine()
{
    if (!m_progressShown)
        return;
    m_err << Qt::endl;
    m_progressShown = false;
    m_lastPercent = -1;
}
