#include "KitLink.h"

#include "KitProfile.h"
#include "MSComm100.h"
#include "SerialLog.h"
#include "Texts.h"
#include "VersionText.h"

#include <algorithm>
#include <limits>
#include <new>

using namespace std::chrono_literals;

namespace {
// Words outside the write window cost no round trip; after this many of them
// in a row the exchange lets other events run before it goes on.
constexpr int WordsBetweenBreaks = 4096;

QString hexWord(quint32 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

int remainingMilliseconds(const QDeadlineTimer &deadline)
{
    const qint64 ns = deadline.remainingTimeNSecs();
    return int(qBound<qint64>(0, (ns + 999999) / 1000000, qint64(std::numeric_limits<int>::max())));
}
} // namespace

void configureForKit(MSComm100 &port, const PortChoice &choice)
{
    constexpr int BinaryInput = 1;
    constexpr int NoHandshaking = 0;
    constexpr int ReadEverything = 0;
    constexpr int NotifyEveryByte = 1; // so that no exchange has to poll
    port.setInputMode(BinaryInput);
    port.setHandshaking(NoHandshaking);
    port.setInputLen(ReadEverything);
    port.setRThreshold(NotifyEveryByte);
    if (!choice.lineSettings.isEmpty())
        port.setSettings(choice.lineSettings);
    port.setCommPort(choice.devicePath);
}

bool isSent(const KitProfile &profile, const HexWord &word) { return word.inKitMemory && profile.writes(word.address); }

int wordsToSend(const KitProfile &profile, const QVector<HexWord> &words)
{
    return int(std::count_if(words.begin(), words.end(), [&](const HexWord &w) { return isSent(profile, w); }));
}

KitLink::KitLink(MSComm100 &port, const KitProfile &profile, LinkReports &reports, QObject *parent)
    : QObject(parent), m_port(port), m_profile(profile), m_reports(reports)
{
    for (QTimer *timer : {&m_pause, &m_deadlineTimer, &m_continue}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_pause, &QTimer::timeout, this, &KitLink::sendVersionRequest);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &KitLink::onDeadline);
    connect(&m_continue, &QTimer::timeout, this, &KitLink::sendNextWords);
    connect(&m_port, &MSComm100::OnComm, this, &KitLink::onArrival);
    connect(&m_port, &MSComm100::lineFailed, this, &KitLink::onLineFailed);
}

KitLink::~KitLink() = default;

void KitLink::closePort() { m_port.setPortOpen(false); }

// ---- starting ----

bool KitLink::startVersionQuery(const PortChoice &port)
{
    if (busy())
        return false;
    begin(false, port);
    startQuery();
    return true;
}

bool KitLink::startUpdate(const PortChoice &port, FirmwareLoader loadFirmware)
{
    if (busy())
        return false;
    begin(true, port);
    m_loadFirmware = std::move(loadFirmware);
    openForUpdate();
    return true;
}

void KitLink::begin(bool update, const PortChoice &port)
{
    ++m_run;
    m_update = update;
    m_choice = port;
    m_kitVersion.clear();
    m_versionAnswerBytes = 0;
    m_words.clear();
    m_next = m_sent = m_toSend = 0;
    m_exchangeClock.start();
    m_transferClock.invalidate();
    m_state = State::Opening;
}

// Closed, binary, no flow control, everything read at once, arrivals
// notified, nothing old in the buffer, then the chosen speed and device.
void KitLink::initializePort()
{
    closePort();
    m_port.setInBufferCount(0);
    configureForKit(m_port, m_choice);
}

// The update opens the port once only to prove that it opens: the version
// query closes and opens it again.
void KitLink::openForUpdate()
{
    try {
        initializePort();
        m_port.setPortOpen(true);
    } catch (const SerialError &error) {
        enterEnding();
        m_commError = true;
        m_reports.statusText(Texts::PortOpenFailed);
        m_reports.failureDetail(error.reason());
        return finish(LinkResult::Ending::PortFailed, error.reason());
    }
    startQuery();
}

// ---- the version query ----

void KitLink::startQuery()
{
    m_reports.statusText(QString());
    m_commError = false;
    try {
        initializePort();
        m_port.setPortOpen(true);
        m_port.setInBufferCount(0);
        send(QByteArray(1, m_profile.prepareCommand));
    } catch (const SerialError &error) {
        return queryFailed(error.reason());
    }
    // Whatever the kit says to the prepare command within the pause is not looked at.
    m_state = State::Pausing;
    m_pause.start(m_profile.pauseAfterPrepare);
}

void KitLink::sendVersionRequest()
{
    try {
        receive();
        m_port.setInBufferCount(0);
        m_state = State::AwaitingVersion;
        send(QByteArray(1, m_profile.versionCommand));
        armDeadline(m_profile.versionAnswerLimit);
    } catch (const SerialError &error) {
        queryFailed(error.reason());
    }
}

