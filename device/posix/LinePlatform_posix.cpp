#include "LinePlatform.h"

#include "SerialLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

#include <QFile>

namespace {
QString systemReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

[[noreturn]] void heldElsewhere(const QString &devicePath, const QString &how)
{
    throw SerialError(SerialError::Kind::Busy,
                      QStringLiteral("%1: another program holds the port (%2)").arg(devicePath, how));
}
} // namespace

namespace LinePlatform {

// The probe stays open until QSerialPort has its own descriptor, so that it
// is never the last close of the device (which could drop the modem lines).
OpenGuard::OpenGuard(const QString &devicePath)
{
    m_handle = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_handle < 0) {
        if (errno == EBUSY)
            heldElsewhere(devicePath, QStringLiteral("opened for exclusive use"));
        return; // QSerialPort's own open reports what is wrong
    }
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (::ioctl(m_handle, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(m_handle);
        m_handle = -1;
        heldElsewhere(devicePath, QStringLiteral("opened for exclusive use"));
    }
#endif
}

OpenGuard::~OpenGuard()
{
    if (m_handle >= 0)
        ::close(m_handle);
}

void lockDevice(qintptr handle, const QString &devicePath)
{
    if (::flock(int(handle), LOCK_EX | LOCK_NB) == 0)
        return;
    if (errno == EWOULDBLOCK)
        heldElsewhere(devicePath, QStringLiteral("locked"));
    // Any other errno: the device does not take locks; QSerialPort's lock file still applies.
}

bool askForLowLatency(qintptr handle)
{
#ifdef Q_OS_LINUX
    serial_struct info {};
    if (::ioctl(int(handle), TIOCGSERIAL, &info) != 0)
        return false; // not a UART-like driver (a pseudo-terminal): used as it is
    if (info.flags & ASYNC_LOW_LATENCY)
        return false;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(int(handle), TIOCSSERIAL, &info) == 0;
#else
    (void)handle;
    return false;
#endif
}

void dropLowLatency(qintptr handle)
{
#ifdef Q_OS_LINUX
    serial_struct info {};
    if (::ioctl(int(handle), TIOCGSERIAL, &info) != 0)
        return; // the device went away: nothing left to put back
    info.flags &= ~ASYNC_LOW_LATENCY;
    if (::ioctl(int(handle), TIOCSSERIAL, &info) != 0)
        qWarning("cannot put back the driver's latency setting: %s", std::strerror(errno));
#else
    (void)handle;
#endif
}

qint64 writeDirectly(qintptr handle, const QByteArray &bytes)
{
    const ssize_t written = ::write(int(handle), bytes.constData(), size_t(bytes.size()));
    if (written >= 0)
        return written;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    if (errno == EIO || errno == ENXIO || errno == ENODEV)
        throw SerialError(SerialError::Kind::IoFailed, QStringLiteral("the device went away (unplugged?)"));
    throw SerialError(SerialError::Kind::IoFailed, systemReason());
}

} // namespace LinePlatform
