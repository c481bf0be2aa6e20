#include "FileOpen.h"
#include "HexFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe (FIFO)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a special file");
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

namespace HexFile {

QByteArray encodeName(const QString &name) { return QFile::encodeName(name); }
QString decodeName(const QByteArray &encodedPath) { return QFile::decodeName(encodedPath); }

} // namespace HexFile

namespace HexFile::Internal {

void openRegularFile(QFile &file, const QByteArray &encodedPath)
{
    const QString open = QStringLiteral("open");
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting
    // for one. O_NOCTTY: a terminal named by mistake must not become ours.
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0) {
        const int openError = errno;
        // A socket cannot be opened at all (ENXIO): say what it is rather than the bare error.
        if (::stat(encodedPath.constData(), &info) == 0 && !S_ISREG(info.st_mode))
            refuseFile(open, encodedPath, notRegularFile(kindOf(info.st_mode)));
        refuseFile(open, encodedPath, systemError(openError));
    }
    if (::fstat(fd, &info) != 0) {
        const int statError = errno;
        ::close(fd);
        refuseFile(open, encodedPath, systemError(statError));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        refuseFile(open, encodedPath, notRegularFile(kindOf(info.st_mode)));
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        refuseFile(open, encodedPath, file.errorString());
    }
}

} // namespace HexFile::Internal
