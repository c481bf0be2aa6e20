#include "SettingsStore.h"

#include "Texts.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace {
const QString SettingsGroup = QStringLiteral("Settings");
const QString PortsGroup = QStringLiteral("Ports");

QString inGroup(const QString &group, const QString &key) { return group + QLatin1Char('/') + key; }

QStringList keysOfGroup(QSettings &settings, const QString &group)
{
    settings.beginGroup(group);
    const QStringList keys = settings.childKeys();
    settings.endGroup();
    return keys;
}

// The port a key of "Ports" names: decimal digits only, leading zeros allowed.
std::optional<int> portOfKey(const QString &key)
{
    if (key.isEmpty() || std::any_of(key.begin(), key.end(), [](QChar c) { return c < QLatin1Char('0') || c > QLatin1Char('9'); }))
        return std::nullopt;
    bool ok = false;
    const int number = key.toInt(&ok, 10);
    return ok ? std::optional<int>(number) : std::nullopt;
}
} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, Texts::AppTitle,
                                             Texts::AppTitle))
{
}

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::setting(const QString &key, const QString &fallback) const
{
    const QVariant value = m_settings->value(inGroup(SettingsGroup, key));
    return value.isValid() ? value.toString() : fallback;
}

bool SettingsStore::setSetting(const QString &key, const QString &value)
{
    m_settings->setValue(inGroup(SettingsGroup, key), value);
    return written();
}

// Every key of "Ports" that names this port, the plain decimal form first.
QStringList SettingsStore::portKeysOf(int number) const
{
    const QStringList keys = keysOfGroup(*m_settings, PortsGroup);
    const QString plain = QString::number(number);
    QStringList naming;
    for (const QString &key : keys) {
        if (portOfKey(key) == number)
            key == plain ? naming.prepend(key) : naming.append(key);
    }
    return naming;
}

QString SettingsStore::mappedPort(int number) const
{
    const QStringList keys = portKeysOf(number);
    return keys.isEmpty() ? QString() : m_settings->value(inGroup(PortsGroup, keys.first())).toString();
}

// Held while a program reads "Ports", picks and writes. QSettings takes a
// lock of its own ("<file>.lock") only around each write, which keeps the file
// whole but lets two programs pick the same free number; this one is another
// file, so that the two never wait for each other. When the lock cannot be had
// (a folder that cannot be written, a holder that hangs), the change goes on
// without it: the write then fails anyway, or at worst races as before.
class SettingsStore::PortsLock {
public:
    explicit PortsLock(SettingsStore &store) : m_lock(store.fileName() + QStringLiteral(".ports-lock"))
    {
        if (QDir().mkpath(QFileInfo(store.fileName()).absolutePath()))
            m_lock.tryLock(LockWaitMs);
        store.reload();
    }

private:
    static constexpr int LockWaitMs = 5000;
    QLockFile m_lock; // unlocks when it goes
};

void SettingsStore::putMappedPort(int number, const QString &devicePath)
{
    dropMappedPort(number);
    m_settings->setValue(inGroup(PortsGroup, QString::number(number)), devicePath);
}

void SettingsStore::dropMappedPort(int number)
{
    for (const QString &key : portKeysOf(number))
        m_settings->remove(inGroup(PortsGroup, key));
}

bool SettingsStore::setMappedPort(int number, const QString &devicePath)
{
    const PortsLock lock(*this);
    putMappedPort(number, devicePath);
    return written();
}

bool SettingsStore::removeMappedPort(int number)
{
    const PortsLock lock(*this);
    dropMappedPort(number);
    return written();
}

SettingsStore::PortPick SettingsStore::mapToFreePort(const QString &devicePath, int first, int last,
                                                     const QList<int> &unavailable)
{
    const PortsLock lock(*this);
    if (const std::optional<int> number = numberMappedTo(devicePath))
        return {*number, true};
    const QList<int> mapped = mappedPortNumbers();
    for (int number = first; number <= last; ++number) {
        if (mapped.contains(number) || unavailable.contains(number))
            continue;
        putMappedPort(number, devicePath);
        return {number, written()};
    }
    return {std::nullopt, true};
}

void SettingsStore::reload() { m_settings->sync(); }

std::optional<int> SettingsStore::numberMappedTo(const QString &devicePath) const
{
    for (int number : mappedPortNumbers()) {
        if (mappedPort(number) == devicePath)
            return number;
    }
    return std::nullopt;
}

QList<int> SettingsStore::mappedPortNumbers() const
{
    const QStringList keys = keysOfGroup(*m_settings, PortsGroup);
    QList<int> numbers;
    for (const QString &key : keys) {
        if (const std::optional<int> number = portOfKey(key))
            numbers.append(*number);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

// Writes what is pending now; false when the file could not be written.
bool SettingsStore::written()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::fileName() const { return m_settings->fileName(); }
