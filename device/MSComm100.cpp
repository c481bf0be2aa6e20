#include "MSComm100.h"

#include "PortMap.h"

#include <QFileInfo>
#include <QStringList>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {
constexpr int MaxInBufferCount = std::numeric_limits<qint16>::max();

struct LineSettings {
    qint32 baudRate;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

SerialError refusedSetting(const QString &what, const QString &value)
{
    return SerialError(SerialError::Kind::Refused, QStringLiteral("unsupported %1: \"%2\"").arg(what, value));
}

QSerialPort::Parity parityFromLetter(const QString &letter)
{
    const QString l = letter.toLower();
    if (l == QLatin1String("n"))
        return QSerialPort::NoParity;
    if (l == QLatin1String("e"))
        return QSerialPort::EvenParity;
    if (l == QLatin1String("o"))
        return QSerialPort::OddParity;
    if (l == QLatin1String("m"))
        return QSerialPort::MarkParity;
    if (l == QLatin1String("s"))
        return QSerialPort::SpaceParity;
    throw refusedSetting(QStringLiteral("parity"), letter);
}

QSerialPort::DataBits dataBitsFromText(const QString &text)
{
    bool ok = false;
    const int bits = text.toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        throw refusedSetting(QStringLiteral("data bits"), text);
    return static_cast<QSerialPort::DataBits>(bits);
}

QSerialPort::StopBits stopBitsFromText(const QString &text)
{
    if (text == QLatin1String("1"))
        return QSerialPort::OneStop;
    if (text == QLatin1String("1.5"))
        return QSerialPort::OneAndHalfStop;
    if (text == QLatin1String("2"))
        return QSerialPort::TwoStop;
    throw refusedSetting(QStringLiteral("stop bits"), text);
}

LineSettings parseLineSettings(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        throw refusedSetting(QStringLiteral("line settings"), text);
    bool ok = false;
    const qint32 baudRate = parts[0].toInt(&ok);
    if (!ok || baudRate <= 0)
        throw refusedSetting(QStringLiteral("speed"), parts[0]);
    return {baudRate, parityFromLetter(parts[1]), dataBitsFromText(parts[2]), stopBitsFromText(parts[3])};
}

QSerialPort::FlowControl flowControlFromHandshaking(int mode)
{
    switch (mode) {
    case 0:
        return QSerialPort::NoFlowControl;
    case 1:
        return QSerialPort::SoftwareControl;
    case 2:
        return QSerialPort::HardwareControl;
    default:
        throw refusedSetting(QStringLiteral("handshaking"), QString::number(mode));
    }
}

bool deviceIsAccessible(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isReadable() && info.isWritable();
}

SerialError::Kind kindOfOpenFailure(QSerialPort::SerialPortError error, const QString &path)
{
    if (error == QSerialPort::PermissionError)
        // Qt reports a lock held by another opener as a permission error.
        return deviceIsAccessible(path) ? SerialError::Kind::Busy : SerialError::Kind::PermissionDenied;
    return SerialError::Kind::OpenFailed;
}

// USB serial adapters otherwise hold each answer byte for their latency timer
// (16 ms), which would set the speed of a word-by-word update.
void askForLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct info {};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return; // not a UART-like driver (a pseudo-terminal): used as it is
    if (info.flags & ASYNC_LOW_LATENCY)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info); // a driver that refuses it still works, only slower
#else
    (void)fd;
#endif
}

int millisecondsUntil(const QDeadlineTimer &deadline)
{
    const qint64 ns = deadline.remainingTimeNSecs();
    const qint64 ms = (ns + 999999) / 1000000; // round up: never wake before the deadline
    return static_cast<int>(qBound(qint64(0), ms, qint64(std::numeric_limits<int>::max())));
}
} // namespace

SerialError::SerialError(Kind kind, const QString &reason)
    : std::runtime_error(reason.toStdString()), m_kind(kind)
{
}

