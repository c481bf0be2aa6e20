#include "QtSerialLine.h"

#include "LinePlatform.h"

#include <QFileInfo>
#include <QTimer>

namespace {

QSerialPort::Parity parityOf(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits stopBitsOf(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl flowControlOf(LineSettings::FlowControl flow)
{
    switch (flow) {
    case LineSettings::FlowControl::None:
        return QSerialPort::NoFlowControl;
    case LineSettings::FlowControl::XonXoff:
        return QSerialPort::SoftwareControl;
    case LineSettings::FlowControl::RtsCts:
        return QSerialPort::HardwareControl;
    }
    return QSerialPort::NoFlowControl;
}

bool mayBeOpened(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isReadable() && info.isWritable();
}

} // namespace

QtSerialLine::QtSerialLine(QObject *parent) : SerialLine(parent)
{
    m_serial.setReadBufferSize(InputBufferSize);
    connect(&m_serial, &QSerialPort::readyRead, this, &SerialLine::bytesArrived);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &QtSerialLine::onError);
}

QtSerialLine::~QtSerialLine() { close(); }

// A descriptor on POSIX systems, a HANDLE on Windows.
qintptr QtSerialLine::nativeHandle() const { return (qintptr)m_serial.handle(); }

void QtSerialLine::open(const QString &devicePath, const LineSettings &settings)
{
    if (m_serial.isOpen())
        throw SerialError(SerialError::Kind::AlreadyOpen, QStringLiteral("the port is already open"));
    m_devicePath = devicePath;
    const LinePlatform::OpenGuard guard(devicePath);
    openSerial(devicePath, settings);
    try {
        LinePlatform::lockDevice(nativeHandle(), devicePath);
    } catch (...) {
        m_serial.close();
        throw;
    }
    m_lowLatencyAsked = LinePlatform::askForLowLatency(nativeHandle());
}

void QtSerialLine::openSerial(const QString &devicePath, const LineSettings &settings)
{
    m_serial.setPortName(devicePath);
    apply(settings); // on a closed port QSerialPort only keeps them for the opening
    if (m_serial.open(QIODevice::ReadWrite))
        return;
    const QSerialPort::SerialPortError error = m_serial.error();
    if (error == QSerialPort::PermissionError && mayBeOpened(devicePath))
        // Qt reports a lock file held by another program as a permission error.
        throw SerialError(SerialError::Kind::Busy,
                          devicePath + QStringLiteral(": another program holds the port (its lock file)"));
    const SerialError::Kind kind =
        error == QSerialPort::PermissionError ? SerialError::Kind::PermissionDenied : SerialError::Kind::OpenFailed;
    throw SerialError(kind, devicePath + QStringLiteral(": ") + m_serial.errorString());
}

void QtSerialLine::close()
{
    if (m_serial.isOpen())
        closeSerial();
}

void QtSerialLine::closeSerial()
{
    if (m_lowLatencyAsked)
        LinePlatform::dropLowLatency(nativeHandle());
    m_lowLatencyAsked = false;
    m_serial.close();
}

bool QtSerialLine::apply(const LineSettings &settings)
{
    return m_serial.setBaudRate(settings.baudRate) && m_serial.setParity(parityOf(settings.parity))
           && m_serial.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits))
           && m_serial.setStopBits(stopBitsOf(settings.stopBits))
           && m_serial.setFlowControl(flowControlOf(settings.flowControl));
}

void QtSerialLine::configure(const LineSettings &settings)
{
    if (!apply(settings))
        throw SerialError(SerialError::Kind::Refused, m_devicePath + QStringLiteral(": ") + m_serial.errorString());
}

// One write() per frame, straight to the driver: QSerialPort's write buffer
// would arm and disarm its write notifier for every frame, three more passes
// of the event loop per word. What the driver does not take at once goes
// through the buffer, behind anything queued before it.
void QtSerialLine::write(const QByteArray &bytes)
{
    if (!m_serial.isOpen())
        throw SerialError(SerialError::Kind::NotOpen, QStringLiteral("the port is not open"));
    qint64 written = 0;
    if (m_serial.bytesToWrite() == 0) {
        try {
            written = LinePlatform::writeDirectly(nativeHandle(), bytes);
        } catch (const SerialError &error) {
            fail(error.reason());
        }
    }
    if (written < 0)
        written = 0;
    if (written == bytes.size())
        return;
    const qint64 rest = bytes.size() - written;
    if (m_serial.write(bytes.constData() + written, rest) != rest)
        fail(m_serial.errorString());
}

qint64 QtSerialLine::bytesAvailable() const { return m_serial.isOpen() ? m_serial.bytesAvailable() : 0; }

QByteArray QtSerialLine::read(qint64 maxBytes)
{
    if (!m_serial.isOpen())
        return QByteArray();
    return maxBytes > 0 ? m_serial.read(maxBytes) : m_serial.readAll();
}

// clear() empties QSerialPort's buffer and the driver's. Reading afterwards
// lets QSerialPort listen again if its full buffer had made it stop.
void QtSerialLine::discardInput()
{
    if (!m_serial.isOpen())
        return;
    if (!m_serial.clear(QSerialPort::Input))
        fail(m_serial.errorString());
    m_serial.readAll();
}

// A failed line (adapter unplugged, pseudo-terminal hung up) must not keep
// signalling: it is closed once control is back out of QSerialPort.
void QtSerialLine::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_serial.isOpen())
        return;
    const QString reason = reasonOf(error);
    QTimer::singleShot(0, this, [this, reason] {
        if (!m_serial.isOpen())
            return;
        closeSerial();
        emit failed(reason);
    });
}

// A read that fails on an open line is a hang-up or a pulled plug; Qt's text
// for it carries whatever the last system error was.
QString QtSerialLine::reasonOf(QSerialPort::SerialPortError error) const
{
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        return m_devicePath + QStringLiteral(": the device went away (unplugged?)");
    return m_devicePath + QStringLiteral(": ") + m_serial.errorString();
}

void QtSerialLine::fail(const QString &reason)
{
    close();
    throw SerialError(SerialError::Kind::IoFailed, m_devicePath + QStringLiteral(": ") + reason);
}
