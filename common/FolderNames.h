// What a folder listing through Qt cannot show: Qt leaves out names that are
// not valid in the file-name encoding (UTF-8 here), so a by-id link named
// with such bytes would vanish without a word. One file per platform family.
#pragma once

#include <QStringList>

// The entries of folder whose names do not survive decoding, each shown as a
// path with U+FFFD in place of the bytes that cannot be decoded.
QStringList undecodableNames(const QString &folder);
