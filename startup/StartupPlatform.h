// What starting the program needs from the system. One implementation per
// platform family, chosen by CMake.
#pragma once

#include <QString>
#include <QtGlobal>

// Makes the drive of folder the current drive where the system has drives
// (Windows keeps a current folder per drive); nothing elsewhere.
void enterDriveOf(const QString &folder);

// Brings the window of the copy that runs (its process id) to the front,
// restored if it was minimized: a second start is the user asking for it.
// Nothing where a program may not raise another's window: on Linux desktops
// that takes the window manager's consent (Wayland asks for a token that
// only the running copy could use), so the second start just ends there.
void bringWindowForward(qint64 processId);
