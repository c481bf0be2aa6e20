// kitsim: a simulated kit on a pseudo-terminal, for demos and manual tests.
// Prints the slave device path as its first line, answers until SIGINT or
// SIGTERM, then writes the HEX dump if asked and exits 0.

#include "KitSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// The signal handler only writes into a pipe; the event loop quits when it
// becomes readable, so the shutdown runs as ordinary code.
void quitOnSignals(QCoreApplication &app)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot create the signal pipe: ") + std::strerror(errno));
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
}

// "06", "06 07" or "0607"; nullopt when the text is not whole hex bytes.
std::optional<QByteArray> parseHexBytes(const QString &text)
{
    const QByteArray digits = text.toLatin1().replace(' ', QByteArray());
    if (digits.size() % 2 != 0)
        return std::nullopt;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    }
    return QByteArray::fromHex(digits);
}

std::optional<int> parseCount(const QString &text, int minimum)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum)
        return std::nullopt;
    return value;
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "kitsim: %s\n", qPrintable(message));
    std::exit(2);
}

struct Options {
    KitSimConfig config;
    QString dumpPath;
    QString logPath;
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        "A simulated kit on a pseudo-terminal. Prints the slave device path, "
        "then answers the host until SIGINT or SIGTERM.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"version-text", "Answer to 0x3F (default \"KIT-FW Ver1.00  \").", "TEXT"},
        {"answer-f", "Hex bytes answered to 0x46 (default: no answer).", "HEX"},
        {"frame-answer", "Hex bytes answered to each frame (default 06).", "HEX", "06"},
        {"delay-us", "Delay before each frame answer, microseconds.", "N", "0"},
        {"silent-after", "Answer only the first N frames.", "N"},
        {"hangup-after", "Hang up the line after the Nth frame.", "N"},
        {"dump", "Write the memory as Intel HEX to FILE on exit.", "FILE"},
        {"log", "Append one line per received command to FILE.", "FILE"},
    });
}

QByteArray hexOption(const QCommandLineParser &parser, const QString &name)
{
    const auto bytes = parseHexBytes(parser.value(name));
    if (!bytes)
        usageError("--" + name + " wants hex bytes, e.g. 06");
    return *bytes;
}

int countOption(const QCommandLineParser &parser, const QString &name, int fallback)
{
    if (!parser.isSet(name))
        return fallback;
    const auto count = parseCount(parser.value(name), 0);
    if (!count)
        usageError("--" + name + " wants a whole number >= 0");
    return *count;
}

Options readOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    Options options;
    KitSimConfig &config = options.config;
    if (parser.isSet("version-text"))
        config.versionAnswer = parser.value("version-text").toStdString();
    config.answerToF = hexOption(parser, "answer-f").toStdString();
    config.frameAnswer = hexOption(parser, "frame-answer").toStdString();
    if (config.frameAnswer.empty())
        usageError("--frame-answer needs at least one byte (use --silent-after for silence)");
    config.frameDelayUs = countOption(parser, "delay-us", 0);
    config.silentAfterFrames = countOption(parser, "silent-after", -1);
    config.hangUpAfterFrames = countOption(parser, "hangup-after", -1);
    options.dumpPath = parser.value("dump");
    options.logPath = parser.value("log");
    return options;
}

int run(QCoreApplication &app)
{
    const Options options = readOptions(app);
    quitOnSignals(app);

    KitSimulator kit(options.config);
    if (!options.logPath.isEmpty())
        kit.setLogFile(options.logPath);
    kit.start();
    std::printf("%s\n", qPrintable(kit.slavePath()));
    std::fflush(stdout);

    app.exec();

    kit.stop();
    if (!options.dumpPath.isEmpty())
        kit.writeHexDump(options.dumpPath);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kitsim");
    QCoreApplication::setApplicationVersion(KITUPDATER_VERSION);
    try {
        return run(app);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kitsim: %s\n", error.what());
        return 1;
    }
}
