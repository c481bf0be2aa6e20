// Whether this user may open a serial device now, for `kitupdater-cli ports`.
#pragma once

#include <QString>

enum class DeviceAccess {
    Ok,
    Busy,             // another program holds it
    PermissionDenied, // it exists, but this user may not open it
    Missing,          // no such device, or nothing behind it now
};

// Looks without leaving a trace: the device is opened without becoming the
// controlling terminal, nothing is set on it, and it is closed again at once.
DeviceAccess deviceAccess(const QString &path);
