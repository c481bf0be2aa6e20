// What every command that talks to kits is given: where its output goes, the
// settings and port numbers it resolves ports with, the signals that stop it,
// and the ports and speed the user asked for.
#pragma once

#include <QString>
#include <QStringList>

class Console;
class PortNumbering;
class SettingsStore;
class StopSignals;

struct PortRequest {
    QStringList ports; // as given with --port; empty: the port last picked in the window
    QString speed;     // the speed box's text for the chosen speed
};

struct KitCommandContext {
    Console &console;
    SettingsStore &settings;
    PortNumbering &ports;
    StopSignals &stopSignals;
};
