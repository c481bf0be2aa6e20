// Choosing the HEX file: what the open dialog is told, and what is kept of
// the choice. The dialog itself belongs to whoever shows it.
#pragma once

#include <QString>
#include <QStringList>

class SettingsStore;

struct OpenFileRequest {
    QString title;
    QString initialFolder;      // empty: the dialog decides (the user's home folder)
    QStringList filterNames;    // shown to the user, in order
    QStringList filterPatterns; // matching patterns, one entry per name
    QString defaultSuffix;
    QString fileName;           // text in the name field when the dialog opens
};

namespace HexFileChoice {

// The dialog settings, with the folder remembered from the last choice.
OpenFileRequest request(const SettingsStore &settings);

// The folder that holds the file: everything before the last separator
// ("/" for a file at the root of a Linux file system, "D:" for D:/main.hex;
// a backslash separates only on Windows).
QString folderOf(const QString &path);

// The file's name without its folder.
QString fileTitle(const QString &path);

// Remembers the folder of a chosen file for the next dialog, as the system
// shows it (with backslashes on Windows: the settings file is read by people too).
// Returns false when the store could not be written.
bool rememberFolder(SettingsStore &settings, const QString &path);

} // namespace HexFileChoice
