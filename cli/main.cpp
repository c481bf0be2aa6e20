// kitupdater-cli: the kit's firmware tool for scripts and machines without a display.
#include "CliHost.h"
#include "HexImage.h"
#include "KitLink.h"
#include "MSComm100.h"
#include "PortCommands.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>
#include <grp.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitStatus { Success = 0, DeviceFailure = 1, UsageError = 2, FileRejected = 3 };

const char *const Description =
    "Writes firmware from an Intel HEX file into the kit, or reads its firmware version.\n"
    "\n"
    "Commands:\n"
    "  version        read the kit's firmware version\n"
    "  update FILE    write FILE into the kit\n"
    "  check FILE     read and check FILE as an update would; nothing is sent\n"
    "  ports          every port number with its device, USB details and whether you may\n"
    "                 open it (ok, busy, permission denied, missing); --json for scripts\n"
    "  map N DEVICE   make port number N (1 to 20) stand for DEVICE\n"
    "  unmap N        remove the mapping of port number N\n"
    "\n"
    "Exit status: 0 success, 1 port or device failure (map, unmap: settings not written),\n"
    "2 usage error, 3 file rejected.";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &message)
{
    err() << "kitupdater-cli: " << message << "\nTry 'kitupdater-cli --help'." << Qt::endl;
    return UsageError;
}

// Ctrl+C or SIGTERM stops a running exchange at its next wait.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> watchStopSignals(CliHost &host, KitLink &link)
{
    if (::pipe(signalPipe) != 0)
        return nullptr;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&host, &link] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        host.cancel();
        link.interruptWait();
    });
    return notifier;
}

// The speed as the speed box would hold it after a pick from its list.
std::optional<QString> speedText(const QString &speed)
{
    if (speed == QLatin1String("9600"))
        return QStringLiteral(" 9600");
    if (speed == QLatin1String("19200") || speed == QLatin1String("57600"))
        return speed;
    return std::nullopt;
}

int exitStatusOf(KitLink::Outcome outcome)
{
    switch (outcome) {
    case KitLink::Outcome::Done:
        return Success;
    case KitLink::Outcome::FileRejected:
    case KitLink::Outcome::NoFile:
        return FileRejected;
    case KitLink::Outcome::NoPort:
    case KitLink::Outcome::BadPortText:
        return UsageError;
    default:
        return DeviceFailure;
    }
}

// A device that exists but may not be opened: say how to get access.
void adviseOnAccess(const QString &devicePath)
{
    const QByteArray path = devicePath.toLocal8Bit();
    struct stat info {};
    if (devicePath.isEmpty() || ::stat(path.constData(), &info) != 0 || ::access(path.constData(), R_OK | W_OK) == 0)
        return;
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        err() << "kitupdater-cli: you may not open " << devicePath
              << "; only its owner may. Ask the administrator for access to it." << Qt::endl;
        return;
    }
    const struct group *owner = ::getgrgid(info.st_gid);
    const QString group = owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid);
    err() << "kitupdater-cli: you may not open " << devicePath << "; it belongs to the group '" << group
          << "'.\nJoin that group and log in again: sudo usermod -aG " << group << " $USER" << Qt::endl;
}

int checkFile(const QString &path)
{
    try {
        const HexImage image = HexFile::read(path);
        int sent = 0;
        for (const HexWord &word : image.words)
            sent += HexFile::isSent(word) ? 1 : 0;
        out() << "words to send: " << sent << "\nwords outside the write window: " << image.words.size() - sent
              << Qt::endl;
        return Success;
    } catch (const HexFileError &e) {
        err() << path << ": " << e.describe() << Qt::endl;
        return FileRejected;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kitupdater-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KITUPDATER_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port number (mapped in the settings) or device path; "
                                                       "default: the port last picked in the window."),
                                        QStringLiteral("N|PATH"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("9600 (default), 19200 or 57600."),
                                         QStringLiteral("BPS"), QStringLiteral("9600"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("ports: one JSON document on stdout."));
    parser.addOptions({portOption, speedOption, jsonOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("version, update FILE, check FILE, ports, map N DEVICE or unmap N"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out() << parser.helpText();
        out().flush();
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out() << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << Qt::endl;
        return Success;
    }

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    // Each command and the words it takes after its name.
    const QMap<QString, QString> commandWords{{QStringLiteral("version"), QString()},
                                              {QStringLiteral("update"), QStringLiteral("FILE")},
                                              {QStringLiteral("check"), QStringLiteral("FILE")},
                                              {QStringLiteral("ports"), QString()},
                                              {QStringLiteral("map"), QStringLiteral("N DEVICE")},
                                              {QStringLiteral("unmap"), QStringLiteral("N")}};
    if (!commandWords.contains(command))
        return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                            : QStringLiteral("unknown command '%1'").arg(command));
    const QString words = commandWords.value(command);
    if (args.size() - 1 != words.split(QLatin1Char(' '), Qt::SkipEmptyParts).size())
        return usageError(words.isEmpty() ? QStringLiteral("'%1' takes no argument").arg(command)
                                          : QStringLiteral("'%1' takes %2").arg(command, words));
    if (parser.isSet(jsonOption) && command != QLatin1String("ports"))
        return usageError(QStringLiteral("--json goes with 'ports'"));
    const std::optional<QString> speed = speedText(parser.value(speedOption));
    if (!speed)
        return usageError(QStringLiteral("speed must be 9600, 19200 or 57600"));

    if (command == QLatin1String("check"))
        return checkFile(args.at(1));

    SettingsStore userSettings;
    if (command == QLatin1String("ports")) {
        PortNumbering numbering(userSettings); // numbers an adapter seen for the first time
        return listPorts(numbering, out(), parser.isSet(jsonOption));
    }
    if (command == QLatin1String("map"))
        return mapPort(userSettings, args.at(1), args.at(2), out(), err());
    if (command == QLatin1String("unmap"))
        return unmapPort(userSettings, args.at(1), out(), err());

    // A device path is reached through a private mapping; the user's settings stay as they are.
    QString portText = parser.isSet(portOption) ? parser.value(portOption)
                                                : userSettings.setting(QStringLiteral("Com"), QString());
    QTemporaryDir scratch;
    std::unique_ptr<SettingsStore> pathSettings;
    if (portText.contains(QLatin1Char('/'))) {
        pathSettings = std::make_unique<SettingsStore>(scratch.filePath(QStringLiteral("ports.ini")));
        pathSettings->setMappedPort(1, portText);
        portText = QStringLiteral("1");
    }
    if (portText.trimmed().isEmpty())
        return usageError(QStringLiteral("no port: give --port N or --port PATH"));

    CliHost host;
    MSComm100 port(pathSettings ? *pathSettings : userSettings);
    KitLink link(port, host);
    const auto stopSignals = watchStopSignals(host, link);
    if (command == QLatin1String("version"))
        link.versionQuery(portText, *speed);
    else
        link.update(portText, *speed, args.at(1));
    link.closePort();
    if (link.lastOutcome() == KitLink::Outcome::PortFailed)
        adviseOnAccess(port.devicePath());
    return exitStatusOf(link.lastOutcome());
}
