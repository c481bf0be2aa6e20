// Start-up helpers: the program's folder, the single-instance check and Qt's
// own Japanese texts.
#pragma once

#include <QString>
#include <memory>

class QCoreApplication;
class QLockFile;

// The folder of the program's executable with one separator appended; makes
// it the current directory. Needs a QCoreApplication.
QString GetAppDir();

// The outcome of the single-instance check.
struct InstanceClaim {
    // Held for the life of the first running copy of the program, per user.
    std::unique_ptr<QLockFile> lock;
    // A live copy of this user holds the lock: this start ends without a window.
    bool anotherCopyRuns = false;
    // Why the check could not be made (no runtime folder, a lock file that
    // cannot be created, read or taken over). The program then runs anyway.
    QString skippedBecause;
    // The running copy's process id, when anotherCopyRuns.
    qint64 otherCopyPid = 0;
};

// Claims the per-user lock in the runtime folder. A lock left behind by a
// copy that was killed, or one that cannot be read, is taken over.
InstanceClaim claimSingleInstance();

// Installs Qt's own Japanese texts (qtbase_ja.qm: the file dialog's labels
// and buttons, ...) so that they read like every other text of the window.
// Returns false when they are not installed (Debian: qt6-translations-l10n);
// Qt's texts then stay English.
bool installQtJapanese(QCoreApplication &app);
