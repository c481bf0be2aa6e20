#include "GuestMachine.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

// The guest boots in about 8 s with KVM or under TCG on a quiet machine; a
// machine shared with builds takes longer.
constexpr int BootLimitMs = 120000;

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList linesFrom(const QString &path, qint64 offset)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Polls (processing events) until ready() holds or the time is up.
template <typename Ready>
bool waitUntil(Ready ready, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// Some virtual machines offer a /dev/kvm that opens although their processor
// lacks the virtualisation extensions: a guest started on it never runs.
bool processorVirtualises()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    return cpuinfo.open(QIODevice::ReadOnly)
        && QString::fromLatin1(cpuinfo.readAll()).contains(QRegularExpression(QStringLiteral("^flags\\s*:.*\\b(vmx|svm)\\b"),
                                                                               QRegularExpression::MultilineOption));
}

// Opened as QEMU opens it (QFile would create a missing one).
bool kvmUsable()
{
    const int fd = ::open("/dev/kvm", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return processorVirtualises();
}

// A path as the value of a QEMU option list, where a comma ends the value unless doubled.
QString optionValue(QString path) { return path.replace(QLatin1Char(','), QStringLiteral(",,")); }

const QByteArray AdapterArguments = "\"driver\":\"usb-serial\",\"id\":\"adapter\",\"bus\":\"xhci.0\",\"chardev\":\"kit\","
                                    "\"serial\":\"KIT14A01\"";

} // namespace

KitProcess::KitProcess(const QString &logPath, const QStringList &extraArguments) : m_logPath(logPath)
{
    m_process.start(QStringLiteral(KITSIM_PATH), QStringList{QStringLiteral("--log"), logPath} + extraArguments);
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(10000)) {
        m_error = QStringLiteral("kitsim did not start: ") + m_process.errorString();
        return;
    }
    m_pty = QString::fromUtf8(m_process.readLine()).trimmed();
}

KitProcess::~KitProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
}

qint64 KitProcess::logSize() const { return QFileInfo(m_logPath).size(); }

QStringList KitProcess::framesSince(qint64 logOffset) const
{
    QStringList frames;
    for (const QString &line : linesFrom(m_logPath, logOffset)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() == 4 && fields[1] == QLatin1String("A"))
            frames.append(fields[2] + QLatin1Char(' ') + fields[3]);
    }
    return frames;
}

bool KitProcess::waitForFrames(qint64 logOffset, int count, int timeoutMs) const
{
    return waitUntil([&] { return framesSince(logOffset).size() >= count; }, timeoutMs);
}

void KitProcess::hold() { ::kill(pid_t(m_process.processId()), SIGSTOP); }

void KitProcess::release() { ::kill(pid_t(m_process.processId()), SIGCONT); }

QString GuestMachine::boot(const QString &kitPty, int processors)
{
    const QString vmFiles = readText(QStringLiteral(USB_DRIVER_VM_FILES)).trimmed();
    if (vmFiles.isEmpty() || !QFileInfo::exists(vmFiles + QStringLiteral("/ready")))
        return QStringLiteral("the virtual machine is not prepared: run tests/usb-driver/prepare.sh (%1 names no prepared folder)")
            .arg(QStringLiteral(USB_DRIVER_VM_FILES));
    const QString qemu = QStandardPaths::findExecutable(QStringLiteral("qemu-system-x86_64"));
    if (qemu.isEmpty())
        return QStringLiteral("QEMU cannot run here: qemu-system-x86_64 is not installed (tests/usb-driver/prepare.sh installs it)");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: ") + m_dir.errorString();
    m_share = QDir(m_dir.filePath(QStringLiteral("share")));
    m_share.mkpath(QStringLiteral("."));
    // The guest sees the host's root, but a tmpfs of its own over /tmp: what
    // it runs from this checkout, wherever that is, goes in by the share.
    if (!QFile::copy(QStringLiteral(KITUPDATER_CLI_PATH), m_share.filePath(QStringLiteral("kitupdater-cli")))
        || !QFile::copy(QStringLiteral(USB_DRIVER_SESSION), m_share.filePath(QStringLiteral("guest-session.sh"))))
        return QStringLiteral("cannot copy kitupdater-cli and guest-session.sh into ") + m_share.path();
    QStringList arguments{
        QStringLiteral("-m"), QStringLiteral("512"), QStringLiteral("-smp"), QString::number(processors),
        QStringLiteral("-nodefaults"), QStringLiteral("-display"), QStringLiteral("none"), QStringLiteral("-no-reboot"),
        QStringLiteral("-kernel"), vmFiles + QStringLiteral("/vmlinuz"),
        QStringLiteral("-initrd"), vmFiles + QStringLiteral("/initrd.img"),
        QStringLiteral("-append"), QStringLiteral("console=ttyS0 panic=-1"),
        QStringLiteral("-serial"), QStringLiteral("file:") + m_dir.filePath(QStringLiteral("console.log")),
        // remap: /proc, /sys and /dev of the host have clashing inode numbers.
        QStringLiteral("-virtfs"), QStringLiteral("local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"),
        QStringLiteral("-virtfs"), QStringLiteral("local,path=%1,mount_tag=share,security_model=none").arg(optionValue(m_share.path())),
        QStringLiteral("-virtfs"), QStringLiteral("local,path=%1,mount_tag=vmfiles,security_model=none,readonly=on").arg(optionValue(vmFiles)),
        QStringLiteral("-chardev"), QStringLiteral("serial,id=kit,path=") + kitPty,
        QStringLiteral("-device"), QStringLiteral("qemu-xhci,id=xhci"),
        QStringLiteral("-device"), QStringLiteral("usb-serial,id=adapter,bus=xhci.0,chardev=kit,serial=") + AdapterSerial,
        QStringLiteral("-qmp"), QStringLiteral("stdio")};
    if (kvmUsable())
        arguments += {QStringLiteral("-accel"), QStringLiteral("kvm")};
    arguments += {QStringLiteral("-accel"), QStringLiteral("tcg")};
    QElapsedTimer booting;
    booting.start();
    m_qemu.start(qemu, arguments);
    if (!m_qemu.waitForStarted(10000))
        return QStringLiteral("QEMU cannot run here: ") + m_qemu.errorString();
    const bool ready = waitUntil([&] { return died() || m_share.exists(QStringLiteral("ready")) || m_share.exists(QStringLiteral("failed")); },
                                 BootLimitMs);
    if (died() || !ready || !m_share.exists(QStringLiteral("ready")))
        return QStringLiteral("the guest did not come up: %1").arg(deathReport());
    qInfo("the guest was up, udev settled, after %.1f s (%s)", booting.elapsed() / 1000.0,
          kvmUsable() ? "KVM" : "TCG, without KVM");
    const QString error = qmp("{\"execute\":\"qmp_capabilities\"}");
    return error.isEmpty() ? QString() : QStringLiteral("QMP: ") + error;
}

