// A second start of kitupdater.exe, as from the Start menu while the window
// is minimized: the running window comes forward, restored, and the second
// copy ends without a window of its own. Real windows under Wine.
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <windows.h>

namespace {

// The window's title bar, as the kit's users know it.
const wchar_t Caption[] = L"ファームウエアアップデート \u3000Ver1.00";

HWND windowOf(qint64 processId)
{
    const HWND window = FindWindowW(nullptr, Caption);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return window && owner == DWORD(processId) ? window : nullptr;
}

} // namespace

class SecondStartTest : public QObject {
    Q_OBJECT
private slots:
    void bringsTheRunningWindowForward();

private:
    void start(QProcess &process)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("windows"));
        process.setProcessEnvironment(env);
        process.start(QDir::toNativeSeparators(QStringLiteral(KITUPDATER_PATH)), QStringList());
    }
};

void SecondStartTest::bringsTheRunningWindowForward()
{
    QProcess first;
    start(first);
    const auto stopFirst = qScopeGuard([&first] {
        first.kill();
        first.waitForFinished(10000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(first.processId()), 30000);
    const HWND window = windowOf(first.processId());
    ShowWindow(window, SW_MINIMIZE);
    QTRY_VERIFY(IsIconic(window));

    QProcess second;
    start(second);
    QVERIFY(second.waitForFinished(30000));

    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY(!IsIconic(window));
    QTRY_COMPARE(GetForegroundWindow(), window);
    QCOMPARE(first.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(SecondStartTest)
#include "tst_second_start.moc"
