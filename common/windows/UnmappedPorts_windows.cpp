#include "UnmappedPorts.h"

namespace UnmappedPorts {

// Windows counts COM ports from 1, as port numbers do.
QString prefix() { return QStringLiteral("COM"); }
int offset() { return 0; }

} // namespace UnmappedPorts
