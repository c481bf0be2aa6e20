// Where a program keeps what it has done (the update history) when
// XDG_STATE_HOME does not say. One implementation per platform family, chosen
// by CMake.
#pragma once

#include <QString>

// ~/.local/state on POSIX, as the XDG base directories want it; the user's own
// application data folder elsewhere (%LOCALAPPDATA% on Windows).
QString defaultStateFolder();