MSComm100::MSComm100(const SettingsStore &settings) : m_settings(settings)
{
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_deadlineTimer, &QTimer::timeout, &m_serial, [this] { wake(); });
    QObject::connect(&m_serial, &QSerialPort::readyRead, &m_serial, [this] { onReadyRead(); });
    QObject::connect(&m_serial, &QSerialPort::errorOccurred, &m_serial,
                     [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

MSComm100::~MSComm100() { close(); }

bool MSComm100::PortOpen() const { return m_serial.isOpen(); }

void MSComm100::setPortOpen(bool open)
{
    if (open)
        this->open();
    else
        close();
}

void MSComm100::open()
{
    if (m_serial.isOpen())
        throw SerialError(SerialError::Kind::AlreadyOpen, QStringLiteral("the port is already open"));
    if (m_devicePath.isEmpty())
        throw SerialError(SerialError::Kind::Refused, QStringLiteral("no port number has been set"));
    m_lineFailure.clear();
    m_interruptPending = false;
    m_serial.setPortName(m_devicePath);
    applyLineSettings();
    if (!m_serial.open(QIODevice::ReadWrite))
        throw SerialError(kindOfOpenFailure(m_serial.error(), m_devicePath),
                          m_devicePath + QStringLiteral(": ") + m_serial.errorString());
    try {
        lockDevice();
    } catch (...) {
        m_serial.close();
        throw;
    }
    askForLowLatency(static_cast<int>(m_serial.handle()));
}

// QSerialPort's lock file keeps out other Qt programs, and TIOCEXCL does not
// count for root. An exclusive flock on the device also keeps out programs that
// lock the device that way instead of with a lock file.
void MSComm100::lockDevice()
{
#ifdef Q_OS_UNIX
    if (::flock(static_cast<int>(m_serial.handle()), LOCK_EX | LOCK_NB) == 0)
        return;
    if (errno == EWOULDBLOCK)
        throw SerialError(SerialError::Kind::Busy, m_devicePath + QStringLiteral(": held by another program"));
    // Any other errno: the device does not support locks; Qt's lock file still applies.
#endif
}

void MSComm100::close()
{
    if (m_serial.isOpen())
        m_serial.close();
    wake(); // a wait running under this call must see the closed port at once
}

void MSComm100::setCommPort(int number)
{
    if (m_serial.isOpen())
        throw SerialError(SerialError::Kind::AlreadyOpen, QStringLiteral("the port number cannot change while the port is open"));
    const QString path = devicePathForPort(number, m_settings);
    if (path.isEmpty())
        throw SerialError(SerialError::Kind::Refused, QStringLiteral("port number %1 names no serial device").arg(number));
    m_portNumber = number;
    m_devicePath = path;
}

void MSComm100::setSettings(const QString &settings)
{
    const LineSettings line = parseLineSettings(settings);
    m_baudRate = line.baudRate;
    m_parity = line.parity;
    m_dataBits = line.dataBits;
    m_stopBits = line.stopBits;
    m_settingsText = settings;
    if (m_serial.isOpen())
        applyLineSettings();
}

void MSComm100::applyLineSettings()
{
    const bool applied = m_serial.setBaudRate(m_baudRate) && m_serial.setParity(m_parity)
        && m_serial.setDataBits(m_dataBits) && m_serial.setStopBits(m_stopBits)
        && m_serial.setFlowControl(m_flowControl);
    if (!applied)
        throw SerialError(SerialError::Kind::Refused, m_devicePath + QStringLiteral(": ") + m_serial.errorString());
}

void MSComm100::setInputMode(int mode)
{
    if (mode != 0 && mode != 1)
        throw refusedSetting(QStringLiteral("input mode"), QString::number(mode));
}

void MSComm100::setHandshaking(int mode)
{
    m_flowControl = flowControlFromHandshaking(mode);
    if (m_serial.isOpen() && !m_serial.setFlowControl(m_flowControl))
        throw SerialError(SerialError::Kind::Refused, m_devicePath + QStringLiteral(": ") + m_serial.errorString());
}

void MSComm100::setInputLen(int length)
{
    if (length < 0)
        throw refusedSetting(QStringLiteral("input length"), QString::number(length));
    m_inputLen = length;
}

void MSComm100::setRThreshold(int threshold)
{
    // Arrival is never notified to the caller here: waitForInput is the only way to wait.
    if (threshold < 0)
        throw refusedSetting(QStringLiteral("receive threshold"), QString::number(threshold));
}

int MSComm100::InBufferCount() const
{
    if (!m_serial.isOpen())
        return 0;
    return static_cast<int>(qMin<qint64>(m_serial.bytesAvailable(), MaxInBufferCount));
}

void MSComm100::setInBufferCount(int count)
{
    if (count != 0)
        throw refusedSetting(QStringLiteral("receive buffer count"), QString::number(count));
    if (!m_serial.isOpen())
        return;
    throwIfFailed();
    if (!m_serial.clear(QSerialPort::Input)) {
        throwIfFailed();
        failLine(m_serial.errorString());
    }
}

void MSComm100::Output(const QByteArray &bytes)
{
    throwIfFailed();
    requireOpen();
    if (writeDirectly(bytes))
        return;
    // The driver did not take the frame at once (output queue full): QSerialPort
    // queues it and writes it as the line drains (no flush(): Qt would take the
    // full queue for a failed line).
    if (m_serial.write(bytes) != bytes.size())
        failLine(m_serial.errorString());
}

// One write() per frame, straight to the driver: going through QSerialPort's
// write buffer would arm and disarm its write notifier for every frame, three
// more passes of the event loop per word. Returns false when nothing was
// written (the caller then queues the frame); a part written is finished
// through the queue so that the bytes stay in order.
bool MSComm100::writeDirectly(const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    if (m_serial.bytesToWrite() > 0)
        return false; // earlier bytes still queued: keep the order
    const ssize_t written = ::write(static_cast<int>(m_serial.handle()), bytes.constData(), size_t(bytes.size()));
    if (written == bytes.size())
        return true;
    if (written > 0) {
        if (m_serial.write(bytes.constData() + written, bytes.size() - written) != bytes.size() - written)
            failLine(m_serial.errorString());
        return true;
    }
    if (errno == EAGAIN || errno == EINTR)
        return false;
    failLine(QString::fromLocal8Bit(std::strerror(errno)));
#else
    (void)bytes;
    return false;
#endif
}

QByteArray MSComm100::Input()
{
    throwIfFailed();
    requireOpen();
    return m_inputLen > 0 ? m_serial.read(m_inputLen) : m_serial.readAll();
}

CommPort::WaitResult MSComm100::waitForInput(int atLeast, QDeadlineTimer deadline)
{
    throwIfFailed();
    requireOpen();
    for (;;) {
        if (m_interruptPending) {
            m_interruptPending = false;
            return WaitResult::Interrupted;
        }
        if (m_serial.bytesAvailable() >= atLeast)
            return WaitResult::Ready;
        if (deadline.hasExpired())
            return WaitResult::TimedOut;

        m_wanted = atLeast;
        if (!deadline.isForever())
            m_deadlineTimer.start(millisecondsUntil(deadline));
        runEventsUntilWoken();
        m_deadlineTimer.stop();

        throwIfFailed();
        if (!m_serial.isOpen())
            throw SerialError(SerialError::Kind::NotOpen, QStringLiteral("the port was closed during the wait"));
    }
}

// Each pass blocks until some event arrives and handles it; the handlers of
// the port, the deadline timer and interruptWait() set m_woken. No quit of an
// event loop is involved, which would cost a wake-up of the dispatcher per word.
void MSComm100::runEventsUntilWoken()
{
    m_woken = false;
    m_waiting = true;
    while (!m_woken)
        m_waitLoop.processEvents(QEventLoop::WaitForMoreEvents);
    m_waiting = false;
}

void MSComm100::interruptWait()
{
    m_interruptPending = true;
    wake();
}

void MSComm100::wake()
{
    if (m_waiting)
        m_woken = true;
}

void MSComm100::onReadyRead()
{
    if (m_waiting && m_serial.bytesAvailable() >= m_wanted)
        wake();
}

// A failed line (adapter unplugged, pseudo-terminal hung up) must not keep
// signalling: the port is closed as soon as control is back out of QSerialPort,
// by the running wait or, outside any wait, by a queued call.
void MSComm100::onPortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_serial.isOpen())
        return;
    if (m_lineFailure.isEmpty())
        m_lineFailure = m_serial.errorString();
    wake();
    QTimer::singleShot(0, &m_serial, [this] {
        if (!m_lineFailure.isEmpty() && !m_waiting && m_serial.isOpen())
            m_serial.close();
    });
}

void MSComm100::throwIfFailed()
{
    if (m_lineFailure.isEmpty())
        return;
    const QString reason = m_lineFailure;
    m_lineFailure.clear();
    failLine(reason);
}

// A line that failed while open is closed: it is of no more use, and a closed
// port cannot keep signalling.
void MSComm100::failLine(const QString &reason)
{
    close();
    throw SerialError(SerialError::Kind::IoFailed, m_devicePath + QStringLiteral(": ") + reason);
}

void MSComm100::requireOpen() const
{
    if (!m_serial.isOpen())
        throw SerialError(SerialError::Kind::NotOpen, QStringLiteral("the port is not open"));
}
