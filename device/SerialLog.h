// Trace of the serial exchanges: every frame sent and every answer received,
// with a microsecond time of day. Off by default; switch it on with the rule
// "kitupdater.serial.debug=true" (QT_LOGGING_RULES or QLoggingCategory).
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcKitSerial)

// Local time of day with microseconds, e.g. "14:03:27.512034".
QString serialLogTimestamp();

// "sent" / "received" lines; the arguments are only built when the category is on.
#define KIT_SERIAL_TRACE(direction, bytes) \
    qCDebug(lcKitSerial).noquote() << serialLogTimestamp() << (direction) << (bytes).toHex(' ')
