// What the ftdi_sio driver asked of the adapter, from usbmon's text log: the
// line settings in force when each bulk write went out.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// FTDI vendor requests' wValue (and wIndex for flow control), as usbmon shows them in hex.
struct LineState {
    QString baudDivisor; // SET_BAUDRATE (request 03)
    QString dataFormat;  // SET_DATA (04): data bits, parity << 8, stop bits << 11
    QString flowControl; // SET_FLOW_CTRL (02): "wValue wIndex"; wIndex's high byte is the kind
    QString latency;     // SET_LATENCY_TIMER (09)
};

// usbmon lines: "tag time S Co:1:002:0 s 40 03 4138 0000 0000 0" (control),
// "tag time S Bo:1:002:2 -115 5 = 41000002 01" (bulk out).
inline QList<LineState> lineStatesAtWrites(const QStringList &usbmonLines)
{
    QList<LineState> states;
    LineState now;
    for (const QString &line : usbmonLines) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() < 5)
            continue;
        if (f[3].startsWith(QLatin1String("Bo:"))) {
            states.append(now);
            continue;
        }
        if (!f[3].startsWith(QLatin1String("Co:")) || f.size() < 9 || f[5] != QLatin1String("40"))
            continue;
        if (f[6] == QLatin1String("03"))
            now.baudDivisor = f[7];
        else if (f[6] == QLatin1String("04"))
            now.dataFormat = f[7];
        else if (f[6] == QLatin1String("02"))
            now.flowControl = f[7] + QLatin1Char(' ') + f[8];
        else if (f[6] == QLatin1String("09"))
            now.latency = f[7];
    }
    return states;
}
