#include "StartupPlatform.h"

#include <QDir>

// The drive goes with the folder; a network path has none.
void enterDriveOf(const QString &folder)
{
    if (folder.size() >= 2 && folder.at(1) == QLatin1Char(':'))
        QDir::setCurrent(folder.left(2) + QDir::separator());
}
