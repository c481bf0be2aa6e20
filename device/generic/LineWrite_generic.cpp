// Systems without a direct write: frames go through QSerialPort's buffer.
#include "LinePlatform.h"

namespace LinePlatform {

qint64 writeDirectly(qintptr, const QByteArray &) { return -1; }

} // namespace LinePlatform
