#include "KitCommands.h"

#include "Console.h"
#include "KitBatch.h"
#include "KitRun.h"
#include "SharedFirmware.h"
#include "Station.h"

#include <QJsonArray>
#include <QJsonDocument>

int runVersion(const KitCommandContext &context, const PortRequest &request)
{
    const ResolvedPorts resolved = resolvePorts(context, request);
    if (resolved.ports.empty())
        return resolved.exitStatus;
    KitBatch batch(context, resolved.ports);
    batch.runVersionQueries();
    if (context.console.json()) {
        QJsonArray kits;
        for (const auto &kit : batch.runs())
            kits.append(resultObject(*kit));
        context.console.jsonDocument(QJsonDocument(kits));
    }
    return batch.exitStatus();
}

int runUpdate(const KitCommandContext &context, const PortRequest &request, const QByteArray &file)
{
    const ResolvedPorts resolved = resolvePorts(context, request);
    if (resolved.ports.empty())
        return resolved.exitStatus;
    SharedFirmware firmware(file);
    KitBatch batch(context, resolved.ports);
    batch.runUpdates(firmware);
    for (const auto &kit : batch.runs())
        recordInHistory(*kit, firmware, context.console);
    const int status = batch.exitStatus();
    if (batch.runs().size() > 1)
        printSummary(batch.runs(), context.console);
    printResultLine(batch.runs(), status, context.console);
    return status;
}

int runStation(const KitCommandContext &context, const PortRequest &request, const QByteArray &file)
{
    SharedFirmware firmware(file);
    try {
        firmware.load(); // a bad file stops the station before any kit is touched
    } catch (const HexFileError &error) {
        context.console.error(HexFile::decodeName(file) + QStringLiteral(": ") + HexFile::describe(error));
        return FileRejected;
    }
    Station station(context, request, firmware);
    return station.run();
}
