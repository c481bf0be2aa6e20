#include "LinkReports.h"

#include <QDateTime>

QString messageText(LinkMessage message) { return QString::fromStdString(messageBoxText(message)); }

QString historyEndingName(LinkResult::Ending ending)
{
    switch (ending) {
    case LinkResult::Ending::Done:
        return QStringLiteral("done");
    case LinkResult::Ending::CommError:
    case LinkResult::Ending::TimedOut:
        return QStringLiteral("timeout");
    case LinkResult::Ending::PortFailed:
    case LinkResult::Ending::Failed:
        return QStringLiteral("failed");
    case LinkResult::Ending::Rejected:
        return QStringLiteral("rejected");
    case LinkResult::Ending::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

UpdateRecord historyRecord(const LinkResult &result)
{
    UpdateRecord record;
    record.time = QDateTime::currentDateTime();
    record.device = result.devicePath;
    record.kitVersion = result.kitVersion;
    record.wordsSent = result.wordsSent;
    record.ending = historyEndingName(result.ending);
    record.seconds = result.seconds;
    if (result.medianAnswerWait.count() > 0)
        record.medianAnswerWaitMs = double(result.medianAnswerWait.count()) / 1000.0;
    return record;
}
