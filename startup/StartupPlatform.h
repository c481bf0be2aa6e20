// What starting the program needs from the system. One implementation per
// platform family, chosen by CMake.
#pragma once

#include <QString>

// Makes the drive of folder the current drive where the system has drives
// (Windows keeps a current folder per drive); nothing elsewhere.
void enterDriveOf(const QString &folder);
