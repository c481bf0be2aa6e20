#include "KitProbe.h"

#include "KitProfile.h"
#include "MSComm100.h"
#include "QtSerialLine.h"
#include "CliTexts.h"

KitProbe::KitProbe(const QString &label, const PortChoice &port, QObject *parent)
    : QObject(parent), m_label(label), m_port(port),
      m_comm(std::make_unique<MSComm100>(std::make_unique<QtSerialLine>())),
      m_link(std::make_unique<KitLink>(*m_comm, StandardKit, static_cast<LinkReports &>(*this)))
{
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &KitProbe::onQuietWindowOver);
    connect(m_comm.get(), &MSComm100::OnComm, this, &KitProbe::onArrival);
}

KitProbe::~KitProbe() = default;

void KitProbe::start()
{
    m_phase = Phase::Listening;
    openToListen();
}

// The same line options as the query's, so that what is heard is what the
// query would hear.
void KitProbe::openToListen()
{
    try {
        configureForKit(*m_comm, m_port);
        m_comm->setPortOpen(true);
        m_comm->setInBufferCount(0); // what came before the port was ours is not its doing
    } catch (const SerialError &error) {
        return end(Verdict::Unopenable, error.reason());
    }
    m_quiet.start(QuietWindow);
}

// Before the query, any byte is unasked. (After the answer, what came is
// looked at when the quiet window ends.) A notice may come late for bytes
// that were discarded already: only bytes still waiting count.
void KitProbe::onArrival()
{
    if (m_phase == Phase::Listening && m_comm->InBufferCount() > 0)
        end(Verdict::NotAKit, CliTexts::ProbeSendsUnasked);
}

void KitProbe::onQuietWindowOver()
{
    if (m_phase == Phase::Listening) {
        m_phase = Phase::Querying;
        m_link->startVersionQuery(m_port); // closes the port and opens it afresh
    } else if (m_phase == Phase::Trailing) {
        m_comm->InBufferCount() == 0 ? end(Verdict::Kit) : end(Verdict::NotAKit, CliTexts::ProbeGoesOnSending);
    }
}

void KitProbe::finished(const LinkResult &result)
{
    if (m_phase != Phase::Querying)
        return; // cancelled: the verdict is given already
    switch (result.ending) {
    case LinkResult::Ending::Done:
        break;
    case LinkResult::Ending::PortFailed:
        return end(Verdict::Unopenable, result.detail);
    case LinkResult::Ending::Stopped:
        return end(Verdict::Stopped);
    default:
        return end(Verdict::NoAnswer, result.detail);
    }
    if (result.versionAnswerBytes > StandardKit.versionLength)
        return end(Verdict::NotAKit, CliTexts::probeAnswerTooLong(result.versionAnswerBytes));
    // The query leaves the port open: whatever comes now came unasked.
    m_phase = Phase::Trailing;
    m_quiet.start(QuietWindow);
}

void KitProbe::cancel()
{
    if (m_phase == Phase::Idle)
        return;
    const bool querying = m_phase == Phase::Querying;
    end(Verdict::Stopped);
    if (querying)
        m_link->cancel();
}

void KitProbe::end(Verdict verdict, const QString &reason)
{
    if (m_phase == Phase::Idle)
        return;
    m_phase = Phase::Idle;
    m_quiet.stop();
    m_verdict = verdict;
    m_reason = reason;
    if (!m_link->busy())
        m_link->closePort();
    emit ended();
}
