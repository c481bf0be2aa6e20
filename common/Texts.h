// The desktop's own technical texts, in English like the device names and
// reasons around them; the kit's users' texts are in KitTexts.h.
#pragma once

#include "KitTexts.h"

#include <QString>

namespace Texts {

// Serial adapters, as the port box's tooltips and `kitupdater-cli ports` name
// them. Technical texts, kept in English like the device names around them.
inline const QString NotConnected = QStringLiteral("not connected");
// Whether this user may open a device now.
inline const QString AccessOk = QStringLiteral("ok");
inline const QString AccessBusy = QStringLiteral("busy");
inline const QString AccessDenied = QStringLiteral("permission denied");
inline const QString AccessMissing = QStringLiteral("missing");

// Tooltip of a USB adapter: what it is, then the device it is now or NotConnected.
inline QString adapterDescription(const QString &adapter, const QString &deviceNow)
{
    return adapter + QStringLiteral(": ") + deviceNow;
}

// kitupdater-cli's own lines: technical texts in English, like the device
// names and reasons around them.
inline const QString CliUsageHint = QStringLiteral("\nTry 'kitupdater-cli --help'.");
inline QString samePortTwice(const QString &first, const QString &second, const QString &device)
{
    return QStringLiteral("kitupdater-cli: --port %1 and --port %2 are the same device %3; name each kit once")
               .arg(first, second, device)
        + CliUsageHint;
}
inline const QString StationTakesNoPort =
    QStringLiteral("kitupdater-cli: station updates every adapter that is plugged in; it takes no --port") + CliUsageHint;
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
    return QStringLiteral("kitupdater-cli: %1 (%2) left out: %3").arg(label, device, reason);
}
// A device name whose bytes cannot be carried as text; `shown` has U+FFFD in their place.
inline QString nameNotUtf8(const QString &what, const QString &shown)
{
    return QStringLiteral("kitupdater-cli: %1 \"%2\" is not valid UTF-8; give a link to it with a UTF-8 name "
                          "(ln -s DEVICE /path/kit-link)")
               .arg(what, shown)
        + CliUsageHint;
}

// A by-id link whose name is not valid UTF-8 (shown with U+FFFD in place of its bytes).
inline QString linkNameNotUtf8(const QString &shown)
{
    return QStringLiteral("%1: the name is not valid UTF-8, so the adapter cannot be opened by it; it is left out")
        .arg(shown);
}


} // namespace Texts
