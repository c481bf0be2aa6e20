#include "PortMap.h"

#include "SettingsStore.h"
#include "UnmappedPorts.h"

#include <limits>

namespace {
bool isAsciiDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QStringView withoutSign(QStringView text)
{
    if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')))
        return text.mid(1);
    return text;
}
} // namespace

std::optional<int> parsePortNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (!isAsciiDigits(withoutSign(trimmed)))
        return std::nullopt;
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

QString devicePathForPort(int number, const SettingsStore &settings)
{
    const QString mapped = settings.mappedPort(number);
    if (!mapped.isEmpty())
        return mapped;
    if (number < 1)
        return QString();
    return UnmappedPorts::prefix() + QString::number(number - UnmappedPorts::offset());
}

std::optional<int> unmappedPortNumberOf(const QString &devicePath)
{
    const QString prefix = UnmappedPorts::prefix();
    if (!devicePath.startsWith(prefix))
        return std::nullopt;
    const QStringView digits = QStringView(devicePath).mid(prefix.size());
    if (!isAsciiDigits(digits) || (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))))
        return std::nullopt;
    bool ok = false;
    const int index = digits.toInt(&ok);
    return ok ? std::optional<int>(index + UnmappedPorts::offset()) : std::nullopt;
}
