// What this machine brings to port numbering: the numbers whose /dev/ttyS
// port the serial layer lists (they are never given to an adapter).
#pragma once

#include <QList>
#include <QRegularExpression>
#include <QSerialPortInfo>

inline QList<int> machineTtySNumbers()
{
    static const QRegularExpression ttyS(QStringLiteral("^/dev/ttyS([0-9]+)$"));
    QList<int> numbers;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QRegularExpressionMatch match = ttyS.match(info.systemLocation());
        if (match.hasMatch())
            numbers.append(match.captured(1).toInt() + 1);
    }
    return numbers;
}

// The tests fill numbers 1 to 9 themselves and expect adapters from 10 on.
inline bool machineTakesNumbersFrom10()
{
    for (int number : machineTtySNumbers()) {
        if (number >= 10 && number <= 20)
            return true;
    }
    return false;
}

// "[Ports]" lines for the numbers first to last, each mapped to a device that
// is not there.
inline QByteArray takenPorts(int first, int last)
{
    QByteArray lines;
    for (int number = first; number <= last; ++number)
        lines += QByteArray::number(number) + "=/dev/ttyUSB9" + QByteArray::number(number) + '\n';
    return lines;
}
