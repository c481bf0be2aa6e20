// Platforms without POSIX devices: only whether the device is there.
#include "DeviceAccess.h"

#include <QSerialPortInfo>

DeviceAccess deviceAccess(const QString &path)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.portName() == path || info.systemLocation() == path)
            return DeviceAccess::Ok;
    }
    return DeviceAccess::Missing;
}
