#include "SerialLog.h"

#include <QDateTime>
#include <chrono>

Q_LOGGING_CATEGORY(lcKitSerial, "kitupdater.serial", QtWarningMsg)

QString serialLogTimestamp()
{
    using namespace std::chrono;
    const qint64 us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(us / 1000);
    return at.toString(QStringLiteral("hh:mm:ss.")) + QStringLiteral("%1").arg(us % 1000000, 6, 10, QLatin1Char('0'));
}
