// The exchanges with one kit on the desktop: the core's state machine driven
// by the serial-port component's arrivals, a Qt timer and the event loop, so
// that any number of kits are served side by side on one thread and the
// caller's event loop never waits inside them.
#pragma once

#include "KitExchange.h"
#include "LinkReports.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class MSComm100;

// The port an exchange uses, as the front end resolved it from the user's choices.
struct PortChoice {
    QString devicePath;
    QString lineSettings; // "9600,n,8,1"; empty: keep the settings the port has
};

// Sets a closed port up for the kit: binary input, no handshaking, every
// arrival notified, the chosen line settings and device. Every exchange with a
// kit, and whatever listens to one, uses these options.
void configureForKit(MSComm100 &port, const PortChoice &choice);

// The line settings a speed box text selects; empty for a text that is no entry.
QString lineSettingsFor(const KitProfile &profile, const QString &speedText);

class KitLink final : public QObject, private ExchangeDriver, private ExchangeReports {
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

    bool busy() const { return m_exchange.busy(); }
    // True after a version query or a word that failed; false once a query starts.
    bool commError() const { return m_exchange.commError(); }
    void closePort();

private:
    Instant now() const { return Instant(m_clock.nsecsElapsed()); }
    void onArrival();
    void onLineFailed(const QString &reason);
    LinkResult linkResult(const ExchangeResult &result) const;

    // ExchangeDriver
    void openLine() override;
    void closeLine() override { closePort(); }
    void discardInput() override;
    void write(const std::uint8_t *bytes, std::size_t count) override;
    void armTimer(std::chrono::nanoseconds delay) override;
    void cancelTimer() override { m_timer.stop(); }

    // ExchangeReports, handed on as the desktop shows them
    void statusText(const std::string &text) override;
    void failureDetail(const std::string &reason) override;
    void versionRead(const std::string &version) override;
    void wordWritten(const WordProgress &progress) override { m_reports.wordWritten(progress); }
    void progressReset() override { m_reports.progressReset(); }
    void message(LinkMessage message) override { m_reports.message(message); }
    void concluded(const ExchangeResult &result) override;
    void finished(const ExchangeResult &result) override;

    MSComm100 &m_port;
    LinkReports &m_reports;
    QElapsedTimer m_clock;
    QTimer m_timer;
    PortChoice m_choice;
    KitExchange m_exchange;
};
