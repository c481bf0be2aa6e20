#include "KitCommands.h"

#include "AdapterPlatform.h"
#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "ExitStatus.h"
#include "HexImage.h"
#include "KitProbe.h"
#include "KitProfile.h"
#include "KitRun.h"
#include "PortMap.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"
#include "UpdateHistory.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The file, read and checked once however many kits receive it.
class SharedFirmware {
public:
    explicit SharedFirmware(const QByteArray &encodedPath) : m_path(encodedPath) {}

    HexImage load()
    {
        if (!m_image && !m_error) {
            try {
                m_image = HexFile::readEncoded(m_path);
            } catch (const HexFileError &error) {
                m_error = error;
            }
        }
        if (m_error)
            throw *m_error;
        return *m_image;
    }
    QString sha256() const { return m_image ? QString::fromLatin1(m_image->sha256) : QString(); }
    QString absolutePath() const { return QFileInfo(QFile::decodeName(m_path)).absoluteFilePath(); }

private:
    QByteArray m_path;
    std::optional<HexImage> m_image;
    std::optional<HexFileError> m_error;
};

struct ResolvedPort {
    QString label;
    PortChoice choice;
};

QString lineSettingsFor(const PortRequest &request)
{
    return StandardKit.lineSettingsFor(request.speed).value_or(QString());
}

// A port number through the settings' mapping, or a device path as it is.
std::optional<ResolvedPort> resolvePort(const QString &text, const PortRequest &request, const PortNumbering &ports,
                                        Console &console)
{
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

std::optional<std::vector<ResolvedPort>> resolvePorts(const KitCommandContext &context, const PortRequest &request)
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

// A port's name in lines and tables: its number when it has one, else its link's name.
QString labelOf(const SerialPortEntry &entry)
{
    if (entry.number)
        return QString::number(*entry.number);
    return entry.byIdName.isEmpty() ? entry.path : entry.byIdName;
}

int severity(LinkResult::Ending ending)
{
    switch (ending) {
    case LinkResult::Ending::Done:
        return 0;
    case LinkResult::Ending::Rejected:
        return 1; // nothing reached the kit's memory
    case LinkResult::Ending::Stopped:
        return 3;
    default:
        return 2;
    }
}

int exitStatusOf(LinkResult::Ending ending, int stopSignal)
{
    switch (ending) {
    case LinkResult::Ending::Done:
        return Success;
    case LinkResult::Ending::Rejected:
        return FileRejected;
    case LinkResult::Ending::Stopped:
        return stopSignal > 0 ? stoppedBySignal(stopSignal) : DeviceFailure;
    default:
        return DeviceFailure;
    }
}

// The exit status of several kits: that of the worst ending among them.
int worstExitStatus(const std::vector<std::unique_ptr<KitRun>> &runs, int stopSignal)
{
    const KitRun *worst = nullptr;
    for (const auto &kit : runs) {
        if (!worst || severity(kit->result().ending) > severity(worst->result().ending))
            worst = kit.get();
    }
    return worst ? exitStatusOf(worst->result().ending, stopSignal) : Success;
}

// Runs kits side by side until every one has ended; a stop signal stops them all.
class KitBatch {
public:
    KitBatch(const KitCommandContext &context, const std::vector<ResolvedPort> &ports, Console &console)
        : m_context(context)
    {
        const bool prefixed = ports.size() > 1;
        for (const ResolvedPort &port : ports) {
            m_runs.push_back(std::make_unique<KitRun>(port.label, port.choice, console, prefixed));
            m_runs.back()->setSerialNumber(context.ports.entryOf(port.choice.devicePath).serialNumber);
        }
    }

    template <typename Start> void run(Start start)
    {
        QEventLoop loop;
        int running = int(m_runs.size());
        for (auto &kit : m_runs)
            QObject::connect(kit.get(), &KitRun::ended, &loop, [&] {
                if (--running == 0)
                    loop.quit();
            });
        const QMetaObject::Connection stop =
            QObject::connect(&m_context.stopSignals, &StopSignals::stopRequested, &loop, [this] { cancelAll(); });
        for (auto &kit : m_runs)
            start(*kit);
        if (running > 0)
            loop.exec();
        QObject::disconnect(stop);
    }

    int exitStatus() const { return worstExitStatus(m_runs, m_context.stopSignals.received()); }

    const std::vector<std::unique_ptr<KitRun>> &runs() const { return m_runs; }

private:
    void cancelAll()
    {
        for (auto &kit : m_runs)
            kit->cancel();
    }

    const KitCommandContext &m_context;
    std::vector<std::unique_ptr<KitRun>> m_runs;
};

void recordInHistory(const KitRun &kit, const SharedFirmware &firmware, Console &console)
{
    UpdateRecord record = historyRecord(kit.result());
    record.program = CliTexts::Program;
    record.port = kit.label();
    record.serial = kit.serialNumber();
    record.file = firmware.absolutePath();
    record.sha256 = firmware.sha256();
    const QString error = UpdateHistory::append(record);
    if (!error.isEmpty())
        console.programError(QStringLiteral("the update history was not written: ") + error);
}

QJsonObject resultObject(const KitRun &kit)
{
    const LinkResult &r = kit.result();
    return {{"port", kit.label()},
            {"device", r.devicePath},
            {"serial", kit.serialNumber()},
            {"kit_version", r.kitVersion},
            {"ending", historyEndingName(r.ending)},
            {"words_sent", r.wordsSent},
            {"words_to_send", r.wordsToSend},
            {"seconds", qRound(r.seconds * 1000) / 1000.0},
            {"detail", r.detail}};
}

// The table after several kits: port, serial number, kit version, ending, seconds.
void printSummary(const std::vector<std::unique_ptr<KitRun>> &runs, Console &console)
{
    QList<QStringList> rows{{QStringLiteral("port"), QStringLiteral("serial"), QStringLiteral("kit version"),
                             QStringLiteral("ending"), QStringLiteral("seconds")}};
    for (const auto &kit : runs) {
        const LinkResult &r = kit->result();
        rows.append({kit->label(), kit->serialNumber().isEmpty() ? QStringLiteral("-") : kit->serialNumber(),
                     r.kitVersion.isEmpty() ? QStringLiteral("-") : r.kitVersion.trimmed(),
                     historyEndingName(r.ending), QString::number(r.seconds, 'f', 1)});
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], int(row.at(i).size()));
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths[i] + 2) : row.at(i);
        console.result(line);
    }
}

