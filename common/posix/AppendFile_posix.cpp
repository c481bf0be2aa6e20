#include "AppendFile.h"

#include <QFile>

namespace AppendFile {

QString appendLine(const QString &path, QByteArray line)
{
    QFile file(path);
    // Append: O_APPEND, each write goes to the end as it is then.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    const qint64 size = file.size();
    char last = '\n';
    if (size > 0 && file.seek(size - 1) && file.getChar(&last) && last != '\n')
        line.prepend('\n');
    if (file.write(line) != line.size())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}

} // namespace AppendFile
