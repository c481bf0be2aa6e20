// --port auto's test of one USB adapter: does what is behind it behave like a
// kit? A kit in its bootloader says nothing until asked, answers the version
// command with its 16 bytes and is quiet again. A GPS, a data logger or another
// board that streams either sends without being asked or goes on after 16
// bytes, and must never be taken for the kit and written to. The probe sends
// nothing but the version query's 0x46 and 0x3F.
#pragma once

#include "KitLink.h"
#include "LinkReports.h"

#include <QObject>
#include <QTimer>
#include <memory>

class MSComm100;

class KitProbe final : public QObject, private EndingReports {
    Q_OBJECT
public:
    enum class Verdict {
        Kit,        // quiet, 16 bytes to 0x3F, quiet again
        NoAnswer,   // fewer than 16 bytes within the second
        NotAKit,    // it sends unasked, or more than a kit's answer
        Unopenable, // this user may not open it, or another program holds it
        Stopped,    // a stop signal came first
    };

    // How long a kit must stay silent before the query and after its answer:
    // longer than the gaps of a device that sends in bursts (a GPS sends about
    // every second for several hundred milliseconds).
    static constexpr std::chrono::milliseconds QuietWindow{300};

    KitProbe(const QString &label, const PortChoice &port, QObject *parent = nullptr);
    ~KitProbe() override;

    void start();
    void cancel();

    QString label() const { return m_label; }
    QString devicePath() const { return m_port.devicePath; }
    Verdict verdict() const { return m_verdict; }
    // Why it is not the kit, in words (empty for a kit).
    QString reason() const { return m_reason; }

signals:
    void ended();

private:
    enum class Phase { Idle, Listening, Querying, Trailing };

    void openToListen();
    void onArrival();
    void onQuietWindowOver();
    void end(Verdict verdict, const QString &reason = QString());

    // Only the query's ending matters here.
    void finished(const LinkResult &result) override;

    QString m_label;
    PortChoice m_port;
    std::unique_ptr<MSComm100> m_comm;
    std::unique_ptr<KitLink> m_link;
    QTimer m_quiet;
    Phase m_phase = Phase::Idle;
    Verdict m_verdict = Verdict::NoAnswer;
    QString m_reason;
};
