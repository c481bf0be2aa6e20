#include "HexFileChoice.h"

#include "SettingsStore.h"
#include "Texts.h"

#include <QDir>
#include <algorithm>

namespace {
const QString OpenDirKey = QStringLiteral("OPEN_DIR0");

// "/" everywhere, and the platform's own separator: "\\" on Windows. On Linux
// a backslash is part of a file name.
qsizetype lastSeparator(const QString &path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
}
} // namespace

namespace HexFileChoice {

OpenFileRequest request(const SettingsStore &settings)
{
    OpenFileRequest r;
    r.title = Texts::OpenDialogTitle;
    // Kept as the system shows it (C:\Users\... on Windows); older versions
    // kept it with forward slashes (C:/Users/...). Both open the dialog there.
    r.initialFolder = QDir::fromNativeSeparators(settings.setting(OpenDirKey, QString()));
    r.filterNames = {Texts::HexFilterName, Texts::AllFilterName};
    r.filterPatterns = {Texts::HexFilterPattern, Texts::AllFilterPattern};
    r.defaultSuffix = QStringLiteral("HEX");
    r.fileName = Texts::HexFilterPattern;
    return r;
}

QString folderOf(const QString &path)
{
    const qsizetype separator = lastSeparator(path);
    if (separator < 0)
        return QString();
    if (separator == 0)
        return path.left(1);
    return path.left(separator);
}

QString fileTitle(const QString &path) { return path.mid(lastSeparator(path) + 1); }

bool rememberFolder(SettingsStore &settings, const QString &path)
{
    return settings.setSetting(OpenDirKey, QDir::toNativeSeparators(folderOf(path)));
}

} // namespace HexFileChoice
