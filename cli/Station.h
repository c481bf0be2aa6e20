// The station: every adapter plugged in gets the firmware once, until it is
// unplugged; Ctrl+C ends the station after stopping what runs.
#pragma once

#include "KitCommandContext.h"
#include "KitResults.h"

#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QSet>

class SharedFirmware;
struct SerialPortEntry;

class Station : public QObject {
public:
    Station(const KitCommandContext &context, const PortRequest &request, SharedFirmware &firmware);

    // Serves kits until a stop signal; returns the exit status of the worst ending.
    int run();

private:
    void lookForKits();
    const KitRun *runningOn(const QString &device) const;
    void start(const SerialPortEntry &adapter);
    void ended(KitRun *kit);
    void stop();

    const KitCommandContext &m_context;
    const PortRequest &m_request;
    SharedFirmware &m_firmware;
    QEventLoop m_loop;
    QSet<QString> m_served; // adapters that got the firmware since they were plugged in
    KitRuns m_running;
    QHash<const KitRun *, QString> m_devices; // the real device each running kit is on
    KitRuns m_finished;
    bool m_stopping = false;
};
