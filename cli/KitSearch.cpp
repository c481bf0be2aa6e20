#include "KitSearch.h"

#include "AdapterPlatform.h"
#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "KitProbe.h"
#include "RunUntilEnded.h"
#include "SerialAdapters.h"

namespace {

// Says why an adapter was not taken. One this user may not open gets the same
// advice as a plain --port would give; it may well be the kit.
void reportLeftOut(const KitProbe &probe, Console &console)
{
    console.programError(CliTexts::probeLeftOut(probe.label(), probe.devicePath(), probe.reason()));
    if (probe.verdict() != KitProbe::Verdict::Unopenable)
        return;
    const QString advice = accessAdvice(probe.devicePath());
    if (!advice.isEmpty())
        console.programError(advice);
}

QString portList(const std::vector<ResolvedPort> &ports)
{
    QStringList names;
    for (const ResolvedPort &port : ports)
        names << QStringLiteral("%1 (%2)").arg(port.label, port.choice.devicePath);
    return names.join(QStringLiteral(", "));
}

// The verdicts: the one kit, or why there is none to run on.
ResolvedPorts theOneKit(const std::vector<ResolvedPort> &candidates,
                        const std::vector<std::unique_ptr<KitProbe>> &probes, Console &console)
{
    std::vector<ResolvedPort> answered;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const KitProbe &probe = *probes[i];
        if (probe.verdict() == KitProbe::Verdict::Kit)
            answered.push_back(candidates[i]);
        else if (probe.verdict() == KitProbe::Verdict::NotAKit || probe.verdict() == KitProbe::Verdict::Unopenable)
            reportLeftOut(probe, console);
    }
    if (answered.size() == 1) {
        console.status(QStringLiteral("the kit answers on %1").arg(answered.front().choice.devicePath));
        return {answered, Success};
    }
    if (answered.empty()) {
        console.programError(QStringLiteral("no kit answered on %1").arg(portList(candidates)));
        return {{}, DeviceFailure};
    }
    console.programError(QStringLiteral("kits answer on %1; say which with --port").arg(portList(answered)));
    return {{}, UsageError};
}

} // namespace

ResolvedPorts findTheKit(const KitCommandContext &context, const PortRequest &request)
{
    std::vector<ResolvedPort> candidates;
    std::vector<std::unique_ptr<KitProbe>> probes;
    for (const SerialPortEntry &adapter : pluggedAdapters(context.ports)) {
        candidates.push_back({labelOf(adapter), {adapter.path, lineSettingsFor(request)}});
        probes.push_back(std::make_unique<KitProbe>(candidates.back().label, candidates.back().choice));
    }
    if (candidates.empty()) {
        context.console.programError(QStringLiteral("no USB serial adapter is plugged in (none in %1)")
                                         .arg(AdapterPlatform::adapterPlace(context.ports.folder())));
        return {{}, DeviceFailure};
    }
    runUntilEnded(probes, context.stopSignals, [](KitProbe &probe) { probe.start(); });
    if (context.stopSignals.received() > 0)
        return {{}, stoppedBySignal(context.stopSignals.received())};
    return theOneKit(candidates, probes, context.console);
}
