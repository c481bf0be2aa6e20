// What a serial line needs from the operating system beyond QSerialPort.
// One implementation per platform family, chosen by CMake.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace LinePlatform {

// Held while a device is being opened: refuses a device that another program
// holds for itself before QSerialPort touches it (whose own exclusive flag
// does not count for root, and whose close would clear the holder's flag).
class OpenGuard {
public:
    // Throws SerialError (Busy) when another program holds the device exclusively.
    explicit OpenGuard(const QString &devicePath);
    ~OpenGuard();
    OpenGuard(const OpenGuard &) = delete;
    OpenGuard &operator=(const OpenGuard &) = delete;

private:
    int m_handle = -1;
};

// Keeps other programs out of the open device (an advisory lock beside
// QSerialPort's lock file). Throws SerialError (Busy) when one holds it already.
void lockDevice(qintptr handle, const QString &devicePath);

// Asks the driver to hand over each received byte at once (USB adapters
// otherwise hold bytes for their latency timer). A driver that refuses still
// works. True when the setting was changed, and so must be put back.
bool askForLowLatency(qintptr handle);

// Puts back the driver's own setting before the device is closed: the flag
// outlives the opening and would leave the adapter polling every millisecond
// for whatever program opens it next.
void dropLowLatency(qintptr handle);

// Writes straight to the driver. Returns how many bytes it took (0: none for
// now, queue them), or -1 when writing directly is not possible here. Throws
// SerialError (IoFailed) when the line has failed.
qint64 writeDirectly(qintptr handle, const QByteArray &bytes);

} // namespace LinePlatform
