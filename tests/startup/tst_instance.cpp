// The single-instance check in the program's own process: a lock file left by
// an earlier process that had this process's id (Windows reuses ids; Wine
// gives its first process the same one every time) is no running copy.
#include "CommonRoutines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <QtTest>

class InstanceTest : public QObject {
    Q_OBJECT
private slots:
    void lockNamingThisProcessIsTakenOver();
};

void InstanceTest::lockNamingThisProcessIsTakenOver()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QVERIFY(QDir().mkpath(folder));
    QFile left(folder + QStringLiteral("/KitUpdater.lock"));
    QVERIFY(left.open(QIODevice::WriteOnly));
    // QLockFile's own layout: process id, program name, host name.
    left.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n'
               + QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
    left.close();

    const InstanceClaim claim = claimSingleInstance();
    QVERIFY(!claim.anotherCopyRuns);
    QVERIFY2(claim.skippedBecause.isEmpty(), qPrintable(claim.skippedBecause));
    QVERIFY(claim.lock && claim.lock->isLocked());
}

QTEST_GUILESS_MAIN(InstanceTest)
#include "tst_instance.moc"
