#include "PortResolution.h"

#include "AdapterPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "KitProfile.h"
#include "KitSearch.h"
#include "PortMap.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <optional>

namespace {

// A port number through the settings' mapping, a COM port by its name
// (Windows), or a device path as it is.
std::optional<ResolvedPort> resolvePort(const QString &text, const PortRequest &request, const PortNumbering &ports,
                                        Console &console)
{
    if (const std::optional<QString> port = AdapterPlatform::systemPortNamed(text))
        return ResolvedPort{*port, {*port, lineSettingsFor(request)}};
    if (text.contains(QLatin1Char('/')))
        return ResolvedPort{text, {text, lineSettingsFor(request)}};
    const std::optional<int> number = parsePortNumber(text);
    const QString device = number ? ports.devicePath(*number) : QString();
    if (device.isEmpty()) {
        console.programError(QStringLiteral("'%1' is neither a port number nor a device path").arg(text));
        return std::nullopt;
    }
    return ResolvedPort{text.trimmed(), {device, lineSettingsFor(request)}};
}

// The device a path leads to in the end: links and relative parts resolved.
// A path that leads nowhere (an unplugged adapter) stands for itself.
QString realDevice(const QString &path)
{
    const QString real = AdapterPlatform::deviceBehind(path);
    return real.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : real;
}

// Two runs on one device would fight over it: the second finds the port held
// and fails a kit the first one writes correctly.
bool eachDeviceOnce(const std::vector<ResolvedPort> &ports, Console &console)
{
    QHash<QString, QString> namedBy; // real device -> the --port text that named it first
    for (const ResolvedPort &port : ports) {
        const QString device = realDevice(port.choice.devicePath);
        const auto first = namedBy.constFind(device);
        if (first != namedBy.cend()) {
            console.usageError(CliTexts::samePortTwice(first.value(), port.label, device));
            return false;
        }
        namedBy.insert(device, port.label);
    }
    return true;
}

// The ports as named, or the one last picked in the window.
std::optional<std::vector<ResolvedPort>> namedPorts(const KitCommandContext &context, const PortRequest &request)
{
    QStringList texts = request.ports;
    if (texts.isEmpty()) {
        const QString stored = context.settings.setting(QStringLiteral("Com"), QString());
        if (stored.trimmed().isEmpty()) {
            context.console.usageError(QStringLiteral("no port: give --port N or --port PATH"));
            return std::nullopt;
        }
        texts << stored;
    }
    std::vector<ResolvedPort> ports;
    for (const QString &text : texts) {
        std::optional<ResolvedPort> port = resolvePort(text, request, context.ports, context.console);
        if (!port)
            return std::nullopt;
        ports.push_back(*port);
    }
    if (!eachDeviceOnce(ports, context.console))
        return std::nullopt;
    return ports;
}

} // namespace

ResolvedPorts resolvePorts(const KitCommandContext &context, const PortRequest &request)
{
    if (request.ports == QStringList{QStringLiteral("auto")})
        return findTheKit(context, request);
    std::optional<std::vector<ResolvedPort>> ports = namedPorts(context, request);
    if (!ports)
        return {{}, UsageError};
    return {std::move(*ports), Success};
}

QString lineSettingsFor(const PortRequest &request)
{
    return ::lineSettingsFor(StandardKit, request.speed);
}

QString labelOf(const SerialPortEntry &entry)
{
    if (entry.number)
        return QString::number(*entry.number);
    return entry.byIdName.isEmpty() ? entry.path : entry.byIdName;
}

QList<SerialPortEntry> pluggedAdapters(const PortNumbering &ports)
{
    QList<SerialPortEntry> adapters;
    const QStringList plugged = ports.links();
    for (const SerialPortEntry &entry : ports.entries()) {
        if (plugged.contains(entry.path) && !entry.device.isEmpty())
            adapters.append(entry);
    }
    return adapters;
}
