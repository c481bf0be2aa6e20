#include "UnmappedPorts.h"

namespace UnmappedPorts {

// The serial driver counts its ports from 0.
QString prefix() { return QStringLiteral("/dev/ttyS"); }
int offset() { return 1; }

} // namespace UnmappedPorts
