// The file an update writes, read and checked once however many kits receive it.
#pragma once

#include "HexFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <optional>

class SharedFirmware {
public:
    // encodedPath: the file's name as typed (its bytes, so that any name opens).
    explicit SharedFirmware(const QByteArray &encodedPath) : m_path(encodedPath) {}

    // Throws HexFileError, the same one for every kit, when the file cannot be used.
    HexImage load()
    {
        if (!m_image && !m_error) {
            try {
                m_image = HexFile::readEncoded(m_path);
            } catch (const HexFileError &error) {
                m_error = error;
            }
        }
        if (m_error)
            throw *m_error;
        return *m_image;
    }
    QString sha256() const { return m_image ? QString::fromStdString(m_image->sha256) : QString(); }
    // As the system shows paths: C:\Users\... on Windows.
    QString absolutePath() const
    {
        return QDir::toNativeSeparators(QFileInfo(HexFile::decodeName(m_path)).absoluteFilePath());
    }

private:
    QByteArray m_path;
    std::optional<HexImage> m_image;
    std::optional<HexFileError> m_error;
};
