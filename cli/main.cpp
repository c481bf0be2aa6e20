// kitupdater-cli: the kit's firmware tool for scripts and machines without a display.
#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "ExitStatus.h"
#include "HexImage.h"
#include "HistoryCommand.h"
#include "KitCommands.h"
#include "KitLink.h"
#include "KitProfile.h"
#include "PortCommands.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTextStream>
#include <new>
#include <optional>

namespace {

const char *const Description =
    "Writes firmware from an Intel HEX file into the kit, or reads its firmware version.\n"
    "\n"
    "Commands:\n"
    "  version        read the kit's firmware version\n"
    "  update FILE    write FILE into the kit (into every kit given with --port)\n"
    "  station FILE   write FILE into every kit whose USB adapter is plugged in, once each, until Ctrl+C\n"
    "  check FILE     read and check FILE as an update would; nothing is sent\n"
    "  ports          every port number with its device, USB adapter and whether you may open it\n"
    "  map N DEVICE   make port number N stand for DEVICE\n"
    "  unmap N        remove the mapping of port number N\n"
    "  history        the last updates (-n N: how many)\n"
    "\n"
    "Exit status: 0 success, 1 port or device failure, 2 usage error, 3 file rejected,\n"
    "128 + the signal's number when stopped by a signal (130 for Ctrl+C).";

struct Command {
    QString name;
    int arguments;
};
const Command Commands[] = {{"version", 0}, {"update", 1}, {"station", 1}, {"check", 1},
                            {"ports", 0},   {"map", 2},    {"unmap", 1},   {"history", 0}};

// The speed as the speed box would hold it after a pick from its list.
std::optional<QString> speedText(const QString &speed)
{
    for (const SpeedChoice &choice : StandardKit.speeds) {
        if (QString::fromLatin1(choice.boxText).trimmed() == speed)
            return QString::fromLatin1(choice.boxText);
    }
    return std::nullopt;
}

// The command line as the program got it, byte for byte: a file name that is
// not valid UTF-8 must still open.
class RawArguments {
public:
    RawArguments(int argc, char *argv[])
    {
        for (int i = 0; i < argc; ++i) {
            m_raw.append(QByteArray(argv[i]));
            m_decoded.append(QFile::decodeName(argv[i]));
        }
    }
    QStringList decoded() const { return m_decoded; }
    // False when the argument that gave this value (alone, or as --option=value)
    // holds bytes that do not survive decoding: a device opened by the decoded
    // text would be another one, or none.
    bool keptWhole(const QString &value) const
    {
        for (qsizetype i = 0; i < m_raw.size(); ++i) {
            const QString &argument = m_decoded.at(i);
            const bool gave = argument == value || argument.endsWith(QLatin1Char('=') + value);
            if (gave && QFile::encodeName(argument) != m_raw.at(i))
                return false;
        }
        return true;
    }
    // The bytes behind a positional argument (its last occurrence).
    QByteArray raw(const QString &decoded) const
    {
        const qsizetype i = m_decoded.lastIndexOf(decoded);
        return i >= 0 ? m_raw.at(i) : QFile::encodeName(decoded);
    }

private:
    QList<QByteArray> m_raw;
    QStringList m_decoded;
};

int checkFile(Console &console, const QByteArray &file)
{
    const QString name = QFile::decodeName(file);
    try {
        const HexImage image = HexFile::readEncoded(file);
        const int sent = wordsToSend(StandardKit, image.words);
        const int outside = int(image.words.size()) - sent;
        console.result(QStringLiteral("words to send: %1\nwords outside the write window: %2").arg(sent).arg(outside));
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name},
                                                       {"words_to_send", sent},
                                                       {"words_outside_window", outside},
                                                       {"sha256", QString::fromLatin1(image.sha256)}}));
        return Success;
    } catch (const HexFileError &e) {
        console.error(name + QStringLiteral(": ") + e.describe());
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name}, {"error", e.describe()}}));
    } catch (const std::bad_alloc &) {
        console.error(name + QStringLiteral(": not enough memory to read the file"));
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name}, {"error", "not enough memory"}}));
    }
    return FileRejected;
}

int history(Console &console, const QString &countText)
{
    bool ok = false;
    const int count = countText.toInt(&ok);
    if (!ok || count < 1)
        return console.usageError(QStringLiteral("-n wants a whole number of at least 1"));
    return showHistory(console, count);
}

int runPortCommand(const QString &name, const QStringList &args, SettingsStore &settings, Console &console)
{
    QTextStream out(stdout);
    if (name == QLatin1String("map"))
        return mapPort(settings, args.at(1), args.at(2), out, console);
    if (name == QLatin1String("unmap"))
        return unmapPort(settings, args.at(1), out, console);
    PortNumbering ports(settings, {StandardKit.firstPortNumber, StandardKit.lastPortNumber});
    return listPorts(ports, out, console.json());
}

