// kitupdater-cli's own lines: technical texts in English, like the device
// names and reasons around them. The program's name before an error and the
// hint after a usage error are the Console's to add (Console::programError,
// Console::usageError), so none of these carries them.
#pragma once

#include <QString>

namespace CliTexts {

inline const QString Program = QStringLiteral("kitupdater-cli");
inline const QString UsageHint = QStringLiteral("Try 'kitupdater-cli --help'.");

inline QString samePortTwice(const QString &first, const QString &second, const QString &device)
{
    return QStringLiteral("--port %1 and --port %2 are the same device %3; name each kit once").arg(first, second, device);
}
inline const QString StationTakesNoPort =
    QStringLiteral("station updates every adapter that is plugged in; it takes no --port");
// Ctrl+C ended a station before any kit was plugged in: the table would be empty.
inline const QString NoKitUpdated = QStringLiteral("no kit was updated");
// A second link to a device that is being updated: it is not started twice.
inline QString sameDeviceBusy(const QString &label, const QString &device, const QString &runningLabel)
{
    return QStringLiteral("%1: %2 is being updated (as %3); not started a second time").arg(label, device, runningLabel);
}
// --port auto: why an adapter was not taken for the kit.
inline const QString ProbeSendsUnasked = QStringLiteral("it sends without being asked; a kit is quiet until asked");
inline const QString ProbeGoesOnSending = QStringLiteral("it goes on sending after its 16-byte answer; a kit is quiet then");
inline QString probeAnswerTooLong(int bytes)
{
    return QStringLiteral("it answered the version command with %1 bytes; a kit answers with 16").arg(bytes);
}
inline QString probeLeftOut(const QString &label, const QString &device, const QString &reason)
{
    return QStringLiteral("%1 (%2) left out: %3").arg(label, device, reason);
}
// A device name whose bytes cannot be carried as text; `shown` has U+FFFD in their place.
inline QString nameNotUtf8(const QString &what, const QString &shown)
{
    return QStringLiteral("%1 \"%2\" is not valid UTF-8; give a link to it with a UTF-8 name "
                          "(ln -s DEVICE /path/kit-link)")
        .arg(what, shown);
}

// After an update whose kit answered each word late: what the wait cost and
// how to shorten it (the platform's advice, CliPlatform's latencyAdvice).
inline QString slowAnswers(double medianMs, double waitedSeconds, int words, const QString &advice)
{
    return QStringLiteral("the kit answered each word after %1 ms (median), %2 s of waiting for %3 words: "
                          "the USB serial adapter's latency timer holds its answers. %4")
        .arg(medianMs, 0, 'f', 1)
        .arg(waitedSeconds, 0, 'f', 1)
        .arg(words)
        .arg(advice);
}

} // namespace CliTexts
