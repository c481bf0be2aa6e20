#include "UserDialogs.h"

#include "HexFileChoice.h"
#include "Texts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

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
    QFileDialog dialog(m_owner, request.title, request.initialFolder);
    // Qt's own dialog: the same behaviour on every desktop, and the filter
    // names shown without their patterns.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(request));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
