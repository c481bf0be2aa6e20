// The exchanges with the kit: port set-up, the firmware version query and the
// firmware update. Plain Qt Core: the caller (window or command line) sees
// only DeviceHost calls and the results below.
#pragma once

#include <QByteArray>
#include <QString>

class CommPort;
class DeviceHost;

class KitLink {
public:
    KitLink(CommPort &port, DeviceHost &host);

    // Version query, as pressed by the user: port and speed are the texts of
    // the two boxes at this moment. Ignored while another exchange runs.
    void versionQuery(const QString &portText, const QString &speedText);
    // A whole update: checks, version handshake, then the transfer of the file.
    // Ignored while another exchange runs.
    void update(const QString &portText, const QString &speedText, const QString &hexFileName);

    bool busy() const { return m_busy; }
    bool commError() const { return m_commError; }
    // Wakes a running exchange so that it sees DeviceHost::cancelRequested().
    void interruptWait();
    // Closes the port if it is open (window closing).
    void closePort();

    // How the last exchange ended; used by the command line for its exit status.
    enum class Outcome { None, Done, NoPort, NoFile, PortFailed, CommError, TimedOut, Failed, FileRejected };
    Outcome lastOutcome() const { return m_outcome; }

private:
    // implementation detail left to device/
    CommPort &m_port;
    DeviceHost &m_host;
    bool m_busy = false;
    bool m_commError = false;
    Outcome m_outcome = Outcome::None;
};
