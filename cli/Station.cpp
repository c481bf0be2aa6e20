#include "Station.h"

#include "AdapterPlatform.h"
#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "KitRun.h"
#include "PortResolution.h"
#include "SerialAdapters.h"
#include "SharedFirmware.h"

#include <algorithm>

Station::Station(const KitCommandContext &context, const PortRequest &request, SharedFirmware &firmware)
    : m_context(context), m_request(request), m_firmware(firmware)
{
    connect(&context.ports, &PortNumbering::changed, this, &Station::lookForKits);
    connect(&context.stopSignals, &StopSignals::stopRequested, this, &Station::stop);
}

int Station::run()
{
    m_context.console.status(QStringLiteral("Waiting for kits in %1; Ctrl+C ends the station.")
                                 .arg(AdapterPlatform::adapterPlace(m_context.ports.folder())));
    m_context.ports.followAdapters();
    m_context.ports.refresh(); // adapters plugged in before the station started
    m_loop.exec();
    const int status = exitStatusOf(m_finished, m_context.stopSignals.received());
    if (m_finished.empty())
        m_context.console.result(CliTexts::NoKitUpdated);
    else
        printSummary(m_finished, m_context.console);
    printResultLine(m_finished, status, m_context.console);
    return status;
}

void Station::lookForKits()
{
    QSet<QString> plugged;
    for (const SerialPortEntry &adapter : pluggedAdapters(m_context.ports)) {
        plugged.insert(adapter.path);
        if (m_served.contains(adapter.path) || m_stopping)
            continue;
        if (const KitRun *running = runningOn(adapter.device)) {
            // Another link to it, or its own link back after a flicker: the
            // device gets this update once, and counts as served by it.
            m_served.insert(adapter.path);
            m_context.console.status(CliTexts::sameDeviceBusy(labelOf(adapter), adapter.device, running->label()));
            continue;
        }
        start(adapter);
    }
    // Unplugged: the next time it is plugged in, it gets the firmware again.
    m_served.intersect(plugged);
}

// The run that is updating this device (by its real path), if any.
const KitRun *Station::runningOn(const QString &device) const
{
    for (const auto &kit : m_running) {
        if (m_devices.value(kit.get()) == device)
            return kit.get();
    }
    return nullptr;
}

void Station::start(const SerialPortEntry &adapter)
{
    m_served.insert(adapter.path);
    auto kit = std::make_unique<KitRun>(labelOf(adapter), PortChoice{adapter.path, lineSettingsFor(m_request)},
                                        m_context.console, true);
    kit->setSerialNumber(adapter.serialNumber);
    KitRun *running = kit.get();
    m_devices.insert(running, adapter.device);
    connect(running, &KitRun::ended, this, [this, running] { ended(running); });
    m_running.push_back(std::move(kit));
    running->startUpdate([this] { return m_firmware.load(); });
}

void Station::ended(KitRun *kit)
{
    const auto it = std::find_if(m_running.begin(), m_running.end(), [kit](const auto &k) { return k.get() == kit; });
    std::unique_ptr<KitRun> done = std::move(*it);
    m_running.erase(it);
    m_devices.remove(kit);
    const LinkResult &r = done->result();
    m_context.console.result(QStringLiteral("%1: serial %2: %3 after %4 s")
                                 .arg(done->label(), done->serialNumber().isEmpty() ? "-" : done->serialNumber(),
                                      historyEndingName(r.ending))
                                 .arg(r.seconds, 0, 'f', 1));
    m_context.console.jsonLine({{"event", "ended"}, {"kit", resultObject(*done)}});
    recordInHistory(*done, m_firmware, m_context.console);
    m_finished.push_back(std::move(done)); // kept whole for the summary

    if (m_stopping && m_running.empty())
        m_loop.quit();
}

void Station::stop()
{
    m_stopping = true;
    for (auto &kit : m_running)
        kit->cancel();
    if (m_running.empty())
        m_loop.quit();
}
