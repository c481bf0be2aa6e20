// The window's serial port, carried by QSerialPort.
//
// Needs a QCoreApplication (its waits run a local event loop on the caller's
// thread). Port numbers become device paths through PortMap.
#pragma once

#include "CommPort.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

class SettingsStore;

class MSComm100 final : public CommPort {
public:
    explicit MSComm100(const SettingsStore &settings);
    ~MSComm100() override;

    MSComm100(const MSComm100 &) = delete;
    MSComm100 &operator=(const MSComm100 &) = delete;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    void setCommPort(int number) override;
    int commPortNumber() const override { return m_portNumber; }
    void setSettings(const QString &settings) override;
    QString Settings() const override { return m_settingsText; }
    void setInputMode(int mode) override;
    void setHandshaking(int mode) override;
    void setInputLen(int length) override;
    void setRThreshold(int threshold) override;
    int InBufferCount() const override;
    void setInBufferCount(int count) override;
    void Output(const QByteArray &bytes) override;
    QByteArray Input() override;
    WaitResult waitForInput(int atLeast, QDeadlineTimer deadline) override;
    void interruptWait() override;

    // The device that the next opening uses (empty before setCommPort).
    QString devicePath() const { return m_devicePath; }

private:
    void open();
    void close();
    void lockDevice();
    void applyLineSettings();
    bool writeDirectly(const QByteArray &bytes);
    void throwIfFailed();
    [[noreturn]] void failLine(const QString &reason);
    void requireOpen() const;
    void onPortError(QSerialPort::SerialPortError error);
    void onReadyRead();
    void wake();
    void runEventsUntilWoken();

    const SettingsStore &m_settings;
    QSerialPort m_serial;
    QEventLoop m_waitLoop;
    QTimer m_deadlineTimer;

    int m_portNumber = 0;
    QString m_devicePath;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    qint32 m_baudRate = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl m_flowControl = QSerialPort::NoFlowControl;
    int m_inputLen = 0;

    bool m_waiting = false;
    bool m_woken = false;
    int m_wanted = 0;
    bool m_interruptPending = false;
    QString m_lineFailure; // set when the line failed while open; the port is closed soon after
};
