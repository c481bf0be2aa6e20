// kitupdater-cli: the kit's firmware tool for scripts and machines without a display.
#include "CheckCommand.h"
#include "CliPlatform.h"
#include "CliTexts.h"
#include "Console.h"
#include "ExitStatus.h"
#include "HistoryCommand.h"
#include "KitCommands.h"
#include "KitProfile.h"
#include "PortCommands.h"
#include "RawArguments.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <algorithm>
#include <functional>
#include <optional>

namespace {

// What a command is handed once the command line has been checked.
struct Invocation {
    Console &console;
    QStringList arguments; // the command's own, after its name
    const RawArguments &raw;
    PortRequest request;
    QString entries; // -n

    // The bytes of the command's FILE, so that any name opens.
    QByteArray file() const { return raw.raw(arguments.at(0)); }
};

// The surroundings of the commands that talk to kits.
int withKits(const Invocation &invocation, const std::function<int(const KitCommandContext &)> &command)
{
    SettingsStore settings;
    StopSignals stopSignals;
    PortNumbering ports(settings, {StandardKit.firstPortNumber, StandardKit.lastPortNumber});
    return command({invocation.console, settings, ports, stopSignals});
}

int version(const Invocation &i)
{
    return withKits(i, [&](const KitCommandContext &kits) { return runVersion(kits, i.request); });
}

int update(const Invocation &i)
{
    return withKits(i, [&](const KitCommandContext &kits) { return runUpdate(kits, i.request, i.file()); });
}

int station(const Invocation &i)
{
    return withKits(i, [&](const KitCommandContext &kits) { return runStation(kits, i.request, i.file()); });
}

int check(const Invocation &i) { return checkFile(i.console, i.file()); }

int ports(const Invocation &i)
{
    SettingsStore settings;
    PortNumbering numbering(settings, {StandardKit.firstPortNumber, StandardKit.lastPortNumber});
    return listPorts(numbering, i.console);
}

int map(const Invocation &i)
{
    SettingsStore settings;
    return mapPort(settings, i.arguments.at(0), i.arguments.at(1), i.console);
}

int unmap(const Invocation &i)
{
    SettingsStore settings;
    return unmapPort(settings, i.arguments.at(0), i.console);
}

int history(const Invocation &i)
{
    bool ok = false;
    const int count = i.entries.toInt(&ok);
    if (!ok || count < 1)
        return i.console.usageError(QStringLiteral("-n wants a whole number of at least 1"));
    return showHistory(i.console, count);
}

// The commands: --help lists them from here, and the command line is checked
// and handed on by it.
struct Command {
    QString name;
    QString syntax; // its arguments as --help names them, one word each
    QString summary;
    int (*run)(const Invocation &);

    int arguments() const { return syntax.isEmpty() ? 0 : int(syntax.count(QLatin1Char(' '))) + 1; }
    QString usage() const { return syntax.isEmpty() ? name : name + QLatin1Char(' ') + syntax; }
};

const Command Commands[] = {
    {"version", "", "read the kit's firmware version", version},
    {"update", "FILE", "write FILE into the kit (into every kit given with --port)", update},
    {"station", "FILE", "write FILE into every kit whose USB adapter is plugged in, once each, until Ctrl+C", station},
    {"check", "FILE", "read and check FILE as an update would; nothing is sent", check},
    {"ports", "", "every port number with its device, USB adapter and whether you may open it", ports},
    {"map", "N DEVICE", "make port number N stand for DEVICE", map},
    {"unmap", "N", "remove the mapping of port number N", unmap},
    {"history", "", "the last updates (-n N: how many)", history},
};

QString description()
{
    int width = 0;
    for (const Command &command : Commands)
        width = qMax(width, int(command.usage().size()));
    QString text = QStringLiteral(
        "Writes firmware from an Intel HEX file into the kit, or reads its firmware version.\n\nCommands:\n");
    for (const Command &command : Commands)
        text += QStringLiteral("  ") + command.usage().leftJustified(width + 3) + command.summary + QLatin1Char('\n');
    return text + QStringLiteral("\nExit status: 0 success, 1 port or device failure, 2 usage error, 3 file rejected,\n"
                                 "128 + the signal's number when stopped by a signal (130 for Ctrl+C).");
}

// "version, update FILE, ... unmap N or history"
QString commandList()
{
    QStringList usages;
    for (const Command &command : Commands)
        usages << command.usage();
    const QString last = usages.takeLast();
    return usages.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const Command *commandNamed(const QString &name)
{
    const auto command =
        std::find_if(std::begin(Commands), std::end(Commands), [&](const Command &c) { return c.name == name; });
    return command == std::end(Commands) ? nullptr : command;
}

// "'version' takes no argument", "'update' takes one FILE", "'map' takes N DEVICE"
QString wrongArgumentCount(const Command &command)
{
    if (command.arguments() == 0)
        return QStringLiteral("'%1' takes no argument").arg(command.name);
    const QString wants = command.syntax == QLatin1String("FILE") ? QStringLiteral("one FILE") : command.syntax;
    return QStringLiteral("'%1' takes %2").arg(command.name, wants);
}

// The speed as the speed box would hold it after a pick from its list.
std::optional<QString> speedText(const QString &speed)
{
    for (const SpeedChoice &choice : StandardKit.speeds) {
        if (QString::fromLatin1(choice.boxText).trimmed() == speed)
            return QString::fromLatin1(choice.boxText);
    }
    return std::nullopt;
}

// Qt's usage line names the program by the path it was started with.
QString helpText(const QCommandLineParser &parser, const QString &startedAs)
{
    QString text = parser.helpText();
    text.replace(QStringLiteral("Usage: ") + startedAs, QStringLiteral("Usage: ") + CliTexts::Program);
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(CliTexts::Program);
    QCoreApplication::setApplicationVersion(QStringLiteral(KITUPDATER_VERSION));
    const RawArguments rawArguments(programArguments(argc, argv));

    QCommandLineParser parser;
    parser.setApplicationDescription(description());
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
    parser.addPositionalArgument(QStringLiteral("command"), commandList());

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
        console.result(CliTexts::Program + QLatin1Char(' ') + QCoreApplication::applicationVersion());
        return Success;
    }
    if (parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(QStringLiteral("kitupdater.serial.debug=true"));

    QStringList args = parser.positionalArguments();
    const QString name = args.isEmpty() ? QString() : args.takeFirst();
    const Command *command = commandNamed(name);
    if (!command)
        return console.usageError(name.isEmpty() ? QStringLiteral("no command given")
                                                 : QStringLiteral("unknown command '%1'").arg(name));
    if (args.size() != command->arguments())
        return console.usageError(wrongArgumentCount(*command));
    const std::optional<QString> speed = speedText(parser.value(speedOption));
    if (!speed)
        return console.usageError(QStringLiteral("speed must be 9600, 19200 or 57600"));

    if (command->run == station && parser.isSet(portOption))
        return console.usageError(CliTexts::StationTakesNoPort);
    // A device name is carried as text from here on: its bytes must survive that.
    const bool mapping = command->run == map;
    for (const QString &device : mapping ? QStringList{args.at(1)} : parser.values(portOption)) {
        if (!rawArguments.keptWhole(device))
            return console.usageError(
                CliTexts::nameNotUtf8(mapping ? QStringLiteral("DEVICE") : QStringLiteral("--port"), device));
    }

    return command->run({console, args, rawArguments, {parser.values(portOption), *speed}, parser.value(entriesOption)});
}
