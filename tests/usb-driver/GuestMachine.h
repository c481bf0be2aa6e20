// A virtual machine whose Linux kernel drives an emulated FTDI FT232 adapter
// with the real ftdi_sio driver, the simulated kit (kitsim, on a
// pseudo-terminal of this host) at the adapter's other end. The guest runs
// this host's libraries (the host's root, read-only over 9p) and takes shell
// commands through a shared folder; QMP (on QEMU's standard input and output)
// plugs and unplugs the adapter. prepare.sh makes the kernel, initramfs and udev it boots with.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// The adapter's serial number: udev names its link after it.
inline const QString AdapterSerial = QStringLiteral("KIT14A01");
inline const QString AdapterLink = QStringLiteral("/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_KIT14A01-if00-port0");
// This build's kitupdater-cli in the guest: a copy in the shared folder, since
// the guest's own /tmp hides a checkout under the host's /tmp.
inline const QString GuestCli = QStringLiteral("/tmp/share/kitupdater-cli");

struct GuestRun {
    int exitCode = -1; // -1: did not finish in time, or the machine died
    QString out;
    QString err;
};

// kitsim as its own process, logging every command it receives.
class KitProcess {
public:
    explicit KitProcess(const QString &logPath, const QStringList &extraArguments = {});
    ~KitProcess();
    // Empty when it did not start; why is in error().
    QString ptyPath() const { return m_pty; }
    QString error() const { return m_error; }
    // The words received since the log was this long: (address, value) pairs as "AAAA VVVV".
    QStringList framesSince(qint64 logOffset) const;
    qint64 logSize() const;
    // Waits (processing events) until at least count frames came after logOffset.
    bool waitForFrames(qint64 logOffset, int count, int timeoutMs) const;
    // Stops and resumes the kit process: a held kit answers nothing.
    void hold();
    void release();

private:
    QProcess m_process;
    QString m_logPath;
    QString m_pty;
    QString m_error;
};

class GuestMachine {
public:
    // Boots with the adapter plugged in, its far end at kitPty, and waits
    // until the guest's udev has settled. Empty on success, else why not.
    // Two processors let udev and the tool run at the same moment, as on a desktop.
    QString boot(const QString &kitPty, int processors = 1);
    ~GuestMachine();

    // Runs a bash script in the guest (as root, in /tmp, with private XDG folders).
    GuestRun run(const QString &script, int timeoutMs = 60000);
    // The same in two steps, for what the host does meanwhile (plugging).
    int submit(const QString &script);
    GuestRun result(int command, int timeoutMs);

    // Puts a file into the shared folder; returns its path in the guest.
    QString putFile(const QString &name, const QByteArray &content);

    bool unplug(); // waits until QEMU has removed the device
    bool plug();

    // QEMU itself ended (7.2 segfaults now and then when the kit's bytes reach
    // the adapter as device_del removes it).
    bool died() const { return m_qemu.state() == QProcess::NotRunning; }
    QString deathReport() const;

    // The driver's requests to the adapter, as usbmon logs them, from byte offset on.
    QStringList driverRequestsSince(qint64 offset) const;
    qint64 driverRequestsSize() const;

    QString lastError() const { return m_error; }

private:
    QString qmp(const QByteArray &command, const QByteArray &awaitedEvent = {});
    QString consoleTail() const;

    QTemporaryDir m_dir;
    QDir m_share;
    QProcess m_qemu;
    QByteArray m_qmpBuffer;
    int m_nextCommand = 1;
    QString m_error;
};
