#include "MSComm100.h"

#include "KitProfile.h"

#include <QStringList>
#include <limits>

namespace {
constexpr int MaxInBufferCount = std::numeric_limits<qint16>::max();

SerialError refusedSetting(const QString &what, const QString &value)
{
    return SerialError(SerialError::Kind::Refused, QStringLiteral("unsupported %1: \"%2\"").arg(what, value));
}

LineSettings::Parity parityFromLetter(const QString &letter)
{
    const QString l = letter.toLower();
    if (l == QLatin1String("n"))
        return LineSettings::Parity::None;
    if (l == QLatin1String("e"))
        return LineSettings::Parity::Even;
    if (l == QLatin1String("o"))
        return LineSettings::Parity::Odd;
    if (l == QLatin1String("m"))
        return LineSettings::Parity::Mark;
    if (l == QLatin1String("s"))
        return LineSettings::Parity::Space;
    throw refusedSetting(QStringLiteral("parity"), letter);
}

int dataBitsFromText(const QString &text)
{
    bool ok = false;
    const int bits = text.toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        throw refusedSetting(QStringLiteral("data bits"), text);
    return bits;
}

LineSettings::StopBits stopBitsFromText(const QString &text)
{
    if (text == QLatin1String("1"))
        return LineSettings::StopBits::One;
    if (text == QLatin1String("1.5"))
        return LineSettings::StopBits::OneAndHalf;
    if (text == QLatin1String("2"))
        return LineSettings::StopBits::Two;
    throw refusedSetting(QStringLiteral("stop bits"), text);
}

LineSettings parseLineSettings(const QString &text, LineSettings::FlowControl flow)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        throw refusedSetting(QStringLiteral("line settings"), text);
    bool ok = false;
    const qint32 baudRate = parts[0].toInt(&ok);
    if (!ok || baudRate <= 0)
        throw refusedSetting(QStringLiteral("speed"), parts[0]);
    LineSettings settings;
    settings.baudRate = baudRate;
    settings.parity = parityFromLetter(parts[1]);
    settings.dataBits = dataBitsFromText(parts[2]);
    settings.stopBits = stopBitsFromText(parts[3]);
    settings.flowControl = flow;
    return settings;
}

LineSettings::FlowControl flowControlFromHandshaking(int mode)
{
    switch (mode) {
    case 0:
        return LineSettings::FlowControl::None;
    case 1:
        return LineSettings::FlowControl::XonXoff;
    case 2:
        return LineSettings::FlowControl::RtsCts;
    default:
        throw refusedSetting(QStringLiteral("handshaking"), QString::number(mode));
    }
}
} // namespace

MSComm100::MSComm100(std::unique_ptr<SerialLine> line, QObject *parent)
    : QObject(parent), m_line(std::move(line)), m_settingsText(QLatin1String(StandardKit.initialLineSettings)),
      m_settings(parseLineSettings(m_settingsText, LineSettings::FlowControl::None))
{
    connect(m_line.get(), &SerialLine::bytesArrived, this, &MSComm100::onBytesArrived);
    connect(m_line.get(), &SerialLine::failed, this, &MSComm100::lineFailed);
}

MSComm100::~MSComm100() { m_line->close(); }

bool MSComm100::PortOpen() const { return m_line->isOpen(); }

void MSComm100::setPortOpen(bool open)
{
    if (!open) {
        m_line->close();
        return;
    }
    if (m_devicePath.isEmpty())
        throw SerialError(SerialError::Kind::Refused, QStringLiteral("no port has been chosen"));
    m_line->open(m_devicePath, m_settings);
}

void MSComm100::setCommPort(const QString &devicePath)
{
    if (m_line->isOpen())
        throw SerialError(SerialError::Kind::AlreadyOpen,
                          QStringLiteral("the port cannot change while the port is open"));
    m_devicePath = devicePath;
}

void MSComm100::setSettings(const QString &settings)
{
    m_settings = parseLineSettings(settings, m_settings.flowControl);
    m_settingsText = settings;
    if (m_line->isOpen())
        m_line->configure(m_settings);
}

void MSComm100::setInputMode(int mode)
{
    if (mode != 0 && mode != 1)
        throw refusedSetting(QStringLiteral("input mode"), QString::number(mode));
}

void MSComm100::setHandshaking(int mode)
{
    m_settings.flowControl = flowControlFromHandshaking(mode);
    if (m_line->isOpen())
        m_line->configure(m_settings);
}

void MSComm100::setInputLen(int length)
{
    if (length < 0)
        throw refusedSetting(QStringLiteral("input length"), QString::number(length));
    m_inputLen = length;
}

void MSComm100::setRThreshold(int threshold)
{
    if (threshold < 0)
        throw refusedSetting(QStringLiteral("receive threshold"), QString::number(threshold));
    m_rThreshold = threshold;
}

int MSComm100::InBufferCount() const { return int(qMin<qint64>(m_line->bytesAvailable(), MaxInBufferCount)); }

void MSComm100::setInBufferCount(int count)
{
    if (count != 0)
        throw refusedSetting(QStringLiteral("receive buffer count"), QString::number(count));
    m_line->discardInput();
}

void MSComm100::Output(const QByteArray &bytes)
{
    requireOpen();
    m_line->write(bytes);
}

QByteArray MSComm100::Input()
{
    requireOpen();
    return m_line->read(m_inputLen);
}

void MSComm100::onBytesArrived()
{
    if (m_rThreshold > 0 && m_line->bytesAvailable() >= m_rThreshold)
        emit OnComm();
}

void MSComm100::requireOpen() const
{
    if (!m_line->isOpen())
        throw SerialError(SerialError::Kind::NotOpen, QStringLiteral("the port is not open"));
}
