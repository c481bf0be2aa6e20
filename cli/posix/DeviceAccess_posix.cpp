// The same tests an opener meets, in the order it meets them: the file's
// permissions, TIOCEXCL (EBUSY for all but root; root is let in, so it is
// asked for), an exclusive flock (what the window takes), and QSerialPort's
// lock file (what any Qt program takes).
#include "DeviceAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Where QSerialPort keeps its lock files on Debian (/var/lock leads to /run/lock).
const char *const LockFolders[] = {"/var/lock", "/run/lock"};

// QSerialPort names its lock file after the device as it was given:
// "/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/serial/by-id/x" -> "LCK..serial_by-id_x".
QString lockFileName(QString device)
{
    if (device.startsWith(QLatin1String("/dev/")))
        device.remove(0, 5);
    return QStringLiteral("LCK..") + device.replace(QLatin1Char('/'), QLatin1Char('_'));
}

// Root opens a device held with TIOCEXCL all the same; our own opening
// refuses it, so the listing must say so too.
bool heldExclusively(int fd)
{
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    (void)fd;
    return false;
#endif
}

bool processAlive(qint64 pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// A lock file whose owner has died is stale: QSerialPort takes the device over.
bool heldByLockFile(const QString &path)
{
    for (const QString &name : {path, QFileInfo(path).canonicalFilePath()}) {
        for (const char *folder : LockFolders) {
            qint64 pid = 0;
            QString hostName;
            QString appName;
            const QLockFile lock(QString::fromLatin1(folder) + QLatin1Char('/') + lockFileName(name));
            if (lock.getLockInfo(&pid, &hostName, &appName) && processAlive(pid))
                return true;
        }
    }
    return false;
}

DeviceAccess openFailure(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return DeviceAccess::PermissionDenied;
    case EBUSY:
        return DeviceAccess::Busy;
    default: // ENOENT, ENXIO, ENODEV, EIO: nothing usable behind the name
        return DeviceAccess::Missing;
    }
}

} // namespace

DeviceAccess deviceAccess(const QString &path)
{
    if (path.isEmpty())
        return DeviceAccess::Missing;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return openFailure(errno);
    // The exclusive lock an opener takes is refused while anyone holds a lock,
    // shared ones included; this one goes away with the descriptor.
    const bool flocked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    const bool exclusive = heldExclusively(fd);
    ::close(fd);
    if (exclusive || flocked || heldByLockFile(path))
        return DeviceAccess::Busy;
    return DeviceAccess::Ok;
}