// The USB adapters plugged in now, numbered or not.
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

// Runs every probe side by side until all have given their verdict; a stop
// signal stops them all.
void runProbes(const std::vector<std::unique_ptr<KitProbe>> &probes, StopSignals &stopSignals)
{
    QEventLoop loop;
    int running = int(probes.size());
    for (const auto &probe : probes)
        QObject::connect(probe.get(), &KitProbe::ended, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    const QMetaObject::Connection stop = QObject::connect(&stopSignals, &StopSignals::stopRequested, &loop, [&] {
        for (const auto &probe : probes)
            probe->cancel();
    });
    for (const auto &probe : probes)
        probe->start();
    if (running > 0)
        loop.exec();
    QObject::disconnect(stop);
}

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

// --port auto: the one USB adapter that behaves like a kit (see KitProbe;
// nothing reaches the kit's memory). None and several end the command with
// the status to exit with.
std::optional<ResolvedPort> findTheKit(const KitCommandContext &context, const PortRequest &request, int &status)
{
    std::vector<ResolvedPort> candidates;
    std::vector<std::unique_ptr<KitProbe>> probes;
    for (const SerialPortEntry &adapter : pluggedAdapters(context.ports)) {
        candidates.push_back({labelOf(adapter), {adapter.path, lineSettingsFor(request)}});
        probes.push_back(std::make_unique<KitProbe>(candidates.back().label, candidates.back().choice));
    }
    status = DeviceFailure;
    if (candidates.empty()) {
        context.console.programError(QStringLiteral("no USB serial adapter is plugged in (none in %1)")
                                         .arg(AdapterPlatform::adapterPlace(context.ports.folder())));
        return std::nullopt;
    }
    runProbes(probes, context.stopSignals);
    if (context.stopSignals.received() > 0) {
        status = stoppedBySignal(context.stopSignals.received());
        return std::nullopt;
    }
    std::vector<ResolvedPort> answered;
    QStringList tried;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const KitProbe &probe = *probes[i];
        tried << QStringLiteral("%1 (%2)").arg(probe.label(), probe.devicePath());
        if (probe.verdict() == KitProbe::Verdict::Kit)
            answered.push_back(candidates[i]);
        else if (probe.verdict() == KitProbe::Verdict::NotAKit || probe.verdict() == KitProbe::Verdict::Unopenable)
            reportLeftOut(probe, context.console);
    }
    if (answered.size() == 1) {
        context.console.status(QStringLiteral("the kit answers on %1").arg(answered.front().choice.devicePath));
        return answered.front();
    }
    if (answered.empty()) {
        context.console.programError(QStringLiteral("no kit answered on %1").arg(tried.join(QStringLiteral(", "))));
        return std::nullopt;
    }
    QStringList found;
    for (const ResolvedPort &port : answered)
        found << QStringLiteral("%1 (%2)").arg(port.label, port.choice.devicePath);
    context.console.programError(QStringLiteral("kits answer on %1; say which with --port")
                              .arg(found.join(QStringLiteral(", "))));
    status = UsageError;
    return std::nullopt;
}

