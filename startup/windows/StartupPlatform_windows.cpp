#include "StartupPlatform.h"

#include <QDir>

#include <windows.h>

// The drive goes with the folder; a network path has none.
void enterDriveOf(const QString &folder)
{
    if (folder.size() >= 2 && folder.at(1) == QLatin1Char(':'))
        QDir::setCurrent(folder.left(2) + QDir::separator());
}

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found = nullptr;
};

// The program's one main window: shown, and owned by no other window (Qt's
// own helper windows are hidden or message-only).
BOOL CALLBACK findMainWindow(HWND window, LPARAM search)
{
    auto *s = reinterpret_cast<WindowSearch *>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->processId || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    s->found = window;
    return FALSE;
}

} // namespace

// Windows lets a program just started by the user hand the foreground on.
// An open message box of the running copy comes forward with its window.
void bringWindowForward(qint64 processId)
{
    WindowSearch search{DWORD(processId)};
    EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return;
    if (IsIconic(search.found))
        ShowWindow(search.found, SW_RESTORE);
    SetForegroundWindow(GetLastActivePopup(search.found));
}
