#include "PortCommands.h"

#include "AdapterPlatform.h"
#include "Console.h"
#include "DeviceAccess.h"
#include "ExitStatus.h"
#include "KitProfile.h"
#include "PortMap.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"
#include "Texts.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <optional>

namespace {

const QString None = QStringLiteral("-");

QString accessText(DeviceAccess access)
{
    switch (access) {
    case DeviceAccess::Ok:
        return Texts::AccessOk;
    case DeviceAccess::Busy:
        return Texts::AccessBusy;
    case DeviceAccess::PermissionDenied:
        return Texts::AccessDenied;
    case DeviceAccess::Missing:
        break;
    }
    return Texts::AccessMissing;
}

QString accessOf(const SerialPortEntry &port)
{
    return accessText(port.device.isEmpty() ? DeviceAccess::Missing : deviceAccess(port.path));
}

QString usbId(const std::optional<quint16> &id)
{
    return id ? QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')) : QString();
}

QString orNone(const QString &text) { return text.isEmpty() ? None : text; }

QString line(const SerialPortEntry &port, const QString &access)
{
    const QString ids = port.vendorId && port.productId ? usbId(port.vendorId) + QLatin1Char(':') + usbId(port.productId)
                                                        : None;
    return QStringList{port.number ? QString::number(*port.number) : None,
                       orNone(port.byIdName),
                       port.device.isEmpty() ? Texts::NotConnected : port.device,
                       ids,
                       orNone(port.serialNumber),
                       orNone(port.manufacturer),
                       access}
        .join(QLatin1Char('\t'));
}

QJsonValue textOrNull(const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

QJsonObject jsonObject(const SerialPortEntry &port, const QString &access)
{
    return QJsonObject{{QStringLiteral("number"), port.number ? QJsonValue(*port.number) : QJsonValue()},
                       {QStringLiteral("device"), textOrNull(port.device)},
                       {QStringLiteral("by_id"), textOrNull(port.byIdName)},
                       {QStringLiteral("vendor_id"), textOrNull(usbId(port.vendorId))},
                       {QStringLiteral("product_id"), textOrNull(usbId(port.productId))},
                       {QStringLiteral("serial"), textOrNull(port.serialNumber)},
                       {QStringLiteral("manufacturer"), textOrNull(port.manufacturer)},
                       {QStringLiteral("access"), access}};
}

std::optional<int> numberArgument(const QString &text)
{
    const std::optional<int> number = parsePortNumber(text);
    if (number && *number >= StandardKit.firstPortNumber && *number <= StandardKit.lastPortNumber)
        return number;
    return std::nullopt;
}

// A device path, or a COM port by its name (Windows: "com5" is kept as "COM5").
std::optional<QString> deviceArgument(const QString &text)
{
    if (const std::optional<QString> port = AdapterPlatform::systemPortNamed(text))
        return port;
    return QDir::isAbsolutePath(text) ? std::optional<QString>(text) : std::nullopt;
}

int notANumber(Console &console, const QString &text)
{
    return console.usageError(QStringLiteral("a port number is a number from %1 to %2, not '%3'")
                               .arg(StandardKit.firstPortNumber).arg(StandardKit.lastPortNumber).arg(text));
}

int notWritten(const SettingsStore &settings, Console &console)
{
    console.programError(QStringLiteral("cannot write the settings file ") + settings.fileName());
    return DeviceFailure;
}

} // namespace

int listPorts(PortNumbering &ports, Console &console)
{
    QJsonArray list;
    QString lines;
    for (const SerialPortEntry &port : ports.entries()) {
        if (console.json())
            list.append(jsonObject(port, accessOf(port)));
        else
            lines += line(port, accessOf(port)) + QLatin1Char('\n');
    }
    if (console.json())
        console.jsonDocument(QJsonDocument(list));
    else if (!lines.isEmpty())
        console.line(lines.chopped(1));
    return Success;
}

int mapPort(SettingsStore &settings, const QString &number, const QString &device, Console &console)
{
    const std::optional<int> port = numberArgument(number);
    if (!port)
        return notANumber(console, number);
    const std::optional<QString> path = deviceArgument(device);
    if (!path)
        return console.usageError(QStringLiteral("DEVICE is %1, not '%2'").arg(AdapterPlatform::deviceExample(), device));
    if (!settings.setMappedPort(*port, *path))
        return notWritten(settings, console);
    console.line(QStringLiteral("%1=%2").arg(*port).arg(*path));
    return Success;
}

int unmapPort(SettingsStore &settings, const QString &number, Console &console)
{
    const std::optional<int> port = numberArgument(number);
    if (!port)
        return notANumber(console, number);
    const QString device = settings.mappedPort(*port);
    if (device.isEmpty()) {
        console.line(QStringLiteral("%1 was not mapped").arg(*port));
        return Success;
    }
    if (!settings.removeMappedPort(*port))
        return notWritten(settings, console);
    console.line(QStringLiteral("%1 unmapped (was %2)").arg(*port).arg(device));
    return Success;
}
