#include "FolderNames.h"

#include <QFile>
#include <dirent.h>
#include <memory>

QStringList undecodableNames(const QString &folder)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(QFile::encodeName(folder).constData()), ::closedir);
    QStringList names;
    if (!dir)
        return names; // a folder that cannot be read has nothing to name
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (QFile::encodeName(QFile::decodeName(name)) != name)
            names.append(folder + QLatin1Char('/') + QFile::decodeName(name));
    }
    return names;
}
