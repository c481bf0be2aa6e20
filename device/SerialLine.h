// The serial line under the serial-port component: open, configure, write,
// read, and a signal when bytes arrive. QtSerialLine carries a real device or
// a pseudo-terminal; the simulated kit has an in-memory line for unit tests.
#pragma once

#include "LineError.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// A serial operation failed. reason() says why, in words a user can act on.
class SerialError : public LineError {
public:
    enum class Kind {
        Refused,          // a setting or device the serial layer does not take
        OpenFailed,       // the device could not be opened (missing, not a serial device)
        PermissionDenied, // the device exists but this user may not open it
        Busy,             // another program holds the device
        AlreadyOpen,      // opening a port that is open, or reconfiguring it while open
        NotOpen,          // a transfer on a closed port
        IoFailed,         // the line failed while open (device gone, hang-up)
    };

    SerialError(Kind kind, const QString &reason) : LineError(reason.toStdString()), m_kind(kind) {}
    Kind kind() const { return m_kind; }
    QString reason() const { return QString::fromUtf8(what()); }

private:
    Kind m_kind;
};

struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };
    enum class FlowControl { None, XonXoff, RtsCts };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    FlowControl flowControl = FlowControl::None;

    bool operator==(const LineSettings &o) const
    {
        return baudRate == o.baudRate && parity == o.parity && dataBits == o.dataBits && stopBits == o.stopBits
               && flowControl == o.flowControl;
    }
};

class SerialLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the device with these settings. Throws SerialError.
    virtual void open(const QString &devicePath, const LineSettings &settings) = 0;
    // Closes the line if it is open; bytes not yet read are dropped.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Applies new settings to the open line. Throws SerialError.
    virtual void configure(const LineSettings &settings) = 0;
    // Hands all bytes to the line in order, without waiting for an answer. Throws SerialError.
    virtual void write(const QByteArray &bytes) = 0;
    // Received bytes not yet read. The line keeps at most a bounded number of
    // them while nobody reads; what arrives beyond that is dropped.
    virtual qint64 bytesAvailable() const = 0;
    // Takes up to maxBytes received bytes (all of them for maxBytes <= 0).
    virtual QByteArray read(qint64 maxBytes) = 0;
    // Drops every received byte, also those the driver still holds. Throws SerialError.
    virtual void discardInput() = 0;

signals:
    // Bytes arrived. Never emitted from inside write() or read(): always from the event loop.
    void bytesArrived();
    // The line failed while open (device unplugged, hung up); it is closed by now.
    void failed(const QString &reason);
};
