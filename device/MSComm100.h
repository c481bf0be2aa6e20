// The serial-port component: the operations of the classic serial control,
// named after its properties, over a SerialLine. Each exchange configures it
// afresh; between exchanges the port may stay open.
#pragma once

#include "SerialLine.h"

#include <QObject>
#include <memory>

class MSComm100 final : public QObject {
    Q_OBJECT
public:
    explicit MSComm100(std::unique_ptr<SerialLine> line, QObject *parent = nullptr);
    ~MSComm100() override;

    // True exactly while the port is open.
    bool PortOpen() const;
    // true: opens the configured device (throws SerialError); false: closes it, if open.
    void setPortOpen(bool open);

    // The device the next opening uses; only while closed.
    void setCommPort(const QString &devicePath);
    QString CommPort() const { return m_devicePath; }

    // Line settings "speed,parity,data bits,stop bits", e.g. "9600,n,8,1".
    // Throws SerialError (Refused) for a text the serial layer does not take.
    void setSettings(const QString &settings);
    QString Settings() const { return m_settingsText; }

    // 1: binary reception; 0: text. Both hand over bytes unchanged here.
    void setInputMode(int mode);
    // 0: no flow control, 1: XON/XOFF, 2: RTS/CTS.
    void setHandshaking(int mode);
    // 0: Input() takes everything waiting; n > 0: at most n bytes.
    void setInputLen(int length);
    // 0: no OnComm when bytes arrive; n > 0: OnComm once n or more bytes wait.
    void setRThreshold(int threshold);

    // Bytes received and not yet read (0 while closed), at most 32767.
    int InBufferCount() const;
    // Only 0 is meaningful: discards every received byte; accepted while closed.
    void setInBufferCount(int count);

    // Hands all bytes to the line in order and returns without waiting for an answer.
    void Output(const QByteArray &bytes);
    // Takes the waiting bytes (see setInputLen); none waiting gives an empty array.
    QByteArray Input();

signals:
    // Bytes arrived and at least RThreshold of them wait.
    void OnComm();
    // The line failed while open (device unplugged, hang-up); the port is closed.
    void lineFailed(const QString &reason);

private:
    void onBytesArrived();
    void requireOpen() const;

    std::unique_ptr<SerialLine> m_line;
    QString m_devicePath;
    QString m_settingsText;
    LineSettings m_settings;
    int m_inputLen = 0;
    int m_rThreshold = 0;
};
