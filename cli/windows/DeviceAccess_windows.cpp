// Windows opens a COM port for one program at a time: another program holding
// it makes CreateFile fail with "access denied", which here means busy.
#include "DeviceAccess.h"

#include <QString>
#include <windows.h>

namespace {

// "COM12" -> "\\.\COM12": ports above 9 are reachable only by that name.
std::wstring deviceName(const QString &path)
{
    const QString name = path.startsWith(QLatin1String("\\\\.\\")) ? path : QStringLiteral("\\\\.\\") + path;
    return name.toStdWString();
}

} // namespace

DeviceAccess deviceAccess(const QString &path)
{
    if (path.isEmpty())
        return DeviceAccess::Missing;
    const HANDLE handle = CreateFileW(deviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return DeviceAccess::Ok;
    }
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return DeviceAccess::Busy;
    default: // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_GEN_FAILURE: nothing behind the name
        return DeviceAccess::Missing;
    }
}
