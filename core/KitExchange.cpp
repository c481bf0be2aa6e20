#include "KitExchange.h"

#include "KitTexts.h"

#include <algorithm>
#include <cstdio>
#include <new>

using namespace std::chrono_literals;

namespace {
// What an exchange keeps of the bytes that arrived and were not taken yet, as
// a serial port's input buffer does: a device that streams cannot grow it.
constexpr std::size_t InputKept = 1024;

// Words outside the write window cost no round trip; after this many of them
// in a row the exchange lets the driver's other events run before it goes on.
constexpr int WordsBetweenBreaks = 4096;

std::string hexWord(std::uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(address));
    return text;
}

// Whole seconds as "1", fractions as "1.5".
std::string secondsText(std::chrono::milliseconds limit)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(limit.count()) / 1000.0);
    return text;
}

void appendUtf8(std::string &text, char32_t c)
{
    if (c < 0x80) {
        text += char(c);
    } else if (c < 0x800) {
        text += char(0xC0 | (c >> 6));
        text += char(0x80 | (c & 0x3F));
    } else {
        text += char(0xE0 | (c >> 12));
        text += char(0x80 | ((c >> 6) & 0x3F));
        text += char(0x80 | (c & 0x3F));
    }
}

std::chrono::microseconds median(std::vector<std::uint32_t> &values)
{
    if (values.empty())
        return 0us;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return std::chrono::microseconds(*middle);
}
} // namespace

std::string messageBoxText(LinkMessage message)
{
    switch (message) {
    case LinkMessage::VersionTimedOut:
        return Texts::twoLines<std::string>(Texts::VersionTimeoutLine1, Texts::VersionTimeoutLine2);
    case LinkMessage::UpdateDone:
        return Texts::twoLines<std::string>(Texts::UpdateDoneLine1, Texts::UpdateDoneLine2);
    case LinkMessage::UpdateTimedOut:
        return Texts::twoLines<std::string>(Texts::UpdateTimeoutLine1, Texts::UpdateTimeoutLine2);
    }
    return std::string();
}

bool isSent(const KitProfile &profile, const HexWord &word) { return word.inKitMemory && profile.writes(word.address); }

int wordsToSend(const KitProfile &profile, const std::vector<HexWord> &words)
{
    return int(std::count_if(words.begin(), words.end(), [&](const HexWord &w) { return isSent(profile, w); }));
}

std::string versionTextFromBytes(const std::uint8_t *bytes, std::size_t count, int length)
{
    count = std::min(count, std::size_t(std::max(length, 0)));
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte < 0x80)
            text += char(byte);
        else if (byte >= 0xA1 && byte <= 0xDF)
            appendUtf8(text, char32_t(0xFF61 + (byte - 0xA1)));
        else
            appendUtf8(text, U'\uFFFD');
    }
    return text;
}

KitExchange::KitExchange(const KitProfile &profile, ExchangeDriver &driver, ExchangeReports &reports)
    : m_profile(profile), m_driver(driver), m_reports(reports)
{
}

// ---- starting ----

bool KitExchange::startVersionQuery(Instant now, const std::string &portName)
{
    if (busy())
        return false;
    begin(now, false, portName);
    startQuery(now);
    return true;
}

bool KitExchange::startUpdate(Instant now, const std::string &portName, FirmwareLoader loadFirmware)
{
    if (busy())
        return false;
    begin(now, true, portName);
    m_loadFirmware = std::move(loadFirmware);
    openForUpdate(now);
    return true;
}

void KitExchange::begin(Instant now, bool update, const std::string &portName)
{
    ++m_run;
    m_update = update;
    m_portName = portName;
    m_kitVersion.clear();
    m_versionAnswerBytes = 0;
    m_words.clear();
    m_answerWaitsUs.clear();
    m_input.clear();
    m_next = 0;
    m_sent = m_toSend = 0;
    m_continuePending = false;
    m_exchangeStart = now;
    m_transferStart.reset();
    m_state = State::Opening;
}

