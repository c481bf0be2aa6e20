// The exchanges with the kit: port set-up, the firmware version query and the
// firmware update. Plain Qt Core: the caller (window or command line) sees
// only DeviceHost calls and the results below.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

class CommPort;
class DeviceHost;
class SerialError;
struct HexWord;

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

    // Prepares the closed port from the two boxes' texts. Returns false when the
    // port text is empty (the message box has been shown, nothing changed).
    // Throws SerialError: NotANumber for a text that is no port number,
    // Refused (or another kind) when the serial layer does not take it.
    bool Com_Initialize(const QString &portText, const QString &speedText);

    // How the last exchange ended; used by the command line for its exit status.
    enum class Outcome {
        None,         // no exchange has ended yet
        Done,         // version read, or update completed
        NoPort,       // the port text was empty (message box shown)
        NoFile,       // update without a HEX file name
        PortFailed,   // the port could not be opened, or failed during a version query on its own
        CommError,    // the version query got no answer in time; any update stopped by a failed query
        TimedOut,     // a frame got no answer within 2 seconds
        Failed,       // the port failed during the transfer
        FileRejected, // the HEX file could not be read or failed its checks
        Cancelled,    // the host asked to stop
        BadPortText,  // the port text is no port number, or one the serial layer refuses
    };
    Outcome lastOutcome() const { return m_outcome; }

private:
    enum class Wait { Answered, TimedOut, Cancelled };
    enum class Ending { Completed, TimedOut, Cancelled };

    void runVersionQuery(const QString &portText, const QString &speedText);
    void exchangeVersion();
    void beginExchange();
    bool initializeForExchange(const QString &portText, const QString &speedText);
    void applySpeed(const QString &speedText);
    void File_Load(const QString &file_name);
    Ending transferWords(const QVector<HexWord> &words);
    Wait sendWord(const HexWord &word);

    void send(const QByteArray &bytes);
    QByteArray receive();
    Wait awaitBytes(int count, const QDeadlineTimer &deadline);
    bool cancelled() const;

    void endVersionQueryFailed(const SerialError &error);
    void endVersionQueryTimedOut();
    void endVersionQueryCancelled();
    void endTransferDone(const QElapsedTimer &sinceStart);
    void endTransferTimedOut();
    void endTransferFailed(Outcome outcome, const QString &detail);

    CommPort &m_port;
    DeviceHost &m_host;
    bool m_busy = false;
    bool m_commError = false;
    Outcome m_outcome = Outcome::None;
    QByteArray m_frame;     // the five bytes of the word being sent
    QByteArray m_command;   // the one command byte being sent
};
