// Systems without the POSIX extras: QSerialPort alone. Windows has no more
// to offer here (a COM port is open for one program at a time, and has no
// request for a shorter latency); its direct write lives in windows/.
#include "LinePlatform.h"

namespace LinePlatform {

OpenGuard::OpenGuard(const QString &) {}
OpenGuard::~OpenGuard() = default;
void lockDevice(qintptr, const QString &) {}
bool askForLowLatency(qintptr) { return false; }
void dropLowLatency(qintptr) {}

} // namespace LinePlatform
