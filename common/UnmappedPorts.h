// The devices that port numbers stand for when the settings map them to
// nothing: the machine's own serial ports, named the system's way (port 7 is
// /dev/ttyS6 on POSIX, COM7 on Windows). One implementation per platform
// family, chosen by CMake.
#pragma once

#include <QString>

namespace UnmappedPorts {

// The device's name before its index: "/dev/ttyS", "COM".
QString prefix();
// Port N is the device whose index is N - offset().
int offset();

} // namespace UnmappedPorts
