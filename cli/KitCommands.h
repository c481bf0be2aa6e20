// The commands that talk to kits: version, update (one kit or several at
// once) and station. Each returns the program's exit status.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Console;
class PortNumbering;
class SettingsStore;
class StopSignals;

// A port as the user named it: a port number, a device path or "auto".
struct PortRequest {
    QStringList ports;     // as given with --port; empty: the port last picked in the window
    QString speed;         // the speed box's text for the chosen speed
};

struct KitCommandContext {
    Console &console;
    SettingsStore &settings;
    PortNumbering &ports;
    StopSignals &stopSignals;
};

int runVersion(const KitCommandContext &context, const PortRequest &request);
// file: the file's name as typed (its bytes, so that any name opens).
int runUpdate(const KitCommandContext &context, const PortRequest &request, const QByteArray &file);
int runStation(const KitCommandContext &context, const PortRequest &request, const QByteArray &file);
