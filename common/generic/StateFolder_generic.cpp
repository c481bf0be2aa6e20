#include "StateFolder.h"

#include <QStandardPaths>

// Systems without the XDG folders: the one Qt names for the user's local data.
QString defaultStateFolder() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation); }
