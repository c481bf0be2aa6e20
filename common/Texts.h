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

// A by-id link whose name is not valid UTF-8 (shown with U+FFFD in place of its bytes).
inline QString linkNameNotUtf8(const QString &shown)
{
    return QStringLiteral("%1: the name is not valid UTF-8, so the adapter cannot be opened by it; it is left out")
        .arg(shown);
}


} // namespace Texts
