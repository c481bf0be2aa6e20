// One kit served by the command line: its port, its exchange, and what the
// user sees of it. Several run side by side on one thread.
#pragma once

#include "KitLink.h"
#include "LinkReports.h"

#include <QJsonObject>
#include <QObject>
#include <memory>

class Console;
class MSComm100;

class KitRun final : public QObject, private LinkReports {
    Q_OBJECT
public:
    // label: the port as the user named it; lines are prefixed with it when
    // several kits run (prefixed).
    KitRun(const QString &label, const PortChoice &port, Console &console, bool prefixed, QObject *parent = nullptr);
    ~KitRun() override;

    void startVersionQuery();
    void startUpdate(FirmwareLoader loadFirmware);
    void cancel();

    bool running() const;
    const LinkResult &result() const { return m_result; }
    QString label() const { return m_label; }
    QString devicePath() const { return m_port.devicePath; }
    // The USB adapter's serial number, where the device is one.
    QString serialNumber() const { return m_serial; }
    void setSerialNumber(const QString &serial) { m_serial = serial; }

signals:
    void ended();

private:
    void statusText(const QString &text) override;
    void failureDetail(const QString &reason) override;
    void versionRead(const QString &version) override;
    void wordWritten(const WordProgress &progress) override;
    void progressReset() override;
    void message(LinkMessage message) override;
    void finished(const LinkResult &result) override;

    QString prefixed(const QString &text) const;
    // The line that tells a user whose adapter holds every answer how to shorten that.
    void noteSlowAnswers(const LinkResult &result);
    void event(const QJsonObject &object);

    QString m_label;
    PortChoice m_port;
    Console &m_console;
    bool m_prefixed;
    QString m_serial;
    std::unique_ptr<MSComm100> m_comm;
    std::unique_ptr<KitLink> m_link;
    int m_bar = -1;
    bool m_events = false; // JSON lines of events (updates only)
    LinkResult m_result;
};
