// `kitupdater-cli history`: the last updates from the update history.
#pragma once

#include <QString>

class Console;

// Prints the last `count` records, oldest first. Returns the exit status.
int showHistory(Console &console, int count);