// Qt's usage line names the program by the path it was started with.
QString helpText(const QCommandLineParser &parser, const QString &startedAs)
{
    QString text = parser.helpText();
    text.replace(QStringLiteral("Usage: ") + startedAs, QStringLiteral("Usage: kitupdater-cli"));
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kitupdater-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KITUPDATER_VERSION));
    const RawArguments rawArguments(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Displays the program's version."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port number (1-20), device path, or auto (the one USB adapter whose kit answers). "
                       "Give it several times to update several kits at once. "
                       "Default: the port last picked in the window."),
        QStringLiteral("N|PATH|auto"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("9600 (default), 19200 or 57600."),
                                         QStringLiteral("BPS"), QStringLiteral("9600"));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Only errors on stderr, only results on stdout."));
    const QCommandLineOption verboseOption({QStringLiteral("v"), QStringLiteral("verbose")},
                                           QStringLiteral("Trace every byte sent and received on stderr."));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Results as JSON on stdout (JSON lines of events for update)."));
    const QCommandLineOption entriesOption(QStringLiteral("n"), QStringLiteral("history: how many entries (default 10)."),
                                           QStringLiteral("N"), QStringLiteral("10"));
    parser.addOptions({helpOption, versionOption, portOption, speedOption, quietOption, verboseOption, jsonOption,
                       entriesOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("version, update FILE, station FILE, check FILE, ports, map N DEVICE, "
                                                "unmap N or history"));

    // The options that are understood choose the output, also for a usage error.
    const bool parsed = parser.parse(rawArguments.decoded());
    Console console(parser.isSet(jsonOption)    ? Console::Mode::Json
                    : parser.isSet(quietOption) ? Console::Mode::Quiet
                                                : Console::Mode::Human);
    if (!parsed)
        return console.usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        console.result(helpText(parser, rawArguments.decoded().value(0)).trimmed());
        return Success;
    }
    if (parser.isSet(versionOption)) {
        console.result(QStringLiteral("kitupdater-cli ") + QCoreApplication::applicationVersion());
        return Success;
    }
    if (parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(QStringLiteral("kitupdater.serial.debug=true"));

    const QStringList args = parser.positionalArguments();
    const QString name = args.value(0);
    const auto command = std::find_if(std::begin(Commands), std::end(Commands),
                                      [&](const Command &c) { return c.name == name; });
    if (command == std::end(Commands))
        return console.usageError(name.isEmpty() ? QStringLiteral("no command given")
                                                  : QStringLiteral("unknown command '%1'").arg(name));
    if (args.size() != command->arguments + 1)
        return console.usageError(command->arguments == 0
                                       ? QStringLiteral("'%1' takes no argument").arg(name)
                                       : QStringLiteral("'%1' takes %2").arg(name, name == QLatin1String("map")
                                                                                       ? QStringLiteral("N DEVICE")
                                                                                   : name == QLatin1String("unmap")
                                                                                       ? QStringLiteral("N")
                                                                                       : QStringLiteral("one FILE")));
    const std::optional<QString> speed = speedText(parser.value(speedOption));
    if (!speed)
        return console.usageError(QStringLiteral("speed must be 9600, 19200 or 57600"));

    if (name == QLatin1String("station") && parser.isSet(portOption)) {
        return console.usageError(CliTexts::StationTakesNoPort);
    }
    const QStringList devices = name == QLatin1String("map") ? QStringList{args.at(2)} : parser.values(portOption);
    for (const QString &device : devices) {
        if (!rawArguments.keptWhole(device)) {
            return console.usageError(CliTexts::nameNotUtf8(
                name == QLatin1String("map") ? QStringLiteral("DEVICE") : QStringLiteral("--port"), device));
        }
    }

    if (name == QLatin1String("check"))
        return checkFile(console, rawArguments.raw(args.at(1)));
    if (name == QLatin1String("history"))
        return history(console, parser.value(entriesOption));

    SettingsStore settings;
    if (name == QLatin1String("ports") || name == QLatin1String("map") || name == QLatin1String("unmap"))
        return runPortCommand(name, args, settings, console);

    StopSignals stopSignals;
    PortNumbering ports(settings, {StandardKit.firstPortNumber, StandardKit.lastPortNumber});
    const KitCommandContext context{console, settings, ports, stopSignals};
    const PortRequest request{parser.values(portOption), *speed};
    if (name == QLatin1String("version"))
        return runVersion(context, request);
    if (name == QLatin1String("update"))
        return runUpdate(context, request, rawArguments.raw(args.at(1)));
    if (name == QLatin1String("station"))
        return runStation(context, request, rawArguments.raw(args.at(1)));
    return console.usageError(QStringLiteral("'%1' is not available yet").arg(name));
}