// The update opens the port once only to prove that it opens: the version
// query closes and opens it again.
void KitExchange::openForUpdate(Instant now)
{
    try {
        m_driver.openLine();
    } catch (const LineError &error) {
        enterEnding();
        m_commError = true;
        m_reports.statusText(Texts::PortOpenFailed);
        m_reports.failureDetail(error.what());
        return finish(now, ExchangeEnding::PortFailed, error.what());
    }
    startQuery(now);
}

// ---- the version query ----

void KitExchange::startQuery(Instant now)
{
    m_reports.statusText(std::string());
    m_commError = false;
    try {
        m_driver.openLine();
        m_driver.discardInput();
        m_input.clear();
        send(&m_profile.prepareCommand, 1);
    } catch (const LineError &error) {
        return queryFailed(now, error.what());
    }
    // Whatever the kit says to the prepare command within the pause is not looked at.
    m_state = State::Pausing;
    m_pauseEnd = now + m_profile.pauseAfterPrepare;
    wakeAt(now, m_pauseEnd);
}

void KitExchange::sendVersionRequest(Instant now)
{
    try {
        m_input.clear();
        m_driver.discardInput();
        m_state = State::AwaitingVersion;
        send(&m_profile.versionCommand, 1);
        armDeadline(now, m_profile.versionAnswerLimit);
    } catch (const LineError &error) {
        queryFailed(now, error.what());
    }
}

void KitExchange::versionAnswered(Instant now)
{
    m_versionAnswerBytes = int(m_input.size());
    m_kitVersion = versionTextFromBytes(m_input.data(), m_input.size(), m_profile.versionLength);
    m_input.clear();
    m_reports.versionRead(m_kitVersion);
    m_reports.statusText(Texts::VersionRead);
    if (!m_update) {
        enterEnding();
        return finish(now, ExchangeEnding::Done);
    }
    startTransfer(now);
}

void KitExchange::queryFailed(Instant now, const std::string &reason)
{
    enterEnding();
    m_commError = true;
    m_reports.statusText(Texts::PortOpenFailed);
    if (m_update)
        m_reports.statusText(Texts::CommunicationError);
    m_reports.failureDetail(reason);
    finish(now, ExchangeEnding::PortFailed, reason);
}

// Bytes that did arrive are not looked at again: the next exchange drops them.
void KitExchange::queryTimedOut(Instant now)
{
    enterEnding();
    m_commError = true;
    const std::string reason = m_portName + ": no version answer within " + secondsText(m_profile.versionAnswerLimit)
                               + " s (" + std::to_string(m_input.size()) + " of "
                               + std::to_string(m_profile.versionLength) + " bytes)";
    conclude(now, ExchangeEnding::CommError, reason);
    m_reports.message(LinkMessage::VersionTimedOut);
    if (m_update)
        m_reports.statusText(Texts::CommunicationError);
    m_reports.failureDetail(reason);
    finish();
}

// ---- the transfer ----

void KitExchange::startTransfer(Instant now)
{
    m_reports.statusText(Texts::Updating);
    m_state = State::Transferring;
    m_transferStart = now; // reading and checking the file count towards the seconds
    try {
        m_words = m_loadFirmware().words;
    } catch (const HexFileError &error) {
        return transferFailed(now, ExchangeEnding::Rejected, error.describe(), false);
    } catch (const std::bad_alloc &) {
        return transferFailed(now, ExchangeEnding::Rejected, "not enough memory to read the file", false);
    }
    m_toSend = wordsToSend(m_profile, m_words);
    m_answerWaitsUs.reserve(std::size_t(m_toSend));
    sendNextWords(now);
}

