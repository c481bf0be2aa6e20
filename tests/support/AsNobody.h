// A program of this build run as the user "nobody", for what a user without
// the tester's rights sees. The build folder may be out of nobody's reach (a
// clone in root's home, mode 700), so the program runs from a copy in a
// folder of its own under the temporary folder.
#pragma once

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

class AsNobody {
public:
    explicit AsNobody(const QString &program)
    {
        if (geteuid() != 0) {
            m_whyNot = QStringLiteral("only root may run a program as another user (runuser); this test runs as uid %1")
                           .arg(geteuid());
            return;
        }
        const QString copy = m_dir.filePath(QFileInfo(program).fileName());
        const QFile::Permissions everyoneRuns = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
            | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        if (!m_dir.isValid() || !QFile::setPermissions(m_dir.path(), everyoneRuns) || !QFile::copy(program, copy)
            || !QFile::setPermissions(copy, everyoneRuns)) {
            m_whyNot = QStringLiteral("cannot copy %1 into a temporary folder (%2)").arg(program, m_dir.errorString());
            return;
        }
        // test -x also fails on a file system mounted noexec.
        if (QProcess::execute(QStringLiteral("runuser"), {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                                          QStringLiteral("test"), QStringLiteral("-x"), copy})
            != 0) {
            m_whyNot = QStringLiteral("nobody cannot run %1 (a folder above it closed to others, the file system "
                                      "mounted noexec, or no runuser)")
                           .arg(copy);
            return;
        }
        m_command = {QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), copy};
    }

    // Empty when nobody can run the program; else why not, for QSKIP.
    QString whyNot() const { return m_whyNot; }
    // runuser and the copy: the program and its first arguments for QProcess.
    QStringList command() const { return m_command; }

private:
    QTemporaryDir m_dir;
    QString m_whyNot;
    QStringList m_command;
};
