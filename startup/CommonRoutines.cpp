#include "CommonRoutines.h"

#include "Texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

QString GetAppDir()
{
    const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
#ifdef Q_OS_WIN
    // The drive goes with the folder on Windows; a network path has none.
    if (folder.size() >= 2 && folder.at(1) == QLatin1Char(':'))
        QDir::setCurrent(folder.left(2) + QDir::separator());
#endif
    QDir::setCurrent(folder);
    return folder + QDir::separator();
}

std::unique_ptr<QLockFile> claimSingleInstance()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    auto lock = std::make_unique<QLockFile>(folder + QLatin1Char('/') + Texts::AppTitle + QStringLiteral(".lock"));
    // Never stale by age: only a lock whose process is gone is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}
