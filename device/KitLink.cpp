#include "KitLink.h"

#include "CommPort.h"
#include "DeviceHost.h"
#include "HexImage.h"
#include "PortMap.h"
#include "SerialLog.h"
#include "Texts.h"
#include "VersionText.h"

#include <QThread>
#include <chrono>

using namespace std::chrono_literals;

namespace {
constexpr char PrepareCommand = 0x46;      // answered by the kit, or not; the answer is thrown away
constexpr char VersionCommand = 0x3F;      // answered by the 16 bytes of the version
constexpr char WordFrameStart = 0x41;
constexpr int WordFrameLength = 5;
constexpr unsigned long PauseAfterPrepareMs = 100;
constexpr auto VersionAnswerLimit = 1s;
constexpr auto WordAnswerLimit = 2s;
constexpr double ProgressMaximum = 7936;

// Port options of every exchange.
constexpr int BinaryInput = 1;
constexpr int NoHandshaking = 0;
constexpr int ReadEverything = 0;
constexpr int NoReceiveNotification = 0;

struct SpeedChoice {
    const char *speedText;
    const char *lineSettings;
};
// Exact texts of the speed box; any other text leaves the line settings alone.
constexpr SpeedChoice SpeedChoices[] = {
    {" 9600", "9600,n,8,1"},
    {"19200", "19200,n,8,1"},
    {"57600", "57600,n,8,1"},
};

// The limits are "more than": the deadline lies just past them.
QDeadlineTimer deadlineAfter(std::chrono::nanoseconds limit)
{
    return QDeadlineTimer(limit + 1ns, Qt::PreciseTimer);
}

class BusyGuard {
public:
    explicit BusyGuard(bool &busy) : m_busy(busy) { m_busy = true; }
    ~BusyGuard() { m_busy = false; }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

private:
    bool &m_busy;
};
} // namespace

KitLink::KitLink(CommPort &port, DeviceHost &host)
    : m_port(port), m_host(host), m_frame(WordFrameLength, '\0'), m_command(1, '\0')
{
}

void KitLink::interruptWait() { m_port.interruptWait(); }

void KitLink::closePort()
{
    if (m_port.PortOpen())
        m_port.setPortOpen(false);
}

// ---- port set-up ----

bool KitLink::Com_Initialize(const QString &portText, const QString &speedText)
{
    if (portText.isEmpty()) {
        m_host.showMessage(Texts::SetPortNumber);
        return false;
    }
    closePort();
    m_port.setInputMode(BinaryInput);
    m_port.setHandshaking(NoHandshaking);
    m_port.setInputLen(ReadEverything);
    m_port.setRThreshold(NoReceiveNotification);
    m_port.setInBufferCount(0);
    applySpeed(speedText);
    const std::optional<int> number = parsePortNumber(portText);
    if (!number)
        throw SerialError(SerialError::Kind::NotANumber, QStringLiteral("\"%1\" is not a port number").arg(portText));
    m_port.setCommPort(*number);
    return true;
}

void KitLink::applySpeed(const QString &speedText)
{
    for (const SpeedChoice &choice : SpeedChoices) {
        if (speedText == QLatin1String(choice.speedText)) {
            m_port.setSettings(QLatin1String(choice.lineSettings));
            return;
        }
    }
}

void KitLink::beginExchange() { m_outcome = Outcome::None; }

bool KitLink::initializeForExchange(const QString &portText, const QString &speedText)
{
    try {
        if (Com_Initialize(portText, speedText))
            return true;
        m_outcome = Outcome::NoPort;
    } catch (const SerialError &error) {
        m_host.msgCmt(error.kind() == SerialError::Kind::NotANumber ? Texts::PortNotANumber : Texts::PortRefused);
        m_host.showFailureDetail(error.reason());
        m_outcome = Outcome::BadPortText;
    }
    return false;
}

// ---- version query ----

void KitLink::versionQuery(const QString &portText, const QString &speedText)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    beginExchange();
    runVersionQuery(portText, speedText);
}

void KitLink::runVersionQuery(const QString &portText, const QString &speedText)
{
    m_host.msgCmt(QString());
    m_commError = false;
    if (!initializeForExchange(portText, speedText))
        return;
    try {
        exchangeVersion();
    } catch (const SerialError &error) {
        endVersionQueryFailed(error);
    }
}

void KitLink::exchangeVersion()
{
    m_port.setPortOpen(true);
    m_port.setInBufferCount(0);
    if (cancelled())
        return endVersionQueryCancelled();
    m_command[0] = PrepareCommand;
    send(m_command);
    QThread::msleep(PauseAfterPrepareMs); // a plain pause: no events run meanwhile
    receive();                         // whatever the kit said to 0x46 is not looked at
    m_port.setInBufferCount(0);
    if (cancelled())
        return endVersionQueryCancelled();

    m_command[0] = VersionCommand;
    send(m_command);
    switch (awaitBytes(VersionLength, deadlineAfter(VersionAnswerLimit))) {
    case Wait::Cancelled:
        return endVersionQueryCancelled();
    case Wait::TimedOut:
        return endVersionQueryTimedOut();
    case Wait::Answered:
        break;
    }
    m_host.showFirmwareVersion(versionTextFromBytes(receive()));
    m_host.msgCmt(Texts::VersionRead);
    m_outcome = Outcome::Done;
}

void KitLink::endVersionQueryFailed(const SerialError &error)
{
    m_commError = true;
    m_host.msgCmt(Texts::PortOpenFailed);
    m_host.showFailureDetail(error.reason());
    m_outcome = Outcome::PortFailed;
}

