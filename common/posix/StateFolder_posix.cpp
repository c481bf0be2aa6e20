#include "StateFolder.h"

#include <QDir>

// Qt has no location for state: the XDG default, spelt out.
QString defaultStateFolder() { return QDir::homePath() + QStringLiteral("/.local/state"); }
