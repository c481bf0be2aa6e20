// A serial line carried by QSerialPort: a real serial device, a USB adapter
// or a pseudo-terminal.
#pragma once

#include "SerialLine.h"

#include <QSerialPort>

class QtSerialLine final : public SerialLine {
    Q_OBJECT
public:
    // What the line keeps of received bytes while nobody reads them, as the
    // classic serial control's input buffer did.
    static constexpr qint64 InputBufferSize = 1024;

    explicit QtSerialLine(QObject *parent = nullptr);
    ~QtSerialLine() override;

    void open(const QString &devicePath, const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return m_serial.isOpen(); }
    void configure(const LineSettings &settings) override;
    void write(const QByteArray &bytes) override;
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxBytes) override;
    void discardInput() override;

private:
    qintptr nativeHandle() const;
    void openSerial(const QString &devicePath, const LineSettings &settings);
    bool apply(const LineSettings &settings);
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void fail(const QString &reason);
    QString reasonOf(QSerialPort::SerialPortError error) const;

    void closeSerial();

    QSerialPort m_serial;
    QString m_devicePath;
    bool m_lowLatencyAsked = false; // put back on closing, as QSerialPort puts back the line settings
};
