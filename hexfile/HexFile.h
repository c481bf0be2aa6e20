// Reading a HEX file from the file system for the reader in core/, and the
// digest that the update history keeps of it.
#pragma once

#include "HexImage.h"

#include <QByteArray>
#include <QString>

namespace HexFile {

// Reads a regular file (refusing more than MaxFileSize bytes, and anything that is
// not a regular file), parses it and takes its SHA-256. encodedPath is the name's
// bytes as the file system holds them, so that a name that is not valid UTF-8
// opens too. Throws HexFileError.
HexImage readEncoded(const QByteArray &encodedPath);

// readEncoded(encodeName(path)).
HexImage read(const QString &path);

// A file's name as the bytes readEncoded takes, and back, without loss: on
// POSIX systems the bytes the file system holds, so that a name that is not
// valid UTF-8 still opens; on Windows, whose names are UTF-16, their UTF-8
// (Qt's QFile::encodeName there uses the ANSI code page, which cannot spell
// every name: a Japanese folder on a Western Windows would become "???").
QByteArray encodeName(const QString &name);
QString decodeName(const QByteArray &encodedPath);

// parse() of the bytes of a QByteArray.
HexImage parse(const QByteArray &content);

// The reason of a refusal as the desktop shows it.
inline QString describe(const HexFileError &error) { return QString::fromStdString(error.describe()); }

} // namespace HexFile
