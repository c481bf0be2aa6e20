#include "KitBatch.h"

#include "KitRun.h"
#include "RunUntilEnded.h"
#include "SerialAdapters.h"
#include "SharedFirmware.h"

KitBatch::KitBatch(const KitCommandContext &context, const std::vector<ResolvedPort> &ports) : m_context(context)
{
    const bool prefixed = ports.size() > 1; // lines name their kit only when there are several
    for (const ResolvedPort &port : ports) {
        m_runs.push_back(std::make_unique<KitRun>(port.label, port.choice, context.console, prefixed));
        m_runs.back()->setSerialNumber(context.ports.entryOf(port.choice.devicePath).serialNumber);
    }
}

void KitBatch::runVersionQueries()
{
    runUntilEnded(m_runs, m_context.stopSignals, [](KitRun &kit) { kit.startVersionQuery(); });
}

void KitBatch::runUpdates(SharedFirmware &firmware)
{
    runUntilEnded(m_runs, m_context.stopSignals,
                  [&firmware](KitRun &kit) { kit.startUpdate([&firmware] { return firmware.load(); }); });
}

int KitBatch::exitStatus() const { return exitStatusOf(m_runs, m_context.stopSignals.received()); }
