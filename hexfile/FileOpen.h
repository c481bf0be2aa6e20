// Opening a HEX file for reading, one implementation per platform family,
// beside the byte form of file names (HexFile::encodeName, decodeName).
// Internal to the reader; HexFile::readEncoded is the only caller.
#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace HexFile::Internal {

// Opens the file named by encodedPath (the name's bytes as the file system
// holds them) into file, read-only and unbuffered. Anything but a regular file
// (a folder, a pipe, a device, a socket) is refused at once, before a byte is
// read from it, so that reading never waits on a writer that may never come.
// Throws HexFileError.
void openRegularFile(QFile &file, const QByteArray &encodedPath);

// Refuses a file that cannot be opened or read: cannot <action> "<name>": <why>.
[[noreturn]] void refuseFile(const QString &action, const QByteArray &encodedPath, const QString &why);

// The why of refuseFile for an object that is not a regular file, e.g. "a folder".
QString notRegularFile(const QString &kind);

} // namespace HexFile::Internal
