#include "KitRun.h"

#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "KitProfile.h"
#include "MSComm100.h"
#include "QtSerialLine.h"

#include <QJsonObject>

namespace {
// A kit answers a word in well under a millisecond (at 9600 bit/s the frame
// and the answer take 6.3 ms on the line); a USB adapter's latency timer
// holds each answer for up to its setting, 16 ms unless changed.
constexpr std::chrono::milliseconds SlowAnswer(8);
} // namespace

KitRun::KitRun(const QString &label, const PortChoice &port, Console &console, bool prefixed, QObject *parent)
    : QObject(parent), m_label(label), m_port(port), m_console(console), m_prefixed(prefixed),
      m_comm(std::make_unique<MSComm100>(std::make_unique<QtSerialLine>())),
      m_link(std::make_unique<KitLink>(*m_comm, StandardKit, static_cast<LinkReports &>(*this)))
{
}

KitRun::~KitRun() = default;

void KitRun::startVersionQuery()
{
    m_events = false; // a version query gives one JSON document at its end
    m_link->startVersionQuery(m_port);
}

void KitRun::startUpdate(FirmwareLoader loadFirmware)
{
    m_events = true;
    m_bar = m_console.addBar(m_label);
    m_link->startUpdate(m_port, std::move(loadFirmware));
}

void KitRun::cancel() { m_link->cancel(); }

bool KitRun::running() const { return m_link->busy(); }

void KitRun::event(const QJsonObject &object)
{
    if (m_events)
        m_console.jsonLine(object);
}

QString KitRun::prefixed(const QString &text) const { return m_prefixed ? m_label + QStringLiteral(": ") + text : text; }

void KitRun::statusText(const QString &text)
{
    if (text.isEmpty())
        return;
    m_console.status(prefixed(text));
    event({{"event", "status"}, {"port", m_label}, {"text", text}});
}

void KitRun::failureDetail(const QString &reason)
{
    if (m_console.json() && m_events)
        event({{"event", "detail"}, {"port", m_label}, {"text", reason}});
    else
        m_console.error(prefixed(reason));
}

void KitRun::versionRead(const QString &version)
{
    m_console.result(prefixed(version));
    event({{"event", "version"}, {"port", m_label}, {"text", version}});
}

void KitRun::wordWritten(const WordProgress &progress)
{
    if (m_bar >= 0)
        m_console.setBar(m_bar, progress.sent, progress.toSend);
}

void KitRun::progressReset() {}

void KitRun::message(LinkMessage message)
{
    m_console.note(prefixed(messageText(message)));
    event({{"event", "message"}, {"port", m_label}, {"text", messageText(message)}});
}

void KitRun::finished(const LinkResult &result)
{
    m_result = result;
    m_link->closePort();
    if (result.ending == LinkResult::Ending::PortFailed) {
        const QString advice = accessAdvice(result.devicePath);
        if (!advice.isEmpty())
            m_console.programError(advice);
    }
    if (m_bar >= 0 && result.ending == LinkResult::Ending::Done)
        m_console.finishBar(m_bar, result.seconds);
    if (result.update && result.medianAnswerWait >= SlowAnswer)
        noteSlowAnswers(result);
    emit ended();
}

void KitRun::noteSlowAnswers(const LinkResult &result)
{
    const double medianMs = double(result.medianAnswerWait.count()) / 1000.0;
    m_console.programNote(prefixed(CliTexts::slowAnswers(medianMs, medianMs * result.wordsSent / 1000.0,
                                                         result.wordsSent, latencyAdvice(result.devicePath))));
}
