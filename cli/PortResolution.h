// From what the user typed after --port to the devices a command runs on:
// port numbers through the settings' mapping, device paths as they are, and
// "auto" through a search for the one adapter that behaves like a kit.
#pragma once

#include "ExitStatus.h"
#include "KitCommandContext.h"
#include "KitLink.h"

#include <QList>
#include <vector>

struct SerialPortEntry;

struct ResolvedPort {
    QString label; // the port as lines and tables name it
    PortChoice choice;
};

// The ports to run on; when there are none, the command ends with exitStatus
// (the reason has been said on the console).
struct ResolvedPorts {
    std::vector<ResolvedPort> ports;
    int exitStatus = Success;
};

ResolvedPorts resolvePorts(const KitCommandContext &context, const PortRequest &request);

// The line settings for the speed the user chose.
QString lineSettingsFor(const PortRequest &request);

// A port's name in lines and tables: its number when it has one, else its link's name.
QString labelOf(const SerialPortEntry &entry);

// The USB adapters plugged in now, numbered or not.
QList<SerialPortEntry> pluggedAdapters(const PortNumbering &ports);