GuestMachine::~GuestMachine()
{
    if (m_qemu.state() == QProcess::NotRunning)
        return;
    m_qemu.kill();
    m_qemu.waitForFinished(5000);
}

QString GuestMachine::consoleTail() const
{
    const QStringList lines = readText(m_dir.filePath(QStringLiteral("console.log"))).split(QLatin1Char('\n'));
    return lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join(QLatin1Char('\n'));
}

QString GuestMachine::deathReport() const
{
    QString report;
    if (died())
        report += QStringLiteral("QEMU ended (%1, status %2): %3\n")
                      .arg(m_qemu.exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed") : QStringLiteral("exited"))
                      .arg(m_qemu.exitCode())
                      .arg(QString::fromLocal8Bit(const_cast<QProcess &>(m_qemu).readAllStandardError()));
    report += QStringLiteral("guest console:\n") + consoleTail();
    report += QStringLiteral("\nguest session:\n") + readText(m_share.filePath(QStringLiteral("session.log")));
    return report;
}

int GuestMachine::submit(const QString &script)
{
    const int command = m_nextCommand++;
    const QString name = m_share.filePath(QString::number(command) + QStringLiteral(".cmd"));
    QFile part(name + QStringLiteral(".part"));
    if (!part.open(QIODevice::WriteOnly) || part.write(script.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(part.fileName()));
    part.close();
    // Renamed whole, so that the guest never runs half a script.
    QFile::rename(part.fileName(), name);
    return command;
}

GuestRun GuestMachine::result(int command, int timeoutMs)
{
    const QString base = m_share.filePath(QString::number(command));
    GuestRun run;
    if (!waitUntil([&] { return died() || QFileInfo::exists(base + QStringLiteral(".rc")); }, timeoutMs)) {
        m_error = QStringLiteral("command %1 did not end within %2 ms").arg(command).arg(timeoutMs);
        return run;
    }
    if (died()) {
        m_error = deathReport();
        return run;
    }
    run.exitCode = readText(base + QStringLiteral(".rc")).trimmed().toInt();
    run.out = readText(base + QStringLiteral(".out"));
    run.err = readText(base + QStringLiteral(".err"));
    return run;
}

QString GuestMachine::putFile(const QString &name, const QByteArray &content)
{
    QFile file(m_share.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return QStringLiteral("/tmp/share/") + name;
}

GuestRun GuestMachine::run(const QString &script, int timeoutMs) { return result(submit(script), timeoutMs); }

// One command; returns its error text, empty on success. With awaitedEvent,
// waits for that event too (device_del's work ends with DEVICE_DELETED).
QString GuestMachine::qmp(const QByteArray &command, const QByteArray &awaitedEvent)
{
    if (died())
        return deathReport();
    m_qemu.write(command + '\n');
    bool answered = false;
    bool eventSeen = awaitedEvent.isEmpty();
    QString error;
    const bool done = waitUntil(
        [&] {
            m_qmpBuffer += m_qemu.readAllStandardOutput();
            qsizetype end;
            while ((end = m_qmpBuffer.indexOf('\n')) >= 0) {
                const QJsonObject message = QJsonDocument::fromJson(m_qmpBuffer.left(end)).object();
                m_qmpBuffer.remove(0, end + 1);
                if (message.contains(QStringLiteral("return")))
                    answered = true;
                if (message.contains(QStringLiteral("error"))) {
                    answered = true;
                    error = message.value(QStringLiteral("error")).toObject().value(QStringLiteral("desc")).toString();
                }
                if (message.value(QStringLiteral("event")).toString().toUtf8() == awaitedEvent)
                    eventSeen = true;
            }
            return died() || (answered && (eventSeen || !error.isEmpty()));
        },
        20000);
    if (died())
        return deathReport();
    if (!done)
        return QStringLiteral("no answer to %1").arg(QString::fromUtf8(command));
    return error;
}

bool GuestMachine::unplug()
{
    m_error = qmp("{\"execute\":\"device_del\",\"arguments\":{\"id\":\"adapter\"}}", "DEVICE_DELETED");
    return m_error.isEmpty();
}

bool GuestMachine::plug()
{
    m_error = qmp("{\"execute\":\"device_add\",\"arguments\":{" + AdapterArguments + "}}");
    return m_error.isEmpty();
}

QStringList GuestMachine::driverRequestsSince(qint64 offset) const
{
    return linesFrom(m_share.filePath(QStringLiteral("usbmon.txt")), offset);
}

qint64 GuestMachine::driverRequestsSize() const { return QFileInfo(m_share.filePath(QStringLiteral("usbmon.txt"))).size(); }