void KitLink::versionAnswered()
{
    try {
        const QByteArray answer = receive();
        m_versionAnswerBytes = int(answer.size());
        m_kitVersion = versionTextFromBytes(answer, m_profile.versionLength);
    } catch (const SerialError &error) {
        return queryFailed(error.reason());
    }
    m_reports.versionRead(m_kitVersion);
    m_reports.statusText(Texts::VersionRead);
    if (!m_update) {
        enterEnding();
        return finish(LinkResult::Ending::Done);
    }
    startTransfer();
}

void KitLink::queryFailed(const QString &reason)
{
    enterEnding();
    m_commError = true;
    m_reports.statusText(Texts::PortOpenFailed);
    if (m_update)
        m_reports.statusText(Texts::CommunicationError);
    m_reports.failureDetail(reason);
    finish(LinkResult::Ending::PortFailed, reason);
}

// Bytes that did arrive stay in the buffer until the next exchange empties it.
void KitLink::queryTimedOut()
{
    enterEnding();
    m_commError = true;
    const QString reason = QStringLiteral("%1: no version answer within %2 s (%3 of %4 bytes)")
                               .arg(m_choice.devicePath)
                               .arg(m_profile.versionAnswerLimit.count() / 1000.0)
                               .arg(m_port.InBufferCount())
                               .arg(m_profile.versionLength);
    conclude(LinkResult::Ending::CommError, reason);
    m_reports.message(LinkMessage::VersionTimedOut);
    if (m_update)
        m_reports.statusText(Texts::CommunicationError);
    m_reports.failureDetail(reason);
    finish();
}

// ---- the transfer ----

void KitLink::startTransfer()
{
    m_reports.statusText(Texts::Updating);
    m_state = State::Transferring;
    m_transferClock.start(); // reading and checking the file count towards the seconds
    try {
        m_words = m_loadFirmware().words;
    } catch (const HexFileError &error) {
        return transferFailed(LinkResult::Ending::Rejected, error.describe(), false);
    } catch (const std::bad_alloc &) {
        return transferFailed(LinkResult::Ending::Rejected, QStringLiteral("not enough memory to read the file"),
                              false);
    }
    m_toSend = wordsToSend(m_profile, m_words);
    sendNextWords();
}

// Reports every word of the file in order; a word the kit receives goes out
// as one frame, and the transfer waits for its answer before the next.
void KitLink::sendNextWords()
{
    const quint64 run = m_run;
    m_state = State::Transferring;
    for (int skipped = 0; m_next < m_words.size(); ++skipped) {
        const HexWord &word = m_words.at(m_next);
        if (isSent(m_profile, word)) {
            try {
                m_state = State::AwaitingWord;
                send(m_profile.frame(word.address, word.high, word.low));
                armDeadline(m_profile.wordAnswerLimit);
            } catch (const SerialError &error) {
                transferFailed(LinkResult::Ending::Failed, error.reason(), true);
            }
            return;
        }
        if (skipped == WordsBetweenBreaks) {
            m_continue.start(0);
            return;
        }
        m_reports.wordWritten({word.address, m_sent, m_toSend});
        if (!stillTransferring(run))
            return;
        ++m_next;
    }
    transferDone();
}

void KitLink::wordAnswered()
{
    try {
        receive(); // any byte accepts the word; its value is not looked at
    } catch (const SerialError &error) {
        return transferFailed(LinkResult::Ending::Failed, error.reason(), true);
    }
    ++m_sent;
    const quint64 run = m_run;
    m_state = State::Transferring;
    m_reports.wordWritten({m_words.at(m_next).address, m_sent, m_toSend});
    if (!stillTransferring(run))
        return;
    ++m_next;
    sendNextWords();
}

void KitLink::transferDone()
{
    enterEnding();
    m_reports.statusText(Texts::updateDone(m_transferClock.elapsed() / 1000));
    conclude(LinkResult::Ending::Done);
    m_reports.message(LinkMessage::UpdateDone);
    finish();
}

void KitLink::transferTimedOut()
{
    enterEnding();
    m_commError = true;
    const QString reason = QStringLiteral("%1: word %2 got no answer within %3 s; %4")
                               .arg(m_choice.devicePath, hexWord(m_words.at(m_next).address))
                               .arg(m_profile.wordAnswerLimit.count() / 1000.0)
                               .arg(wordsSoFar());
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(reason);
    conclude(LinkResult::Ending::TimedOut, reason);
    m_reports.message(LinkMessage::UpdateTimedOut);
    m_reports.progressReset();
    finish();
}