std::optional<std::vector<ResolvedPort>> portsFor(const KitCommandContext &context, const PortRequest &request,
                                                  int &status)
{
    status = UsageError;
    if (request.ports != QStringList{QStringLiteral("auto")})
        return resolvePorts(context, request);
    std::optional<ResolvedPort> kit = findTheKit(context, request, status);
    if (!kit)
        return std::nullopt;
    return std::vector<ResolvedPort>{*kit};
}

// Station: every adapter plugged in gets the firmware once, until it is
// unplugged; Ctrl+C ends the station after stopping what runs.
class Station : public QObject {
public:
    Station(const KitCommandContext &context, const PortRequest &request, SharedFirmware &firmware)
        : m_context(context), m_request(request), m_firmware(firmware)
    {
        connect(&context.ports, &PortNumbering::changed, this, &Station::lookForKits);
        connect(&context.stopSignals, &StopSignals::stopRequested, this, &Station::stop);
    }

    int run()
    {
        m_context.console.status(QStringLiteral("Waiting for kits in %1; Ctrl+C ends the station.")
                                     .arg(AdapterPlatform::adapterPlace(m_context.ports.folder())));
        m_context.ports.followAdapters();
        m_context.ports.refresh(); // adapters plugged in before the station started
        m_loop.exec();
        const int status = worstExitStatus(m_finished, m_context.stopSignals.received());
        if (m_finished.empty())
            m_context.console.result(CliTexts::NoKitUpdated);
        else
            printSummary(m_finished, m_context.console);
        QJsonArray kits;
        for (const auto &kit : m_finished)
            kits.append(resultObject(*kit));
        m_context.console.jsonLine({{"event", "result"}, {"exit_status", status}, {"kits", kits}});
        return status;
    }

private:
    void lookForKits()
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
    const KitRun *runningOn(const QString &device) const
    {
        for (const auto &kit : m_running) {
            if (m_devices.value(kit.get()) == device)
                return kit.get();
        }
        return nullptr;
    }

    void start(const SerialPortEntry &adapter)
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

    void ended(KitRun *kit)
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

    void stop()
    {
        m_stopping = true;
        for (auto &kit : m_running)
            kit->cancel();
        if (m_running.empty())
            m_loop.quit();
    }

    const KitCommandContext &m_context;
    const PortRequest &m_request;
    SharedFirmware &m_firmware;
    QEventLoop m_loop;
    QSet<QString> m_served; // adapters that got the firmware since they were plugged in
    std::vector<std::unique_ptr<KitRun>> m_running;
    QHash<const KitRun *, QString> m_devices; // the real device each running kit is on
    std::vector<std::unique_ptr<KitRun>> m_finished;
    bool m_stopping = false;
};

} // namespace

int runVersion(const KitCommandContext &context, const PortRequest &request)
{
    int status = Success;
    const std::optional<std::vector<ResolvedPort>> ports = portsFor(context, request, status);
    if (!ports)
        return status;
    KitBatch batch(context, *ports, context.console);
    batch.run([](KitRun &kit) { kit.startVersionQuery(); });
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
    int status = Success;
    const std::optional<std::vector<ResolvedPort>> ports = portsFor(context, request, status);
    if (!ports)
        return status;
    SharedFirmware firmware(file);
    KitBatch batch(context, *ports, context.console);
    batch.run([&](KitRun &kit) { kit.startUpdate([&firmware] { return firmware.load(); }); });
    QJsonArray kits;
    for (const auto &kit : batch.runs()) {
        recordInHistory(*kit, firmware, context.console);
        kits.append(resultObject(*kit));
    }
    status = batch.exitStatus();
    if (batch.runs().size() > 1)
        printSummary(batch.runs(), context.console);
    context.console.jsonLine({{"event", "result"}, {"exit_status", status}, {"kits", kits}});
    return status;
}


int runStation(const KitCommandContext &context, const PortRequest &request, const QByteArray &file)
{
    SharedFirmware firmware(file);
    try {
        firmware.load(); // a bad file stops the station before any kit is touched
    } catch (const HexFileError &error) {
        context.console.error(QFile::decodeName(file) + QStringLiteral(": ") + error.describe());
        return FileRejected;
    }
    Station station(context, request, firmware);
    return station.run();
}
