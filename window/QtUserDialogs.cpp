#include "UserDialogs.h"

#include "HexFileChoice.h"
#include "Texts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// The file-open dialog, with names typed without their extension completed
// as on Windows: "b" with the default extension "HEX" finds b.hex too.
class HexFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    // The chosen file's full path after the dialog was accepted.
    QString chosenFile() const
    {
        if (!m_completed.isEmpty())
            return m_completed;
        const QStringList files = selectedFiles();
        return files.isEmpty() ? QString() : files.constFirst();
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        m_completed = files.size() == 1 ? withSuffixInAnyCase(files.constFirst()) : QString();
        if (m_completed.isEmpty())
            QFileDialog::accept(); // checks the typed name; says so when no such file exists
        else
            QDialog::accept();
    }

private:
    // The existing file that differs from path only in the case of its default
    // extension, when path itself does not exist.
    QString withSuffixInAnyCase(const QString &path) const
    {
        const QFileInfo typed(path);
        const QString suffix = QLatin1Char('.') + defaultSuffix();
        if (defaultSuffix().isEmpty() || typed.exists() || !path.endsWith(suffix, Qt::CaseInsensitive))
            return QString();
        const QString base = typed.fileName().chopped(suffix.size());
        const QDir folder = typed.absoluteDir();
        for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
            if (name.startsWith(base) && name.compare(typed.fileName(), Qt::CaseInsensitive) == 0)
                return folder.filePath(name);
        }
        return QString();
    }

    QString m_completed;
};

// A file pattern that matches without regard to case, as users of the kit
// know it from Windows: "*.HEX" also shows "main.hex".
QString caseInsensitivePattern(const QString &pattern)
{
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toUpper() + c.toLower() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

// "*.*" means every file, also those without a dot in their name.
QString platformPattern(const QString &pattern)
{
    if (pattern == QLatin1String("*.*"))
        return QStringLiteral("*");
    return caseInsensitivePattern(pattern);
}

} // namespace

QStringList QtUserDialogs::nameFilters(const OpenFileRequest &request)
{
    QStringList filters;
    for (int i = 0; i < request.filterNames.size(); ++i)
        filters << request.filterNames.at(i) + QStringLiteral(" (") + platformPattern(request.filterPatterns.value(i))
                       + QLatin1Char(')');
    return filters;
}

void QtUserDialogs::information(const QString &text)
{
    QMessageBox box(QMessageBox::Information, Texts::AppTitle, text, QMessageBox::Ok, m_owner);
    box.exec();
}

QString QtUserDialogs::openFile(const OpenFileRequest &request)
{
    // With no folder remembered, the user's home: the program's own folder,
    // where the dialog would open otherwise, holds no HEX files.
    const QString folder = request.initialFolder.isEmpty() ? QDir::homePath() : request.initialFolder;
    HexFileDialog dialog(m_owner, request.title, folder);
    // Qt's own dialog: the same behaviour on every desktop, and the filter
    // names shown without their patterns.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(request));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.chosenFile();
}
