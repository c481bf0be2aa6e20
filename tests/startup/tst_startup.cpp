// The kitupdater program itself: one copy per user, arguments ignored.
#include "AsNobody.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>
#include <unistd.h>

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyExitsAtOnce();
    void lockOfAKilledCopyIsTakenOver();
    void writesItsLogBesideTheProgram();
    void opensWhenTheLockCannotBeMade_data();
    void opensWhenTheLockCannotBeMade();

private:
    // extra: environment variables to set or replace. program: kitupdater,
    // or runuser and a copy of it.
    std::unique_ptr<QProcess> start(const QStringList &arguments = {}, const QProcessEnvironment &extra = {},
                                    QStringList program = {QStringLiteral(KITUPDATER_PATH)});
    bool waitForLock(QProcess &process);
    QString lockPath() const { return m_runtime->path() + QStringLiteral("/KitUpdater.lock"); }

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QTemporaryDir> m_config;
    std::vector<std::unique_ptr<QProcess>> m_started;
};

void StartupTest::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QFile::setPermissions(m_runtime->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_config = std::make_unique<QTemporaryDir>();
}

void StartupTest::cleanup()
{
    for (auto &process : m_started) {
        process->kill();
        process->waitForFinished(5000);
    }
    m_started.clear();
}

std::unique_ptr<QProcess> StartupTest::start(const QStringList &arguments, const QProcessEnvironment &extra,
                                             QStringList program)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    env.insert(extra);
    process->setProcessEnvironment(env);
    const QString first = program.takeFirst();
    process->start(first, program + arguments);
    return process;
}

bool StartupTest::waitForLock(QProcess &process)
{
    // The first copy holds its lock once it is up; give it a few seconds.
    for (int i = 0; i < 100; ++i) {
        if (QFile::exists(lockPath()) && process.state() == QProcess::Running)
            return true;
        QTest::qWait(50);
    }
    return false;
}

void StartupTest::secondCopyExitsAtOnce()
{
    // Arguments Qt would act on (an unknown platform would abort it) have no effect.
    auto first = start({QStringLiteral("-platform"), QStringLiteral("nonexistent"), QStringLiteral("file.hex")});
    QVERIFY(waitForLock(*first));

    auto second = start();
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardOutput().isEmpty());
    QVERIFY(second->readAllStandardError().startsWith("kitupdater: already running (process "));

    QTest::qWait(200);
    QCOMPARE(first->state(), QProcess::Running);
    m_started.push_back(std::move(first));
}

void StartupTest::lockOfAKilledCopyIsTakenOver()
{
    auto first = start();
    QVERIFY(waitForLock(*first));
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QVERIFY(QFile::exists(lockPath()));   // left behind

    auto next = start();
    QVERIFY(!next->waitForFinished(1500));  // it runs instead of exiting
    QCOMPARE(next->state(), QProcess::Running);
    m_started.push_back(std::move(next));
}

void StartupTest::writesItsLogBesideTheProgram()
{
    const QString log = QFileInfo(QStringLiteral(KITUPDATER_PATH)).absolutePath() + QStringLiteral("/LOG.txt");
    QFile::remove(log);
    auto first = start();
    QVERIFY(waitForLock(*first));
    QTRY_VERIFY(QFile::exists(log));
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\r\n"));
    m_started.push_back(std::move(first));
}

void StartupTest::opensWhenTheLockCannotBeMade_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("checkSkipped");
    QTest::newRow("no runtime folder") << "no folder" << true;
    QTest::newRow("a folder where the lock goes") << "folder" << true;
    QTest::newRow("a lock file that cannot be read") << "garbage" << false; // taken over
}

void StartupTest::opensWhenTheLockCannotBeMade()
{
    QFETCH(QString, setUp);
    QFETCH(bool, checkSkipped);
    // The program tells when its window is shown, and then ends.
    QProcessEnvironment env;
    env.insert(QStringLiteral("KITUPDATER_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
    QStringList program{QStringLiteral(KITUPDATER_PATH)};
    std::optional<AsNobody> nobody;
    if (setUp == QLatin1String("no folder") && geteuid() == 0) {
        // Root could make any folder: as another user.
        nobody.emplace(program.first());
        if (!nobody->whyNot().isEmpty())
            QSKIP(qPrintable(nobody->whyNot()));
        program = nobody->command();
    }
    if (setUp == QLatin1String("no folder")) {
        // Below a plain file no folder can be made, neither the runtime
        // folder nor Qt's fallback in the temporary folder (nor, as another
        // user than root, the one at the root that Qt tries last).
        QFile blocker(m_runtime->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), blocker.fileName() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("TMPDIR"), blocker.fileName() + QStringLiteral("/tmp"));
    } else if (setUp == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(lockPath()));
    } else {
        QFile garbage(lockPath());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("\x01\x02 not a lock\n");
    }

    auto process = start({}, env, program);
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(process->readAllStandardOutput(), QByteArray("shown\n"));
    const QStringList stderrLines = QString::fromUtf8(process->readAllStandardError()).split(QLatin1Char('\n'));
    const QStringList ours = stderrLines.filter(QStringLiteral("kitupdater:"));
    if (checkSkipped) {
        QCOMPARE(ours.size(), 1);
        QVERIFY2(ours.first().startsWith(QStringLiteral("kitupdater: single-instance check skipped: ")),
                 qPrintable(ours.first()));
    } else {
        QVERIFY2(ours.isEmpty(), qPrintable(ours.join(QLatin1Char('\n'))));
    }
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