// A refused file leaves the port as the handshake left it (open); a failed
// line is of no more use and is closed.
void KitLink::transferFailed(LinkResult::Ending ending, const QString &reason, bool closeThePort)
{
    enterEnding();
    QString detail = reason;
    if (ending == LinkResult::Ending::Failed && m_next < m_words.size())
        detail += QStringLiteral(" at word %1; %2").arg(hexWord(m_words.at(m_next).address), wordsSoFar());
    if (closeThePort)
        closePort();
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(detail);
    finish(ending, detail);
}

// A report may let events run, and one of them may have stopped this
// exchange (and even started the next one).
bool KitLink::stillTransferring(quint64 run) const { return m_run == run && m_state == State::Transferring; }

QString KitLink::wordsSoFar() const
{
    return QStringLiteral("%1 of %2 words were written before it").arg(m_sent).arg(m_toSend);
}

// ---- stopping ----

void KitLink::cancel()
{
    if (m_state == State::Idle || m_state == State::Ending)
        return;
    const bool transferStarted = m_transferClock.isValid();
    enterEnding();
    closePort();
    if (!transferStarted) // a query cut short has failed; a transfer keeps the flag it had
        m_commError = true;
    if (!m_update)
        return finish(LinkResult::Ending::Stopped, QStringLiteral("stopped on request"));
    const QString detail =
        transferStarted
            ? QStringLiteral("the update was stopped: %1 of %2 words were written; the kit must be updated again")
                  .arg(m_sent)
                  .arg(m_toSend)
            : QStringLiteral("the update was stopped before any word was written; the kit must be updated again");
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(detail);
    finish(LinkResult::Ending::Stopped, detail);
}

void KitLink::enterEnding()
{
    m_state = State::Ending;
    m_pause.stop();
    m_deadlineTimer.stop();
    m_continue.stop();
}

void KitLink::conclude(LinkResult::Ending ending, const QString &detail)
{
    m_result = LinkResult();
    m_result.update = m_update;
    m_result.ending = ending;
    m_result.devicePath = m_choice.devicePath;
    m_result.kitVersion = m_kitVersion;
    m_result.versionAnswerBytes = m_versionAnswerBytes;
    m_result.wordsSent = m_sent;
    m_result.wordsToSend = m_toSend;
    m_result.seconds = m_exchangeClock.elapsed() / 1000.0;
    m_result.detail = detail;
    m_reports.concluded(m_result);
}

void KitLink::finish()
{
    m_words = {};
    m_loadFirmware = nullptr;
    m_state = State::Idle;
    m_reports.finished(m_result);
}

void KitLink::finish(LinkResult::Ending ending, const QString &detail)
{
    conclude(ending, detail);
    finish();
}

// ---- waiting ----

// The limits are "more than": the deadline lies just past them. A timer that
// is still running for an earlier, answered word is left alone: it fires no
// later than the new deadline and is then set for the time that remains.
// Arming a timer for every word would cost more than the rest of the word.
void KitLink::armDeadline(std::chrono::milliseconds limit)
{
    m_deadline = QDeadlineTimer(limit + 1ns, Qt::PreciseTimer);
    if (!m_deadlineTimer.isActive())
        m_deadlineTimer.start(remainingMilliseconds(m_deadline));
}

void KitLink::onArrival()
{
    if (m_state == State::AwaitingVersion && m_port.InBufferCount() >= m_profile.versionLength)
        versionAnswered();
    else if (m_state == State::AwaitingWord && m_port.InBufferCount() >= 1)
        wordAnswered();
}

// An answer that came with the deadline still counts: bytes are looked at first.
void KitLink::onDeadline()
{
    if (m_state != State::AwaitingVersion && m_state != State::AwaitingWord)
        return;
    if (!m_deadline.hasExpired()) {
        m_deadlineTimer.start(remainingMilliseconds(m_deadline));
        return;
    }
    const int waiting = m_port.InBufferCount();
    if (m_state == State::AwaitingVersion)
        waiting >= m_profile.versionLength ? versionAnswered() : queryTimedOut();
    else if (m_state == State::AwaitingWord)
        waiting >= 1 ? wordAnswered() : transferTimedOut();
}

void KitLink::onLineFailed(const QString &reason)
{
    switch (m_state) {
    case State::Opening:
    case State::Pausing:
    case State::AwaitingVersion:
        return queryFailed(reason);
    case State::Transferring:
    case State::AwaitingWord:
        return transferFailed(LinkResult::Ending::Failed, reason, true);
    case State::Idle:
    case State::Ending:
        return;
    }
}

// ---- the line ----

void KitLink::send(const QByteArray &bytes)
{
    m_port.Output(bytes);
    KIT_SERIAL_TRACE("sent", bytes);
}

QByteArray KitLink::receive()
{
    const QByteArray bytes = m_port.Input();
    KIT_SERIAL_TRACE("received", bytes);
    return bytes;
}
