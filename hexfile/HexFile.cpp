#include "HexFile.h"

#include "FileOpen.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

// How much is asked of the file per read call.
constexpr qint64 ReadChunkSize = 1024 * 1024;

[[noreturn]] void refuseTooLargeFile(const QByteArray &encodedPath, const QString &size)
{
    HexFile::refuseTooLarge(HexFile::decodeName(encodedPath).toStdString(), size.toStdString());
}

// Reads at most MaxFileSize + 1 bytes, so a file that grows while it is read is
// noticed without holding more than that in memory.
QByteArray readBounded(QFile &file, const QByteArray &encodedPath)
{
    constexpr qint64 limit = HexFile::MaxFileSize + 1;
    QByteArray content;
    content.reserve(qsizetype(qMin(file.size(), limit)));
    while (content.size() < limit) {
        const qsizetype filled = content.size();
        const qint64 wanted = qMin(ReadChunkSize, limit - filled);
        content.resize(filled + qsizetype(wanted));
        const qint64 got = file.read(content.data() + filled, wanted);
        if (got < 0)
            HexFile::Internal::refuseFile(QStringLiteral("read"), encodedPath, file.errorString());
        content.resize(filled + qsizetype(got));
        if (got == 0)
            break;
    }
    if (content.size() > HexFile::MaxFileSize)
        refuseTooLargeFile(encodedPath, QStringLiteral("more than %1").arg(HexFile::MaxFileSize));
    return content;
}

} // namespace

namespace HexFile {

HexImage parse(const QByteArray &content)
{
    return parse(std::string_view(content.constData(), std::size_t(content.size())));
}

HexImage readEncoded(const QByteArray &encodedPath)
{
    QFile file;
    Internal::openRegularFile(file, encodedPath);
    if (file.size() > MaxFileSize)
        refuseTooLargeFile(encodedPath, QString::number(file.size()));
    const QByteArray content = readBounded(file, encodedPath);
    HexImage image = parse(content);
    image.sha256 = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
    return image;
}

HexImage read(const QString &path)
{
    return readEncoded(encodeName(path));
}

namespace Internal {

void refuseFile(const QString &action, const QByteArray &encodedPath, const QString &why)
{
    throw HexFileError(QStringLiteral("cannot %1 \"%2\": %3").arg(action, decodeName(encodedPath), why).toStdString());
}

QString notRegularFile(const QString &kind)
{
    return QStringLiteral("it is %1, not a regular file").arg(kind);
}

} // namespace Internal

} // namespace HexFile
