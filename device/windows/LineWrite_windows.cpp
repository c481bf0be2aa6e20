// Windows: the frames written straight to the driver; the rest of
// LinePlatform is generic/'s.
#include "LinePlatform.h"

#include "SerialLine.h"

#include <windows.h>

namespace LinePlatform {

// QSerialPort's write waits for the next pass of the event loop and ends
// through its completion port and thread: under Wine 13 of the 72 wineserver
// requests of each word, and a sixth of its time. A frame is handed to the driver here and the call waits
// until the driver has it, as a POSIX write() does. The event's low bit keeps
// this call's end off QSerialPort's completion port.
qint64 writeDirectly(qintptr handle, const QByteArray &bytes)
{
    constexpr DWORD LongestWaitMs = 2000; // a driver that takes no data for this long has failed
    static const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto port = reinterpret_cast<HANDLE>(handle);
    OVERLAPPED call{};
    call.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(done) | 1);
    DWORD written = 0;
    if (!WriteFile(port, bytes.constData(), DWORD(bytes.size()), nullptr, &call) && GetLastError() != ERROR_IO_PENDING)
        throw SerialError(SerialError::Kind::IoFailed, qt_error_string(int(GetLastError())));
    if (WaitForSingleObject(done, LongestWaitMs) != WAIT_OBJECT_0) {
        CancelIoEx(port, &call);
        GetOverlappedResult(port, &call, &written, TRUE);
        throw SerialError(SerialError::Kind::IoFailed, QStringLiteral("the port took no data for 2 s"));
    }
    if (!GetOverlappedResult(port, &call, &written, FALSE))
        throw SerialError(SerialError::Kind::IoFailed, qt_error_string(int(GetLastError())));
    return qint64(written);
}

} // namespace LinePlatform
