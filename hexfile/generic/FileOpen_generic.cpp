// Systems without POSIX descriptors: the type is checked by name before opening.
// Between the check and the opening the name could change; only POSIX systems,
// where pipes and devices sit among ordinary files, get the check on the open file.
#include "FileOpen.h"
#include "HexFile.h"

#include <QFile>
#include <QFileInfo>

namespace HexFile {

// UTF-16 names (Windows) survive UTF-8 whole; the system's 8-bit code page would not.
QByteArray encodeName(const QString &name) { return name.toUtf8(); }
QString decodeName(const QByteArray &encodedPath) { return QString::fromUtf8(encodedPath); }

} // namespace HexFile

namespace HexFile::Internal {

void openRegularFile(QFile &file, const QByteArray &encodedPath)
{
    const QString open = QStringLiteral("open");
    const QFileInfo info(decodeName(encodedPath));
    if (info.exists() && !info.isFile())
        refuseFile(open, encodedPath, notRegularFile(info.isDir() ? QStringLiteral("a folder") : QStringLiteral("a special file")));
    file.setFileName(info.filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        refuseFile(open, encodedPath, file.errorString());
}

} // namespace HexFile::Internal
