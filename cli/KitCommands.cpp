#include "KitCommands.h"

#include "CliPlatform.h"
#include "Console.h"
#include "HexImage.h"
#include "KitProfile.h"
#include "KitRun.h"
#include "PortMap.h"
#include "SettingsStore.h"
#include "UpdateHistory.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <memory>
#include <optional>
#include <vector>

namespace {

const QString Program = QStringLiteral("kitupdater-cli");

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

// A port number through the settings' mapping, or a device path as it is.
std::optional<ResolvedPort> resolvePort(const QString &text, const QString &speed, const SettingsStore &settings,
                                        Console &console)
{
    const QString lineSettings = StandardKit.lineSettingsFor(speed).value_or(QString());
    if (text.contains(QLatin1Char('/')))
        return ResolvedPort{text, {text, lineSettings}};
    const std::optional<int> number = parsePortNumber(text);
    const QString device = number ? devicePathForPort(*number, settings) : QString();
    if (device.isEmpty()) {
        console.error(QStringLiteral("kitupdater-cli: '%1' is neither a port number nor a device path").arg(text));
        return std::nullopt;
    }
    return ResolvedPort{text.trimmed(), {device, lineSettings}};
}

std::optional<std::vector<ResolvedPort>> resolvePorts(const KitCommandContext &context, const PortRequest &request)
{
    QStringList texts = request.ports;
    if (texts.isEmpty()) {
        const QString stored = context.settings.setting(QStringLiteral("Com"), QString());
        if (stored.trimmed().isEmpty()) {
            context.console.error(QStringLiteral("kitupdater-cli: no port: give --port N or --port PATH\n"
                                                 "Try 'kitupdater-cli --help'."));
            return std::nullopt;
        }
        texts << stored;
    }
    std::vector<ResolvedPort> ports;
    for (const QString &text : texts) {
        std::optional<ResolvedPort> port = resolvePort(text, request.speed, context.settings, context.console);
        if (!port)
            return std::nullopt;
        ports.push_back(*port);
    }
    return ports;
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
        return stopSignal > 0 ? 128 + stopSignal : DeviceFailure;
    default:
        return DeviceFailure;
    }
}

// Runs kits side by side until every one has ended; a stop signal stops them all.
class KitBatch {
public:
    KitBatch(const KitCommandContext &context, const std::vector<ResolvedPort> &ports) : m_context(context)
    {
        const bool prefixed = ports.size() > 1;
        for (const ResolvedPort &port : ports)
            m_runs.push_back(std::make_unique<KitRun>(port.label, port.choice, context.console, prefixed));
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

    int exitStatus() const
    {
        const KitRun *worst = nullptr;
        for (const auto &kit : m_runs) {
            if (!worst || severity(kit->result().ending) > severity(worst->result().ending))
                worst = kit.get();
        }
        return worst ? exitStatusOf(worst->result().ending, m_context.stopSignals.received()) : Success;
    }

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
    const LinkResult &result = kit.result();
    UpdateRecord record;
    record.time = QDateTime::currentDateTime();
    record.program = Program;
    record.port = kit.label();
    record.device = result.devicePath;
    record.serial = kit.serialNumber();
    record.kitVersion = result.kitVersion;
    record.file = firmware.absolutePath();
    record.sha256 = firmware.sha256();
    record.wordsSent = result.wordsSent;
    record.ending = historyEndingName(result.ending);
    record.seconds = result.seconds;
    const QString error = UpdateHistory::append(record);
    if (!error.isEmpty())
        console.error(QStringLiteral("kitupdater-cli: the update history was not written: ") + error);
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

} // namespace

int runVersion(const KitCommandContext &context, const PortRequest &request)
{
    const std::optional<std::vector<ResolvedPort>> ports = resolvePorts(context, request);
    if (!ports)
        return UsageError;
    KitBatch batch(context, *ports);
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
    const std::optional<std::vector<ResolvedPort>> ports = resolvePorts(context, request);
    if (!ports)
        return UsageError;
    SharedFirmware firmware(file);
    KitBatch batch(context, *ports);
    batch.run([&](KitRun &kit) { kit.startUpdate([&firmware] { return firmware.load(); }); });
    QJsonArray kits;
    for (const auto &kit : batch.runs()) {
        recordInHistory(*kit, firmware, context.console);
        kits.append(resultObject(*kit));
    }
    const int status = batch.exitStatus();
    if (batch.runs().size() > 1)
        printSummary(batch.runs(), context.console);
    context.console.jsonLine({{"event", "result"}, {"exit_status", status}, {"kits", kits}});
    return status;
}

int runStation(const KitCommandContext &context, const PortRequest &, const QByteArray &)
{
    context.console.error(QStringLiteral("kitupdater-cli: station is not available yet"));
    return UsageError;
}
