// `kitupdater-cli check FILE`: reads and checks the file as an update would;
// nothing is sent.
#pragma once

#include <QByteArray>

class Console;

// file: the file's name as typed (its bytes). Returns the exit status.
int checkFile(Console &console, const QByteArray &file);