// Reports every word of the file in order; a word the kit receives goes out
// as one frame, and the transfer waits for its answer before the next.
void KitExchange::sendNextWords(Instant now)
{
    const std::uint64_t run = m_run;
    m_state = State::Transferring;
    m_continuePending = false;
    for (int skipped = 0; m_next < m_words.size(); ++skipped) {
        const HexWord &word = m_words[m_next];
        if (isSent(m_profile, word)) {
            try {
                m_state = State::AwaitingWord;
                const KitProfile::Frame frame = m_profile.frame(word.address, word.high, word.low);
                send(frame.data(), frame.size());
                m_sentAt = now;
                armDeadline(now, m_profile.wordAnswerLimit);
            } catch (const LineError &error) {
                transferFailed(now, ExchangeEnding::Failed, error.what(), true);
            }
            return;
        }
        if (skipped == WordsBetweenBreaks) {
            m_continuePending = true;
            wakeAt(now, now);
            return;
        }
        m_reports.wordWritten({word.address, m_sent, m_toSend});
        if (!stillTransferring(run))
            return;
        ++m_next;
    }
    transferDone(now);
}

// Any byte accepts the word; its value is not looked at, and all that came is taken.
void KitExchange::wordAnswered(Instant now)
{
    m_input.clear();
    m_answerWaitsUs.push_back(
        std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(now - m_sentAt).count()));
    ++m_sent;
    const std::uint64_t run = m_run;
    m_state = State::Transferring;
    m_reports.wordWritten({m_words[m_next].address, m_sent, m_toSend});
    if (!stillTransferring(run))
        return;
    ++m_next;
    sendNextWords(now);
}

void KitExchange::transferDone(Instant now)
{
    enterEnding();
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - *m_transferStart);
    m_reports.statusText(Texts::updateDone(elapsed.count()));
    conclude(now, ExchangeEnding::Done);
    m_reports.message(LinkMessage::UpdateDone);
    finish();
}

void KitExchange::transferTimedOut(Instant now)
{
    enterEnding();
    m_commError = true;
    const std::string reason = m_portName + ": word " + hexWord(m_words[m_next].address) + " got no answer within "
                               + secondsText(m_profile.wordAnswerLimit) + " s; " + wordsSoFar();
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(reason);
    conclude(now, ExchangeEnding::TimedOut, reason);
    m_reports.message(LinkMessage::UpdateTimedOut);
    m_reports.progressReset();
    finish();
}

// A refused file leaves the port as the handshake left it (open); a failed
// line is of no more use and is closed.
void KitExchange::transferFailed(Instant now, ExchangeEnding ending, const std::string &reason, bool closeTheLine)
{
    enterEnding();
    std::string detail = reason;
    if (ending == ExchangeEnding::Failed && m_next < m_words.size())
        detail += " at word " + hexWord(m_words[m_next].address) + "; " + wordsSoFar();
    if (closeTheLine)
        m_driver.closeLine();
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(detail);
    finish(now, ending, detail);
}

// A report may let events run, and one of them may have stopped this
// exchange (and even started the next one).
bool KitExchange::stillTransferring(std::uint64_t run) const
{
    return m_run == run && m_state == State::Transferring;
}

std::string KitExchange::wordsSoFar() const
{
    return std::to_string(m_sent) + " of " + std::to_string(m_toSend) + " words were written before it";
}

// ---- stopping ----

void KitExchange::cancel(Instant now)
{
    if (m_state == State::Idle || m_state == State::Ending)
        return;
    const bool transferStarted = m_transferStart.has_value();
    enterEnding();
    m_driver.closeLine();
    if (!transferStarted) // a query cut short has failed; a transfer keeps the flag it had
        m_commError = true;
    if (!m_update)
        return finish(now, ExchangeEnding::Stopped, "stopped on request");
    const std::string detail =
        transferStarted ? "the update was stopped: " + std::to_string(m_sent) + " of " + std::to_string(m_toSend)
                              + " words were written; the kit must be updated again"
                        : "the update was stopped before any word was written; the kit must be updated again";
    m_reports.statusText(Texts::UpdateFailed);
    m_reports.failureDetail(detail);
    finish(now, ExchangeEnding::Stopped, detail);
}

void KitExchange::enterEnding()
{
    m_state = State::Ending;
    m_continuePending = false;
    if (m_timerAt) {
        m_timerAt.reset();
        m_driver.cancelTimer();
    }
}

