// Systems without the POSIX extras: QSerialPort alone.
#include "LinePlatform.h"

namespace LinePlatform {

OpenGuard::OpenGuard(const QString &) {}
OpenGuard::~OpenGuard() = default;
void lockDevice(qintptr, const QString &) {}
bool askForLowLatency(qintptr) { return false; }
void dropLowLatency(qintptr) {}
qint64 writeDirectly(qintptr, const QByteArray &) { return -1; }

} // namespace LinePlatform
