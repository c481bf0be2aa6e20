// Start-up helpers: the program's folder and the single-instance check.
#pragma once

#include <QString>
#include <memory>

class QLockFile;

// The folder of the program's executable with one separator appended; makes
// it the current directory. Needs a QCoreApplication.
QString GetAppDir();

// Held for the life of the first running copy of the program, per user.
// Returns nullptr when another copy already runs. A lock left behind by a
// copy that was killed is taken over.
std::unique_ptr<QLockFile> claimSingleInstance();
