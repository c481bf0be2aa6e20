#include "UpdateHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {

QString stateFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    if (!xdg.isEmpty())
        return xdg;
#ifdef Q_OS_UNIX
    return QDir::homePath() + QStringLiteral("/.local/state");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
}

QJsonObject toJson(const UpdateRecord &r)
{
    return QJsonObject{
        // With its offset from UTC, so that lines from machines in other zones compare.
        {QStringLiteral("time"), r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {QStringLiteral("program"), r.program},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("device"), r.device},
        {QStringLiteral("serial"), r.serial},
        {QStringLiteral("kit_version"), r.kitVersion},
        {QStringLiteral("file"), r.file},
        {QStringLiteral("sha256"), r.sha256},
        {QStringLiteral("words_sent"), r.wordsSent},
        {QStringLiteral("ending"), r.ending},
        {QStringLiteral("seconds"), qRound(r.seconds * 1000) / 1000.0},
    };
}

UpdateRecord fromJson(const QJsonObject &o)
{
    UpdateRecord r;
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    r.program = o.value(QStringLiteral("program")).toString();
    r.port = o.value(QStringLiteral("port")).toString();
    r.device = o.value(QStringLiteral("device")).toString();
    r.serial = o.value(QStringLiteral("serial")).toString();
    r.kitVersion = o.value(QStringLiteral("kit_version")).toString();
    r.file = o.value(QStringLiteral("file")).toString();
    r.sha256 = o.value(QStringLiteral("sha256")).toString();
    r.wordsSent = o.value(QStringLiteral("words_sent")).toInt();
    r.ending = o.value(QStringLiteral("ending")).toString();
    r.seconds = o.value(QStringLiteral("seconds")).toDouble();
    return r;
}

} // namespace

namespace UpdateHistory {

QString filePath() { return stateFolder() + QStringLiteral("/KitUpdater/history.jsonl"); }

// One write() per line on a file opened for appending: lines from several
// programs updating at the same time never mix.
QString append(const UpdateRecord &record)
{
    const QString path = filePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    const QByteArray line = QJsonDocument(toJson(record)).toJson(QJsonDocument::Compact) + '\n';
    if (file.write(line) != line.size())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}

QList<UpdateRecord> last(int count, QString *error)
{
    QFile file(filePath());
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return {};
    }
    QList<UpdateRecord> records;
    while (!file.atEnd()) {
        const QJsonDocument line = QJsonDocument::fromJson(file.readLine());
        if (!line.isObject())
            continue;
        records.append(fromJson(line.object()));
        if (records.size() > count)
            records.removeFirst();
    }
    return records;
}

} // namespace UpdateHistory
