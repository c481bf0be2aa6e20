// The serial port as the exchanges with the kit use it: the operations of the
// classic serial-port control, named after its properties, plus a wait for
// received bytes that keeps the caller's event loop running.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <stdexcept>

// A serial operation failed. what() carries the operating system's reason.
class SerialError : public std::runtime_error {
public:
    enum class Kind {
        NotANumber,       // the port text is no port number
        Refused,          // the serial layer does not take this port number or setting
        OpenFailed,       // the device could not be opened (missing, not a serial device)
        PermissionDenied, // the device exists but may not be opened
        Busy,             // another opener holds the device
        AlreadyOpen,      // opening a port that is open, or reconfiguring it while open
        NotOpen,          // a transfer on a closed port
        IoFailed,         // the line failed while open (device gone, hang-up)
    };

    SerialError(Kind kind, const QString &reason);
    Kind kind() const { return m_kind; }
    QString reason() const { return QString::fromUtf8(what()); }

private:
    Kind m_kind;
};

class CommPort {
public:
    virtual ~CommPort() = default;

    // True exactly while the port is open.
    virtual bool PortOpen() const = 0;
    // true: opens the configured port (throws SerialError); false: closes it, if open.
    virtual void setPortOpen(bool open) = 0;

    // Selects the port that the next opening uses; only while closed. Throws
    // SerialError (Refused) for a number the serial layer does not take.
    virtual void setCommPort(int number) = 0;
    virtual int commPortNumber() const = 0;

    // Line settings "speed,parity,data bits,stop bits", e.g. "9600,n,8,1".
    virtual void setSettings(const QString &settings) = 0;
    virtual QString Settings() const = 0;

    // 1: binary reception (bytes unchanged); 0: text. Both hand over bytes here.
    virtual void setInputMode(int mode) = 0;
    // 0: no flow control, 1: XON/XOFF, 2: RTS/CTS.
    virtual void setHandshaking(int mode) = 0;
    // 0: Input() takes everything waiting; n > 0: at most n bytes.
    virtual void setInputLen(int length) = 0;
    // 0: no notification on arrival (the exchanges wait explicitly).
    virtual void setRThreshold(int threshold) = 0;

    // Bytes received and not yet read (0 while closed), at most 32767.
    virtual int InBufferCount() const = 0;
    // Only 0 is meaningful: discards every received byte; accepted while closed.
    virtual void setInBufferCount(int count) = 0;

    // Hands all bytes to the line in order and returns without waiting for an answer.
    virtual void Output(const QByteArray &bytes) = 0;
    // Takes the waiting bytes (see setInputLen); none waiting gives an empty array.
    virtual QByteArray Input() = 0;

    enum class WaitResult { Ready, TimedOut, Interrupted };
    // Returns once at least atLeast bytes wait (Ready), the deadline has passed
    // (TimedOut) or interruptWait() was called (Interrupted). The caller's thread
    // keeps processing its events meanwhile. A line failure throws SerialError
    // and leaves the port closed.
    virtual WaitResult waitForInput(int atLeast, QDeadlineTimer deadline) = 0;
    // Wakes the running wait, or the next one if none runs.
    virtual void interruptWait() = 0;
};
