// The exchanges with one kit: the firmware version query and the firmware
// update, as state machines driven by the port's arrivals and by timers, so
// that any number of kits are served side by side on one thread and the
// caller's event loop never waits inside them.
#pragma once

#include "HexImage.h"
#include "LinkReports.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class MSComm100;
struct KitProfile;

// The port an exchange uses, as the front end resolved it from the user's choices.
struct PortChoice {
    QString devicePath;
    QString lineSettings; // "9600,n,8,1"; empty: keep the settings the port has
};

// Sets a closed port up for the kit: binary input, no handshaking, every
// arrival notified, the chosen line settings and device. Every exchange with a
// kit, and whatever listens to one, uses these options.
void configureForKit(MSComm100 &port, const PortChoice &choice);

// Gives the words to write once the handshake has succeeded. Throws
// HexFileError when the file cannot be used.
using FirmwareLoader = std::function<HexImage()>;

// Whether the kit receives a word of the file: in its write window, and not
// under an extended base address that moves it out of the kit's memory.
bool isSent(const KitProfile &profile, const HexWord &word);
int wordsToSend(const KitProfile &profile, const QVector<HexWord> &words);

class KitLink final : public QObject {
    Q_OBJECT
public:
    KitLink(MSComm100 &port, const KitProfile &profile, LinkReports &reports, QObject *parent = nullptr);
    ~KitLink() override;

    // Starts the version query. Returns false, doing nothing, while another exchange runs.
    bool startVersionQuery(const PortChoice &port);
    // Starts an update: the port is opened once as a test, the version query
    // runs as the handshake, then loadFirmware() gives the words to write.
    // Returns false, doing nothing, while another exchange runs.
    bool startUpdate(const PortChoice &port, FirmwareLoader loadFirmware);
    // Stops the running exchange at once: nothing more is sent, the port is
    // closed, and the exchange ends as stopped. Does nothing when none runs.
    void cancel();

    bool busy() const { return m_state != State::Idle; }
    // True after a version query or a word that failed; false once a query starts.
    bool commError() const { return m_commError; }
    void closePort();

private:
    enum class State { Idle, Opening, Pausing, AwaitingVersion, Transferring, AwaitingWord, Ending };

    void begin(bool update, const PortChoice &port);
    void initializePort();
    void openForUpdate();
    void startQuery();
    void sendVersionRequest();
    void versionAnswered();
    void startTransfer();
    void sendNextWords();
    void wordAnswered();

    void onArrival();
    void onDeadline();
    void onLineFailed(const QString &reason);
    void armDeadline(std::chrono::milliseconds limit);

    void queryFailed(const QString &reason);
    void queryTimedOut();
    void transferDone();
    void transferTimedOut();
    void transferFailed(LinkResult::Ending ending, const QString &reason, bool closeThePort);
    void enterEnding();
    // Settles the result with the time so far and reports it as concluded.
    void conclude(LinkResult::Ending ending, const QString &detail = QString());
    // Ends the concluded exchange: another one may start.
    void finish();
    void finish(LinkResult::Ending ending, const QString &detail = QString());

    void send(const QByteArray &bytes);
    QByteArray receive();
    bool stillTransferring(quint64 run) const;
    QString wordsSoFar() const;

    MSComm100 &m_port;
    const KitProfile &m_profile;
    LinkReports &m_reports;

    QTimer m_pause;
    QTimer m_deadlineTimer;
    QTimer m_continue;
    QDeadlineTimer m_deadline;
    State m_state = State::Idle;
    quint64 m_run = 0; // counts the exchanges started
    bool m_commError = false;

    bool m_update = false;
    PortChoice m_choice;
    FirmwareLoader m_loadFirmware;
    QElapsedTimer m_exchangeClock;
    LinkResult m_result; // of the exchange that ends
    QElapsedTimer m_transferClock;
    QString m_kitVersion;
    int m_versionAnswerBytes = 0;
    QVector<HexWord> m_words;
    int m_next = 0;
    int m_sent = 0;
    int m_toSend = 0;
};
