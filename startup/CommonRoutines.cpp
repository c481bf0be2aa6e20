#include "CommonRoutines.h"

#include "StartupPlatform.h"
#include "Texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QTranslator>

QString GetAppDir()
{
    const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    enterDriveOf(folder);
    QDir::setCurrent(folder);
    return folder + QDir::separator();
}

namespace {

InstanceClaim skipped(const QString &reason) { return InstanceClaim{nullptr, false, reason}; }

// The lock file exists and QLockFile did not take it over. It stands for a
// running copy only when it names a process: QLockFile takes over the lock of
// a process that is gone, and the runtime folder belongs to this user alone.
InstanceClaim claimExisting(std::unique_ptr<QLockFile> lock, const QString &path)
{
    // A lock whose process is gone could not be removed: the folder is read-only.
    if (!QFileInfo(QFileInfo(path).absolutePath()).isWritable())
        return skipped(QStringLiteral("the lock file %1 cannot be taken over: its folder is read-only").arg(path));
    qint64 pid = 0;
    QString hostName, appName;
    // A lock that names this very process was left by an earlier one that had
    // the same id: Windows reuses ids, and Wine gives its first process the
    // same one every time.
    const bool readable = lock->getLockInfo(&pid, &hostName, &appName);
    if (readable && pid != QCoreApplication::applicationPid())
        return InstanceClaim{nullptr, true, QString(), pid};
    // Unreadable: left by a crash while it was being written. A live holder
    // keeps it locked, so that the removal then fails.
    if (lock->removeStaleLockFile() && lock->tryLock(0))
        return InstanceClaim{std::move(lock), false, QString()};
    return skipped(QStringLiteral("the lock file %1 cannot be read or removed").arg(path));
}

} // namespace

InstanceClaim claimSingleInstance()
{
    // Qt makes the folder private to the user, and reports none when it cannot.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return skipped(QStringLiteral("no runtime folder for the lock file (XDG_RUNTIME_DIR)"));
    const QString path = folder + QLatin1Char('/') + Texts::AppTitle + QStringLiteral(".lock");
    auto lock = std::make_unique<QLockFile>(path);
    // Never stale by age: only a lock whose process is gone is taken over.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return InstanceClaim{std::move(lock), false, QString()};
    switch (lock->error()) {
    case QLockFile::LockFailedError:
        return claimExisting(std::move(lock), path);
    case QLockFile::PermissionError:
        return skipped(QStringLiteral("the lock file %1 cannot be created: permission denied").arg(path));
    default:
        return skipped(QStringLiteral("the lock file %1 cannot be written (is the folder full?)").arg(path));
    }
}

bool installQtJapanese(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    // Qt's installed translations where Qt is installed (Linux); a build that
    // carries Qt inside itself (Windows) carries the texts in its resources.
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        && !translator->load(QStringLiteral(":/translations/qtbase_ja.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
