#include "KitResults.h"

#include "CliTexts.h"
#include "Console.h"
#include "ExitStatus.h"
#include "KitRun.h"
#include "SharedFirmware.h"
#include "UpdateHistory.h"

#include <QJsonArray>
#include <QStringList>

namespace {

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

QString orNone(const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; }

QJsonValue medianAnswerWaitMs(const LinkResult &r)
{
    return r.medianAnswerWait.count() > 0 ? QJsonValue(double(r.medianAnswerWait.count()) / 1000.0) : QJsonValue();
}

} // namespace

int exitStatusOf(const KitRuns &runs, int stopSignal)
{
    const KitRun *worst = nullptr;
    for (const auto &kit : runs) {
        if (!worst || severity(kit->result().ending) > severity(worst->result().ending))
            worst = kit.get();
    }
    return worst ? exitStatusOf(worst->result().ending, stopSignal) : Success;
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
            {"median_answer_wait_ms", medianAnswerWaitMs(r)},
            {"detail", r.detail}};
}

void printSummary(const KitRuns &runs, Console &console)
{
    QList<QStringList> rows{{QStringLiteral("port"), QStringLiteral("serial"), QStringLiteral("kit version"),
                             QStringLiteral("ending"), QStringLiteral("seconds")}};
    for (const auto &kit : runs) {
        const LinkResult &r = kit->result();
        rows.append({kit->label(), orNone(kit->serialNumber()),
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

void printResultLine(const KitRuns &runs, int exitStatus, Console &console)
{
    QJsonArray kits;
    for (const auto &kit : runs)
        kits.append(resultObject(*kit));
    console.jsonLine({{"event", "result"}, {"exit_status", exitStatus}, {"kits", kits}});
}

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
