// Windows gives each USB serial adapter a COM number of its own and keeps it
// for that adapter: the COM ports with USB ids are the adapters. Windows tells
// of new ones only to windows, so the list is looked at again once a second.
#include "AdapterPlatform.h"

#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <windows.h>

namespace AdapterPlatform {

namespace {
// "\\.\COM12" and "com12" name the port "COM12".
QString portName(QString path)
{
    if (path.startsWith(QLatin1String("\\\\.\\")))
        path.remove(0, 4);
    return path.toUpper();
}
} // namespace

QStringList adaptersIn(const QString &)
{
    QStringList ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.hasVendorIdentifier())
            ports.append(info.portName());
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

// Asking for the port's DOS device name is cheap; listing the ports is not.
QString deviceBehind(const QString &path)
{
    const QString name = portName(path);
    wchar_t target[512];
    if (name.isEmpty() || QueryDosDeviceW(reinterpret_cast<const wchar_t *>(name.utf16()), target, 512) == 0)
        return QString();
    return name;
}

QString listedDevice(const QSerialPortInfo &info) { return portName(info.portName()); }

bool adaptersArePolled() { return true; }

QString adapterPlace(const QString &) { return QStringLiteral("the COM ports with USB ids"); }

std::optional<QString> systemPortNamed(const QString &text)
{
    static const QRegularExpression comPort(QStringLiteral("^COM[1-9][0-9]{0,2}$"));
    const QString name = portName(text.trimmed());
    return comPort.match(name).hasMatch() ? std::optional<QString>(name) : std::nullopt;
}

QString deviceExample() { return QStringLiteral("a COM port such as COM5"); }

} // namespace AdapterPlatform
