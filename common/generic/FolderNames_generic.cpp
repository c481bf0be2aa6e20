#include "FolderNames.h"

// File names are UTF-16 on Windows: every one decodes.
QStringList undecodableNames(const QString &) { return {}; }
