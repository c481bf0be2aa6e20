#include "AppendFile.h"

#include <QDir>
#include <windows.h>

namespace AppendFile {

namespace {
QString lastError()
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, GetLastError(), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("unknown error");
    LocalFree(text);
    return message;
}

bool endsInsideALine(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0)
        return false;
    LARGE_INTEGER lastByte{};
    lastByte.QuadPart = size.QuadPart - 1;
    char last = '\n';
    DWORD read = 0;
    return SetFilePointerEx(file, lastByte, nullptr, FILE_BEGIN) && ReadFile(file, &last, 1, &read, nullptr)
        && read == 1 && last != '\n';
}
} // namespace

QString appendLine(const QString &path, QByteArray line)
{
    // Append data without write data: Windows puts every write at the end.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                    FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QStringLiteral("cannot open %1: %2").arg(path, lastError());
    // The appends also take turns under a lock on one byte far past any end:
    // looking at the last byte and writing must not interleave with another
    // program's append, and not every implementation of Windows appends whole
    // (Wine's does not). The system queues the waiters and frees the lock
    // with its holder.
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
    if (endsInsideALine(file))
        line.prepend('\n');
    DWORD written = 0;
    const bool ok = WriteFile(file, line.constData(), DWORD(line.size()), &written, nullptr)
        && written == DWORD(line.size());
    const QString error = ok ? QString() : QStringLiteral("cannot write %1: %2").arg(path, lastError());
    if (locked)
        UnlockFileEx(file, 0, 1, 0, &turn);
    CloseHandle(file);
    return error;
}

} // namespace AppendFile
