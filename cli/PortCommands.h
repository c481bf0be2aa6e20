// kitupdater-cli's port commands: ports, map N DEVICE, unmap N. Each returns
// the exit status (DeviceFailure: the settings could not be written). What
// they print goes to stdout in every mode (Console::line); errors go to stderr.
#pragma once

#include <QString>

class Console;
class PortNumbering;
class SettingsStore;

// One line per port number that names a device, tab-separated: number, by-id
// name, device now, USB vendor:product, serial number, manufacturer, access.
// With --json: one JSON document, a list of objects with the same facts.
int listPorts(PortNumbering &ports, Console &console);
int mapPort(SettingsStore &settings, const QString &number, const QString &device, Console &console);
int unmapPort(SettingsStore &settings, const QString &number, Console &console);
