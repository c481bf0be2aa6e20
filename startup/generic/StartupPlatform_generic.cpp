#include "StartupPlatform.h"

// Systems with one tree of folders: there is no drive to enter.
void enterDriveOf(const QString &) {}

void bringWindowForward(qint64) {}
