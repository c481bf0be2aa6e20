// Appending whole lines to a file that several programs append to at once
// (the update history): one write at the file's end, which no other
// program's append can split or overwrite. One implementation per platform
// family: O_APPEND on POSIX, an append-only handle on Windows (a file Qt opens
// for appending is only moved to its end once, when it is opened).
#pragma once

#include <QByteArray>
#include <QString>

namespace AppendFile {

// Appends line (which ends with a newline). When the file's last byte is no
// newline (a crash or a full disk cut the last line short), the line starts on
// a fresh one. Returns the empty text, or why it could not be written.
QString appendLine(const QString &path, QByteArray line);

} // namespace AppendFile
