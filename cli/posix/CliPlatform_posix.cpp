#include "CliPlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void handle(int signalNumber)
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}
} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the default actions stay: the program still ends on a signal
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        handle(signalNumber);
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::onReadable);
}

StopSignals::~StopSignals()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signalNumber, SIG_DFL);
}

void StopSignals::onReadable()
{
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        deliver(byte);
}

QList<QByteArray> programArguments(int argc, char *argv[])
{
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return arguments;
}

OutputStream::OutputStream(std::FILE *stream) : m_stream(stream), m_console(::isatty(::fileno(stream)) != 0) {}

OutputStream::~OutputStream() = default;

// The terminal decodes the UTF-8 itself.
void OutputStream::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

bool OutputStream::followsEscapes() { return m_console; }

QString accessAdvice(const QString &devicePath)
{
    const QByteArray path = QFile::encodeName(devicePath);
    struct stat info {};
    if (devicePath.isEmpty() || ::stat(path.constData(), &info) != 0 || ::access(path.constData(), R_OK | W_OK) == 0)
        return QString();
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return QStringLiteral("you may not open %1; only its owner may. Ask the administrator for access to it.")
            .arg(devicePath);
    const struct group *owner = ::getgrgid(info.st_gid);
    const QString group = owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid);
    return QStringLiteral("you may not open %1; it belongs to the group '%2'.\n"
                          "Join that group and log in again: sudo usermod -aG %2 $USER")
        .arg(devicePath, group);
}

// The tool asks the driver for the shortest latency already (ASYNC_LOW_LATENCY);
// drivers that ignore that still take it through sysfs.
QString latencyAdvice(const QString &devicePath)
{
    const QString device = QFileInfo(QFileInfo(devicePath).canonicalFilePath()).fileName();
    const QString setting = device.startsWith(QLatin1String("ttyUSB"))
                                ? QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer").arg(device)
                                : QStringLiteral("/sys/bus/usb-serial/devices/ttyUSB*/latency_timer");
    return QStringLiteral("Set the driver's latency_timer to 1 ms: echo 1 | sudo tee %1").arg(setting);
}
