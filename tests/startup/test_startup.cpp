// The kitupdater program itself: one copy per user, arguments ignored.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyExitsAtOnce();
    void lockOfAKilledCopyIsTakenOver();
    void writesItsLogBesideTheProgram();

private:
    std::unique_ptr<QProcess> start(const QStringList &arguments = {});
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

std::unique_ptr<QProcess> StartupTest::start(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(KITUPDATER_PATH), arguments);
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

QTEST_GUILESS_MAIN(StartupTest)
#include "test_startup.moc"
