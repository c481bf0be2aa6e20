// The command line as the program got it, as the bytes of HexFile's file
// names: a file name that is not valid UTF-8 (POSIX) or that the ANSI code
// page cannot spell (Windows) must still open.
#pragma once

#include "HexFile.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

class RawArguments {
public:
    // encoded: one entry per argument, the program's name first (programArguments()).
    explicit RawArguments(const QList<QByteArray> &encoded) : m_raw(encoded)
    {
        for (const QByteArray &argument : encoded)
            m_decoded.append(HexFile::decodeName(argument));
    }
    QStringList decoded() const { return m_decoded; }
    // False when the argument that gave this value (alone, or as --option=value)
    // holds bytes that do not survive decoding: a device opened by the decoded
    // text would be another one, or none.
    bool keptWhole(const QString &value) const
    {
        for (qsizetype i = 0; i < m_raw.size(); ++i) {
            const QString &argument = m_decoded.at(i);
            const bool gave = argument == value || argument.endsWith(QLatin1Char('=') + value);
            if (gave && HexFile::encodeName(argument) != m_raw.at(i))
                return false;
        }
        return true;
    }
    // The bytes behind a positional argument (its last occurrence).
    QByteArray raw(const QString &decoded) const
    {
        const qsizetype i = m_decoded.lastIndexOf(decoded);
        return i >= 0 ? m_raw.at(i) : HexFile::encodeName(decoded);
    }

private:
    QList<QByteArray> m_raw;
    QStringList m_decoded;
};