void KitLink::endVersionQueryTimedOut()
{
    // Set before the box: the query has failed whatever becomes of the box.
    m_commError = true;
    m_outcome = Outcome::CommError;
    m_host.showMessage(Texts::twoLines(Texts::VersionTimeoutLine1, Texts::VersionTimeoutLine2));
}

void KitLink::endVersionQueryCancelled()
{
    m_commError = true;
    closePort();
    m_outcome = Outcome::Cancelled;
}

// ---- update ----

void KitLink::update(const QString &portText, const QString &speedText, const QString &hexFileName)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    beginExchange();
    if (portText.isEmpty()) {
        m_host.showMessage(Texts::SetPortNumber);
        m_outcome = Outcome::NoPort;
        return;
    }
    m_host.msgCmt(QString());
    if (hexFileName.isEmpty()) {
        m_host.msgCmt(Texts::NoFileLoaded);
        m_outcome = Outcome::NoFile;
        return;
    }
    if (!initializeForExchange(portText, speedText))
        return;
    try {
        m_port.setPortOpen(true); // only proves that the port opens: the query reopens it
    } catch (const SerialError &error) {
        m_host.msgCmt(Texts::PortOpenFailed);
        m_host.showFailureDetail(error.reason());
        m_outcome = Outcome::PortFailed;
        return;
    }
    runVersionQuery(portText, speedText);
    if (m_outcome != Outcome::Done) { // the query failed and has given its own report
        m_host.msgCmt(Texts::CommunicationError);
        if (m_outcome != Outcome::Cancelled)
            m_outcome = Outcome::CommError;
        return;
    }
    m_host.msgCmt(Texts::Updating);
    File_Load(hexFileName);
}

void KitLink::File_Load(const QString &file_name)
{
    QElapsedTimer sinceStart; // the reading and checking of the file count towards the seconds
    sinceStart.start();
    try {
        const HexImage image = HexFile::read(file_name);
        switch (transferWords(image.words)) {
        case Ending::Completed:
            return endTransferDone(sinceStart);
        case Ending::TimedOut:
            return endTransferTimedOut();
        case Ending::Cancelled:
            return endTransferFailed(Outcome::Cancelled, QString());
        }
    } catch (const HexFileError &error) {
        endTransferFailed(Outcome::FileRejected, error.describe());
    } catch (const SerialError &error) {
        endTransferFailed(Outcome::Failed, error.reason());
    } catch (const std::exception &error) {
        endTransferFailed(Outcome::Failed, QString::fromLocal8Bit(error.what()));
    }
}

KitLink::Ending KitLink::transferWords(const QVector<HexWord> &words)
{
    for (const HexWord &word : words) {
        m_host.processEvents();
        if (cancelled())
            return Ending::Cancelled;
        if (HexFile::isSent(word)) {
            const Wait answer = sendWord(word);
            if (answer == Wait::TimedOut)
                return Ending::TimedOut;
            if (answer == Wait::Cancelled)
                return Ending::Cancelled;
        }
        m_host.msgProgressBar(QStringLiteral("on"), 0, ProgressMaximum, word.address);
    }
    return Ending::Completed;
}

KitLink::Wait KitLink::sendWord(const HexWord &word)
{
    char *frame = m_frame.data();
    frame[0] = WordFrameStart;
    frame[1] = static_cast<char>((word.address >> 8) & 0xFF);
    frame[2] = static_cast<char>(word.address & 0xFF);
    frame[3] = static_cast<char>(word.high);
    frame[4] = static_cast<char>(word.low);
    send(m_frame);
    const Wait answer = awaitBytes(1, deadlineAfter(WordAnswerLimit));
    if (answer == Wait::Answered)
        receive(); // any byte is acceptance; its value is not examined
    return answer;
}

void KitLink::endTransferDone(const QElapsedTimer &sinceStart)
{
    m_outcome = Outcome::Done;
    m_host.msgCmt(Texts::updateDone(sinceStart.elapsed() / 1000));
    m_host.showMessage(Texts::twoLines(Texts::UpdateDoneLine1, Texts::UpdateDoneLine2));
}

void KitLink::endTransferTimedOut()
{
    m_commError = true;
    m_outcome = Outcome::TimedOut;
    m_host.msgCmt(Texts::UpdateFailed);
    m_host.showMessage(Texts::twoLines(Texts::UpdateTimeoutLine1, Texts::UpdateTimeoutLine2));
    m_host.msgProgressBar(QStringLiteral("off"), 0, 0, 0);
}

// Failures of the port and stops on request leave the port closed; a refused
// file leaves it as the handshake left it (open).
void KitLink::endTransferFailed(Outcome outcome, const QString &detail)
{
    m_outcome = outcome;
    if (outcome != Outcome::FileRejected)
        closePort();
    m_host.msgCmt(Texts::UpdateFailed);
    if (!detail.isEmpty())
        m_host.showFailureDetail(detail);
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

// A wake-up without a stop request (interruptWait for another reason) waits
// on for the same deadline. A port closed under the wait by a host that is
// stopping counts as the stop, not as a line failure.
KitLink::Wait KitLink::awaitBytes(int count, const QDeadlineTimer &deadline)
{
    for (;;) {
        CommPort::WaitResult result;
        try {
            result = m_port.waitForInput(count, deadline);
        } catch (const SerialError &) {
            if (cancelled())
                return Wait::Cancelled;
            throw;
        }
        if (cancelled())
            return Wait::Cancelled;
        if (result == CommPort::WaitResult::Ready)
            return Wait::Answered;
        if (result == CommPort::WaitResult::TimedOut)
            return Wait::TimedOut;
    }
}

bool KitLink::cancelled() const { return m_host.cancelRequested(); }
