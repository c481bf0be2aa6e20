#include "AdapterPlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace AdapterPlatform {

QStringList adaptersIn(const QString &byIdFolder)
{
    const QDir dir(byIdFolder);
    QStringList links;
    for (const QFileInfo &info :
         dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        if (info.isSymLink())
            links.append(dir.filePath(info.fileName()));
    }
    return links;
}

QString deviceBehind(const QString &path)
{
    const QFileInfo file(path);
    return file.exists() ? file.canonicalFilePath() : QString();
}

QString listedDevice(const QSerialPortInfo &info) { return info.systemLocation(); }

bool adaptersArePolled() { return false; }

QString adapterPlace(const QString &byIdFolder) { return byIdFolder; }

std::optional<QString> systemPortNamed(const QString &) { return std::nullopt; }

QString deviceExample() { return QStringLiteral("a device path such as /dev/ttyUSB0"); }

} // namespace AdapterPlatform
