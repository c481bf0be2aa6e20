#include "KitLink.h"

#include "MSComm100.h"
#include "SerialLog.h"

#include <QByteArray>

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

QString lineSettingsFor(const KitProfile &profile, const QString &speedText)
{
    const std::string text = speedText.toStdString();
    const std::optional<std::string_view> settings = profile.lineSettingsFor(text);
    return settings ? QString::fromLatin1(settings->data(), qsizetype(settings->size())) : QString();
}

KitLink::KitLink(MSComm100 &port, const KitProfile &profile, LinkReports &reports, QObject *parent)
    : QObject(parent), m_port(port), m_reports(reports), m_exchange(profile, *this, *this)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_exchange.timerExpired(now()); });
    connect(&m_port, &MSComm100::OnComm, this, &KitLink::onArrival);
    connect(&m_port, &MSComm100::lineFailed, this, &KitLink::onLineFailed);
}

KitLink::~KitLink() = default;

void KitLink::closePort() { m_port.setPortOpen(false); }

bool KitLink::startVersionQuery(const PortChoice &port)
{
    if (busy())
        return false;
    m_choice = port;
    return m_exchange.startVersionQuery(now(), port.devicePath.toStdString());
}

bool KitLink::startUpdate(const PortChoice &port, FirmwareLoader loadFirmware)
{
    if (busy())
        return false;
    m_choice = port;
    return m_exchange.startUpdate(now(), port.devicePath.toStdString(), std::move(loadFirmware));
}

void KitLink::cancel() { m_exchange.cancel(now()); }

// Between exchanges what arrives stays with the port, which holds a bounded
// amount; the next exchange drops it.
void KitLink::onArrival()
{
    if (!busy() || m_port.InBufferCount() == 0)
        return;
    QByteArray bytes;
    try {
        bytes = m_port.Input();
    } catch (const SerialError &error) {
        return m_exchange.lineFailed(now(), error.what());
    }
    KIT_SERIAL_TRACE("received", bytes);
    m_exchange.bytesArrived(now(), reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
}

void KitLink::onLineFailed(const QString &reason) { m_exchange.lineFailed(now(), reason.toStdString()); }

// ---- what the exchange asks of the port ----

// Closed, binary, no flow control, everything read at once, arrivals
// notified, nothing old in the buffer, then the chosen speed and device.
void KitLink::openLine()
{
    closePort();
    m_port.setInBufferCount(0);
    configureForKit(m_port, m_choice);
    m_port.setPortOpen(true);
}

void KitLink::discardInput() { m_port.setInBufferCount(0); }

void KitLink::write(const std::uint8_t *bytes, std::size_t count)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), qsizetype(count));
    m_port.Output(data);
    KIT_SERIAL_TRACE("sent", data);
}

void KitLink::armTimer(std::chrono::nanoseconds delay)
{
    m_timer.start(std::chrono::ceil<std::chrono::milliseconds>(delay));
}

// ---- what the exchange reports ----

void KitLink::statusText(const std::string &text) { m_reports.statusText(QString::fromStdString(text)); }

void KitLink::failureDetail(const std::string &reason) { m_reports.failureDetail(QString::fromStdString(reason)); }

void KitLink::versionRead(const std::string &version) { m_reports.versionRead(QString::fromStdString(version)); }

void KitLink::concluded(const ExchangeResult &result) { m_reports.concluded(linkResult(result)); }

void KitLink::finished(const ExchangeResult &result) { m_reports.finished(linkResult(result)); }

LinkResult KitLink::linkResult(const ExchangeResult &result) const
{
    LinkResult r;
    r.update = result.update;
    r.ending = result.ending;
    r.devicePath = m_choice.devicePath;
    r.kitVersion = QString::fromStdString(result.kitVersion);
    r.versionAnswerBytes = result.versionAnswerBytes;
    r.wordsSent = result.wordsSent;
    r.wordsToSend = result.wordsToSend;
    r.seconds = result.seconds;
    r.medianAnswerWait = result.medianAnswerWait;
    r.detail = QString::fromStdString(result.detail);
    return r;
}