void KitExchange::conclude(Instant now, ExchangeEnding ending, const std::string &detail)
{
    m_result = ExchangeResult();
    m_result.update = m_update;
    m_result.ending = ending;
    m_result.portName = m_portName;
    m_result.kitVersion = m_kitVersion;
    m_result.versionAnswerBytes = m_versionAnswerBytes;
    m_result.wordsSent = m_sent;
    m_result.wordsToSend = m_toSend;
    m_result.seconds = double(std::chrono::duration_cast<std::chrono::milliseconds>(now - m_exchangeStart).count())
                       / 1000.0;
    m_result.medianAnswerWait = median(m_answerWaitsUs);
    m_result.detail = detail;
    m_reports.concluded(m_result);
}

void KitExchange::finish()
{
    m_words = {};
    m_answerWaitsUs = {};
    m_loadFirmware = nullptr;
    m_state = State::Idle;
    m_reports.finished(m_result);
}

void KitExchange::finish(Instant now, ExchangeEnding ending, const std::string &detail)
{
    conclude(now, ending, detail);
    finish();
}

// ---- waiting ----

// The limits are "more than": the deadline lies just past them.
void KitExchange::armDeadline(Instant now, std::chrono::milliseconds limit)
{
    m_deadline = now + limit + 1ns;
    wakeAt(now, m_deadline);
}

// A timer that fires no later than `at` is left alone (when it fires, it is
// set again for the time that remains): one for every word would cost more
// than the rest of the word.
void KitExchange::wakeAt(Instant now, Instant at)
{
    if (m_timerAt && *m_timerAt <= at)
        return;
    m_timerAt = at;
    m_driver.armTimer(std::max(at - now, Instant(0)));
}

void KitExchange::bytesArrived(Instant now, const std::uint8_t *bytes, std::size_t count)
{
    switch (m_state) {
    case State::AwaitingVersion:
    case State::Transferring:
    case State::AwaitingWord:
        m_input.insert(m_input.end(), bytes, bytes + std::min(count, InputKept - m_input.size()));
        break;
    case State::Pausing: // whatever comes within the pause is not looked at
    case State::Idle:
    case State::Opening:
    case State::Ending:
        return;
    }
    if (m_state == State::AwaitingVersion && m_input.size() >= std::size_t(m_profile.versionLength))
        versionAnswered(now);
    else if (m_state == State::AwaitingWord && !m_input.empty())
        wordAnswered(now);
}

void KitExchange::timerExpired(Instant now)
{
    m_timerAt.reset();
    switch (m_state) {
    case State::Pausing:
        return now >= m_pauseEnd ? sendVersionRequest(now) : wakeAt(now, m_pauseEnd);
    case State::AwaitingVersion:
    case State::AwaitingWord:
        return deadlineReached(now);
    case State::Transferring:
        if (m_continuePending)
            sendNextWords(now);
        return;
    case State::Idle:
    case State::Opening:
    case State::Ending:
        return;
    }
}

// An answer that came with the deadline still counts: bytes are looked at first.
void KitExchange::deadlineReached(Instant now)
{
    if (now < m_deadline)
        return wakeAt(now, m_deadline);
    if (m_state == State::AwaitingVersion)
        m_input.size() >= std::size_t(m_profile.versionLength) ? versionAnswered(now) : queryTimedOut(now);
    else
        !m_input.empty() ? wordAnswered(now) : transferTimedOut(now);
}

void KitExchange::lineFailed(Instant now, const std::string &reason)
{
    switch (m_state) {
    case State::Opening:
    case State::Pausing:
    case State::AwaitingVersion:
        return queryFailed(now, reason);
    case State::Transferring:
    case State::AwaitingWord:
        return transferFailed(now, ExchangeEnding::Failed, reason, true);
    case State::Idle:
    case State::Ending:
        return;
    }
}

// ---- the line ----

void KitExchange::send(const std::uint8_t *bytes, std::size_t count)
{
    m_driver.write(bytes, count);
}
